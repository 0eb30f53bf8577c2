#include "platform/http.h"

#include <cmath>
#include <curl/curl.h>

namespace mivora::platform {

namespace {

struct Global {
    Global() { curl_global_init(CURL_GLOBAL_DEFAULT); }
};

struct Sink {
    std::string* body;
    size_t limit;
    bool overflow = false;
};

size_t writeBody(char* data, size_t size, size_t count, void* user) {
    auto* sink = static_cast<Sink*>(user);
    size_t bytes = size * count;
    if (sink->limit > 0 && sink->body->size() + bytes > sink->limit) {
        sink->overflow = true;
        return 0; // aborts the transfer
    }
    sink->body->append(data, bytes);
    return bytes;
}

long seconds(double value) { return value <= 0 ? 0 : static_cast<long>(std::ceil(value)); }

} // namespace

struct HttpSession::Handle {
    CURL* curl = nullptr;
    ~Handle() {
        if (curl) curl_easy_cleanup(curl);
    }
};

HttpSession::HttpSession(HttpSessionConfiguration configuration)
    : configuration_(configuration), handle_(std::make_unique<Handle>()) {}

HttpSession::~HttpSession() = default;

HttpResponse HttpSession::send(const HttpRequest& request) {
    static Global global;
    if (!handle_->curl) handle_->curl = curl_easy_init();
    CURL* curl = handle_->curl;
    if (!curl) throw HttpTransportError("The network layer could not be started.");
    curl_easy_reset(curl);

    HttpResponse response;
    Sink sink{&response.body, configuration_.maximumBodyBytes};
    char errorText[CURL_ERROR_SIZE] = {0};
    curl_easy_setopt(curl, CURLOPT_URL, request.url.c_str());
    curl_easy_setopt(curl, CURLOPT_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(curl, CURLOPT_REDIR_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(curl, CURLOPT_FOLLOWLOCATION, 1L);
    curl_easy_setopt(curl, CURLOPT_MAXREDIRS, 10L);
    curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(curl, CURLOPT_ACCEPT_ENCODING, "");
    curl_easy_setopt(curl, CURLOPT_ERRORBUFFER, errorText);
    curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, writeBody);
    curl_easy_setopt(curl, CURLOPT_WRITEDATA, &sink);
    curl_easy_setopt(curl, CURLOPT_USERAGENT, "mivora");

    long request_ = seconds(configuration_.requestTimeoutSeconds);
    curl_easy_setopt(curl, CURLOPT_CONNECTTIMEOUT, request_);
    curl_easy_setopt(curl, CURLOPT_LOW_SPEED_LIMIT, 1L);
    curl_easy_setopt(curl, CURLOPT_LOW_SPEED_TIME, request_);
    double total = configuration_.resourceTimeoutSeconds;
    if (request.timeoutSeconds > 0 && request.timeoutSeconds < total) total = request.timeoutSeconds;
    curl_easy_setopt(curl, CURLOPT_TIMEOUT, seconds(total));
    if (configuration_.maximumBodyBytes > 0)
        curl_easy_setopt(curl, CURLOPT_MAXFILESIZE_LARGE, static_cast<curl_off_t>(configuration_.maximumBodyBytes));

    struct curl_slist* headers = nullptr;
    for (const auto& [name, value] : request.headers) headers = curl_slist_append(headers, (name + ": " + value).c_str());
    // No "Expect: 100-continue" pause before a body.
    headers = curl_slist_append(headers, "Expect:");
    curl_easy_setopt(curl, CURLOPT_HTTPHEADER, headers);
    if (request.method == "GET") {
        curl_easy_setopt(curl, CURLOPT_HTTPGET, 1L);
    } else {
        curl_easy_setopt(curl, CURLOPT_CUSTOMREQUEST, request.method.c_str());
    }
    if (request.body) {
        curl_easy_setopt(curl, CURLOPT_POSTFIELDS, request.body->data());
        curl_easy_setopt(curl, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(request.body->size()));
    }

    CURLcode code = curl_easy_perform(curl);
    curl_slist_free_all(headers);
    curl_easy_setopt(curl, CURLOPT_ERRORBUFFER, nullptr);
    if (code == CURLE_UNSUPPORTED_PROTOCOL) return HttpResponse{}; // not an HTTP response
    if (sink.overflow || code == CURLE_FILESIZE_EXCEEDED) {
        throw HttpBodyTooLargeError("The response is larger than " +
                                    std::to_string(configuration_.maximumBodyBytes / (1024 * 1024)) + " MB.");
    }
    if (code == CURLE_OPERATION_TIMEDOUT) throw HttpTransportError("The request timed out.");
    if (code != CURLE_OK) {
        std::string reason = errorText[0] ? errorText : curl_easy_strerror(code);
        throw HttpTransportError(reason);
    }
    response.isHTTP = true;
    curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &response.status);
    return response;
}

bool isValidURL(const std::string& text) {
    CURLU* url = curl_url();
    CURLUcode code = curl_url_set(url, CURLUPART_URL, text.c_str(), CURLU_NON_SUPPORT_SCHEME);
    curl_url_cleanup(url);
    return code == CURLUE_OK;
}

std::string urlPath(const std::string& text) {
    CURLU* url = curl_url();
    std::string result;
    if (curl_url_set(url, CURLUPART_URL, text.c_str(), CURLU_NON_SUPPORT_SCHEME) == CURLUE_OK) {
        char* path = nullptr;
        if (curl_url_get(url, CURLUPART_PATH, &path, 0) == CURLUE_OK && path) result = path;
        curl_free(path);
    }
    curl_url_cleanup(url);
    return result;
}

std::optional<std::string> percentDecoded(const std::string& text) {
    std::string result;
    result.reserve(text.size());
    auto hex = [](char c) -> int {
        if (c >= '0' && c <= '9') return c - '0';
        if (c >= 'a' && c <= 'f') return c - 'a' + 10;
        if (c >= 'A' && c <= 'F') return c - 'A' + 10;
        return -1;
    };
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '%') {
            result += text[i];
            continue;
        }
        if (i + 2 >= text.size()) return std::nullopt;
        int high = hex(text[i + 1]), low = hex(text[i + 2]);
        if (high < 0 || low < 0) return std::nullopt;
        result += static_cast<char>(high * 16 + low);
        i += 2;
    }
    return result;
}

} // namespace mivora::platform
