#include "platform/http.h"

#include <algorithm>
#include <cmath>
#include <curl/curl.h>
#include <dlfcn.h>

namespace mivora::platform {

namespace {

// libcurl is loaded on first use: linking it would make every start of the
// tool pay for loading it and its dozen TLS and protocol libraries, while
// most commands never speak HTTP.
struct Curl {
    decltype(&curl_global_init) global_init = nullptr;
    decltype(&curl_easy_init) easy_init = nullptr;
    decltype(&curl_easy_cleanup) easy_cleanup = nullptr;
    decltype(&curl_easy_reset) easy_reset = nullptr;
    decltype(&curl_easy_setopt) easy_setopt = nullptr;
    decltype(&curl_easy_perform) easy_perform = nullptr;
    decltype(&curl_easy_getinfo) easy_getinfo = nullptr;
    decltype(&curl_easy_strerror) easy_strerror = nullptr;
    decltype(&curl_slist_append) slist_append = nullptr;
    decltype(&curl_slist_free_all) slist_free_all = nullptr;
    decltype(&curl_url) url = nullptr;
    decltype(&curl_url_set) url_set = nullptr;
    decltype(&curl_url_get) url_get = nullptr;
    decltype(&curl_url_cleanup) url_cleanup = nullptr;
    decltype(&curl_free) free = nullptr;
    bool loaded = false;
};

template <class Function> bool bind(void* library, const char* name, Function& slot) {
    slot = reinterpret_cast<Function>(::dlsym(library, name));
    return slot != nullptr;
}

const Curl& curlLibrary() {
    static const Curl library = [] {
        Curl c;
        void* handle = ::dlopen("libcurl.so.4", RTLD_NOW | RTLD_LOCAL);
        if (!handle) return c;
        c.loaded = bind(handle, "curl_global_init", c.global_init) &&
                   bind(handle, "curl_easy_init", c.easy_init) &&
                   bind(handle, "curl_easy_cleanup", c.easy_cleanup) &&
                   bind(handle, "curl_easy_reset", c.easy_reset) &&
                   bind(handle, "curl_easy_setopt", c.easy_setopt) &&
                   bind(handle, "curl_easy_perform", c.easy_perform) &&
                   bind(handle, "curl_easy_getinfo", c.easy_getinfo) &&
                   bind(handle, "curl_easy_strerror", c.easy_strerror) &&
                   bind(handle, "curl_slist_append", c.slist_append) &&
                   bind(handle, "curl_slist_free_all", c.slist_free_all) && bind(handle, "curl_url", c.url) &&
                   bind(handle, "curl_url_set", c.url_set) && bind(handle, "curl_url_get", c.url_get) &&
                   bind(handle, "curl_url_cleanup", c.url_cleanup) && bind(handle, "curl_free", c.free);
        if (c.loaded) c.global_init(CURL_GLOBAL_DEFAULT);
        return c;
    }();
    return library;
}

const Curl& requireCurl() {
    const Curl& c = curlLibrary();
    if (!c.loaded) throw HttpTransportError("The network library libcurl.so.4 could not be loaded.");
    return c;
}

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

// The user-facing text of a transport failure, in the platform's words where
// there is one, else libcurl's own detail.
std::string transportErrorDescription(CURLcode code, const char* detail, const Curl& c) {
    switch (code) {
    case CURLE_OPERATION_TIMEDOUT:
        return "The request timed out.";
    case CURLE_COULDNT_RESOLVE_HOST:
    case CURLE_COULDNT_RESOLVE_PROXY:
        return "A server with the specified hostname could not be found.";
    case CURLE_COULDNT_CONNECT:
        return "Could not connect to the server.";
    case CURLE_SSL_CONNECT_ERROR:
    case CURLE_PEER_FAILED_VERIFICATION:
    case CURLE_SSL_CERTPROBLEM:
    case CURLE_SSL_CACERT_BADFILE:
        return "An SSL error has occurred and a secure connection to the server cannot be made.";
    case CURLE_GOT_NOTHING:
    case CURLE_RECV_ERROR:
    case CURLE_SEND_ERROR:
    case CURLE_PARTIAL_FILE:
        return "The network connection was lost.";
    case CURLE_TOO_MANY_REDIRECTS:
        return "Too many HTTP redirects.";
    default:
        return detail && detail[0] ? detail : c.easy_strerror(code);
    }
}

using Clock = std::chrono::steady_clock;

// Methods that only read, which a client may send again without asking.
bool isSafeMethod(const std::string& method) {
    return method == "GET" || method == "HEAD";
}

long milliseconds(double seconds) {
    if (!(seconds > 0)) return 1; // 0 would mean "no limit" to libcurl
    return static_cast<long>(std::min(std::ceil(seconds * 1000), 2.0e9));
}

// Idle tracking: libcurl's own low-speed check averages over a window, which
// ends slow but steady transfers early and lets a stalled upload run on.
struct Activity {
    Clock::time_point last = Clock::now();
    Clock::duration idleLimit{};
    curl_off_t received = 0;
    curl_off_t sent = 0;
    bool idleExpired = false;
};

int checkActivity(void* user, curl_off_t, curl_off_t receivedNow, curl_off_t, curl_off_t sentNow) {
    auto* activity = static_cast<Activity*>(user);
    auto now = Clock::now();
    if (receivedNow != activity->received || sentNow != activity->sent) {
        activity->received = receivedNow;
        activity->sent = sentNow;
        activity->last = now;
    } else if (now - activity->last >= activity->idleLimit) {
        activity->idleExpired = true;
        return 1; // aborts the transfer
    }
    return 0;
}

size_t noteHeader(char*, size_t size, size_t count, void* user) {
    static_cast<Activity*>(user)->last = Clock::now();
    return size * count;
}

} // namespace

struct HttpSession::Handle {
    CURL* curl = nullptr;
    ~Handle() {
        if (curl) curlLibrary().easy_cleanup(curl);
    }
};

HttpSession::HttpSession(HttpSessionConfiguration configuration)
    : configuration_(configuration), handle_(std::make_unique<Handle>()) {}

HttpSession::~HttpSession() = default;

HttpResponse HttpSession::send(const HttpRequest& request) {
    const Curl& c = requireCurl();
    if (!handle_->curl) handle_->curl = c.easy_init();
    CURL* curl = handle_->curl;
    if (!curl) throw HttpTransportError("The network layer could not be started.");
    c.easy_reset(curl);

    HttpResponse response;
    Sink sink{&response.body, configuration_.maximumBodyBytes};
    char errorText[CURL_ERROR_SIZE] = {0};
    c.easy_setopt(curl, CURLOPT_URL, request.url.c_str());
    // The path goes out as we built it: "/../" is never folded into the path before it.
    c.easy_setopt(curl, CURLOPT_PATH_AS_IS, 1L);
    c.easy_setopt(curl, CURLOPT_PROTOCOLS_STR, "http,https");
    c.easy_setopt(curl, CURLOPT_REDIR_PROTOCOLS_STR, "http,https");
    c.easy_setopt(curl, CURLOPT_FOLLOWLOCATION, 1L);
    c.easy_setopt(curl, CURLOPT_MAXREDIRS, 10L);
    c.easy_setopt(curl, CURLOPT_NOSIGNAL, 1L);
    c.easy_setopt(curl, CURLOPT_ACCEPT_ENCODING, "");
    c.easy_setopt(curl, CURLOPT_ERRORBUFFER, errorText);
    c.easy_setopt(curl, CURLOPT_WRITEFUNCTION, writeBody);
    c.easy_setopt(curl, CURLOPT_WRITEDATA, &sink);
    c.easy_setopt(curl, CURLOPT_USERAGENT, "mivora");

    double idle = configuration_.requestTimeoutSeconds;
    if (request.timeoutSeconds > 0 && request.timeoutSeconds < idle) idle = request.timeoutSeconds;
    double total = configuration_.resourceTimeoutSeconds;
    if (request.deadline) {
        double remaining = std::chrono::duration<double>(*request.deadline - Clock::now()).count();
        if (remaining <= 0)
            throw HttpTransportError(transportErrorDescription(CURLE_OPERATION_TIMEDOUT, "", c));
        total = std::min(total, remaining);
    }
    Activity activity;
    activity.idleLimit = std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(idle));
    c.easy_setopt(curl, CURLOPT_CONNECTTIMEOUT_MS, milliseconds(idle));
    c.easy_setopt(curl, CURLOPT_TIMEOUT_MS, milliseconds(total));
    c.easy_setopt(curl, CURLOPT_NOPROGRESS, 0L);
    c.easy_setopt(curl, CURLOPT_XFERINFOFUNCTION, checkActivity);
    c.easy_setopt(curl, CURLOPT_XFERINFODATA, &activity);
    c.easy_setopt(curl, CURLOPT_HEADERFUNCTION, noteHeader);
    c.easy_setopt(curl, CURLOPT_HEADERDATA, &activity);
    if (configuration_.maximumBodyBytes > 0)
        c.easy_setopt(curl, CURLOPT_MAXFILESIZE_LARGE,
                      static_cast<curl_off_t>(configuration_.maximumBodyBytes));

