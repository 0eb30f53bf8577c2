// HTTP over libcurl, standing in for the platform's URL sessions: a session
// holds one reusable handle with its time-outs; only http and https are
// spoken, so another scheme yields a response that is not HTTP (status 0),
// never a local read.
#pragma once

#include <chrono>
#include <cstddef>
#include <map>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>

namespace mivora::platform {

// A transport failure (no connection, time-out); what() is the reason.
class HttpTransportError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// The body grew beyond the session's limit.
class HttpBodyTooLargeError : public HttpTransportError {
public:
    using HttpTransportError::HttpTransportError;
};

struct HttpRequest {
    std::string method = "GET";
    std::string url;
    std::map<std::string, std::string> headers;
    std::optional<std::string> body;
    // The request's own idle limit; the shorter of it and the session's applies. 0: the session's.
    double timeoutSeconds = 0;
    // A caller's bound on the whole transfer, on top of the session's resource limit.
    std::optional<std::chrono::steady_clock::time_point> deadline;
};

struct HttpResponse {
    bool isHTTP = false; // false for an address whose scheme is not http or https
    long status = 0;
    std::string body;
};

// The platform's meaning of the two limits: the request limit is an idle limit,
// restarted whenever any data moves in either direction (headers included, and
// the connection counts as idle); the resource limit bounds the whole transfer.
struct HttpSessionConfiguration {
    double requestTimeoutSeconds = 60;      // longest stretch without data moving
    double resourceTimeoutSeconds = 604800; // the whole transfer
    size_t maximumBodyBytes = 0;            // 0: no limit
};

class HttpSession {
public:
    explicit HttpSession(HttpSessionConfiguration configuration);
    ~HttpSession();
    HttpSession(const HttpSession&) = delete;
    HttpSession& operator=(const HttpSession&) = delete;

    // Throws HttpTransportError. A request other than GET or HEAD (POST, PUT,
    // DELETE) is sent at most once: a connection lost before its answer is a
    // transport failure, never a second sending; a GET may be sent again on a
    // fresh connection when a reused one turns out to be closed.
    HttpResponse send(const HttpRequest& request);

private:
    struct Handle;
    HttpSessionConfiguration configuration_;
    std::unique_ptr<Handle> handle_;
};

// True when the text parses as an absolute URL (scheme and the rest).
bool isValidURL(const std::string& text);
// The path of a URL (percent escapes kept), without query or fragment; "" when it has none.
std::string urlPath(const std::string& url);
// Percent escapes decoded; nothing when an escape is malformed.
std::optional<std::string> percentDecoded(const std::string& text);
// The punctuation the platform leaves unescaped in a URL query (besides ASCII
// letters and digits).
inline constexpr std::string_view kURLQueryAllowedPunctuation = "!$&'()*+,-./:;=?@_~";
// Every byte other than an ASCII letter, a digit or one of `allowedPunctuation`
// written as %XX with upper-case hex digits (UTF-8 bytes one by one).
std::string percentEncoded(std::string_view text, std::string_view allowedPunctuation);
// Text as exactly one URL path segment, for every piece of data the client puts
// into a path (slugs, keys, ids): everything but ASCII letters, digits and
// "!$&'()*+,-.:=@_~" is percent-encoded ("/", ";", "?", "#" and "%" included),
// and a segment that is only dots ("." or "..") is encoded whole, so that no
// server or library reads it as a step up the path.
std::string percentEncodedPathSegment(std::string_view text);

} // namespace mivora::platform
