// A local catalog service for tests: an HTTP server on 127.0.0.1 at a free port,
// run on a thread of the test process, with scripted routes and a request log.
#pragma once

#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace mivora::testing {

struct ScriptedResponse {
    int status = 200;
    std::string body;
    std::string contentType = "application/json";
    std::map<std::string, std::string> headers;
    // drip: the body one byte at a time, `dripSeconds` before each.
    enum class Behaviour { normal, stall, closeMidBody, drip } behaviour = Behaviour::normal;
    double headerDelaySeconds = 0; // a pause before the status line and headers
    double dripSeconds = 0;
};

struct LoggedRequest {
    std::string method;
    std::string path;   // without the query, percent escapes decoded
    std::string target; // as sent: the path with its percent escapes, and the query
    std::string query;  // raw, without "?"
    std::map<std::string, std::string> headers;
    std::string body;
};

class CatalogServer {
public:
    CatalogServer();
    ~CatalogServer();
    CatalogServer(const CatalogServer&) = delete;
    CatalogServer& operator=(const CatalogServer&) = delete;

    int port() const { return port_; }
    // "http://127.0.0.1:<port>" followed by `path`.
    std::string url(const std::string& path = "") const;

    // Answers `method path` (path without query) with a fixed response, or through a function.
    void route(const std::string& method, const std::string& path, ScriptedResponse response);
    void route(const std::string& method, const std::string& path,
               std::function<ScriptedResponse(const LoggedRequest&)> handler);

    std::vector<LoggedRequest> requests() const;

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
    int port_ = 0;
};

} // namespace mivora::testing