    // A POST or PUT without a body still says so (Content-Length: 0): servers
    // may otherwise wait for one, or refuse the request.
    const bool emptyUpload = !request.body && (request.method == "POST" || request.method == "PUT");
    struct curl_slist* headers = nullptr;
    for (const auto& [name, value] : request.headers)
        headers = c.slist_append(headers, (name + ": " + value).c_str());
    // ...and carries no form content type of curl's own.
    if (emptyUpload && !request.headers.contains("Content-Type"))
        headers = c.slist_append(headers, "Content-Type:");
    // No "Expect: 100-continue" pause before a body.
    headers = c.slist_append(headers, "Expect:");
    c.easy_setopt(curl, CURLOPT_HTTPHEADER, headers);
    if (request.method == "GET") {
        c.easy_setopt(curl, CURLOPT_HTTPGET, 1L);
    } else {
        c.easy_setopt(curl, CURLOPT_CUSTOMREQUEST, request.method.c_str());
    }
    // libcurl sends a request again, on a new connection, when a reused one closes
    // before any answer: the server may have acted on the first. A request that may
    // change something goes out once, on a connection of its own, where that never
    // happens; a GET may be repeated, as nothing changes by it.
    if (!isSafeMethod(request.method)) c.easy_setopt(curl, CURLOPT_FRESH_CONNECT, 1L);
    if (request.body) {
        c.easy_setopt(curl, CURLOPT_POSTFIELDS, request.body->data());
        c.easy_setopt(curl, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(request.body->size()));
    } else if (emptyUpload) {
        c.easy_setopt(curl, CURLOPT_POSTFIELDS, "");
        c.easy_setopt(curl, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(0));
    }

