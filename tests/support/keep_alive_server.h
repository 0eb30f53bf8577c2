// A local HTTP/1.1 server that keeps its connections open between requests (the
// CatalogServer closes each after one answer) and can close one after a request
// has arrived, without answering it: the moment at which a client may be
// tempted to send the request again on a new connection. Every arrival is logged
// with the connection it came on.
#pragma once

#include "support/catalog_server.h"

#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace mivora::testing {

struct ArrivedRequest {
    std::string method;
    std::string path; // without the query
    std::string body;
    int connection = 0; // 1 for the first connection accepted, and so on
    int ordinal = 0;    // 1 for the first request on its connection
};

// What the server does with a request that arrived.
struct KeptAnswer {
    enum class Close {
        never,              // answer, and keep the connection open
        onReusedConnection, // close without an answer unless it is the connection's first request
        always,             // close without an answer
    };
    ScriptedResponse response;
    Close close = Close::never;
};

class KeepAliveServer {
public:
    KeepAliveServer();
    ~KeepAliveServer();
    KeepAliveServer(const KeepAliveServer&) = delete;
    KeepAliveServer& operator=(const KeepAliveServer&) = delete;

    // "http://127.0.0.1:<port>" followed by `path`.
    std::string url(const std::string& path = "") const;

    // Answers `method path`; any other request gets a 404 with a JSON message.
    void route(const std::string& method, const std::string& path, KeptAnswer answer);
    void route(const std::string& method, const std::string& path,
               std::function<KeptAnswer(const ArrivedRequest&)> handler);

    std::vector<ArrivedRequest> requests() const;
    // How many times `method path` arrived.
    size_t arrivals(const std::string& method, const std::string& path) const;

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

} // namespace mivora::testing