    CURLcode code = c.easy_perform(curl);
    if (code == CURLE_ABORTED_BY_CALLBACK && activity.idleExpired) code = CURLE_OPERATION_TIMEDOUT;
    c.slist_free_all(headers);
    c.easy_setopt(curl, CURLOPT_ERRORBUFFER, nullptr);
    if (code == CURLE_UNSUPPORTED_PROTOCOL) return HttpResponse{}; // not an HTTP response
    if (sink.overflow || code == CURLE_FILESIZE_EXCEEDED) {
        throw HttpBodyTooLargeError("The response is larger than " +
                                    std::to_string(configuration_.maximumBodyBytes / (1024 * 1024)) + " MB.");
    }
    if (code != CURLE_OK) throw HttpTransportError(transportErrorDescription(code, errorText, c));
    response.isHTTP = true;
    c.easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &response.status);
    return response;
}

bool isValidURL(const std::string& text) {
    const Curl& c = requireCurl();
    CURLU* url = c.url();
    CURLUcode code = c.url_set(url, CURLUPART_URL, text.c_str(), CURLU_NON_SUPPORT_SCHEME);
    c.url_cleanup(url);
    return code == CURLUE_OK;
}

std::string urlPath(const std::string& text) {
    const Curl& c = requireCurl();
    CURLU* url = c.url();
    std::string result;
    if (c.url_set(url, CURLUPART_URL, text.c_str(), CURLU_NON_SUPPORT_SCHEME) == CURLUE_OK) {
        char* path = nullptr;
        if (c.url_get(url, CURLUPART_PATH, &path, 0) == CURLUE_OK && path) result = path;
        c.free(path);
    }
    c.url_cleanup(url);
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

std::string percentEncodedPathSegment(std::string_view text) {
    if (text == "." || text == "..") return percentEncoded(text, "");
    return percentEncoded(text, "!$&'()*+,-.:=@_~");
}

std::string percentEncoded(std::string_view text, std::string_view allowedPunctuation) {
    static constexpr char kHex[] = "0123456789ABCDEF";
    std::string result;
    result.reserve(text.size());
    for (char c : text) {
        auto byte = static_cast<unsigned char>(c);
        bool alphanumeric =
            (byte >= 'a' && byte <= 'z') || (byte >= 'A' && byte <= 'Z') || (byte >= '0' && byte <= '9');
        if (alphanumeric || (byte != 0 && allowedPunctuation.find(c) != std::string_view::npos)) {
            result += c;
        } else {
            result += '%';
            result += kHex[byte >> 4];
            result += kHex[byte & 0x0F];
        }
    }
    return result;
}

} // namespace mivora::platform
