// The two session limits with the platform's meaning, against local servers that
// stall and drip: the request limit is an idle limit, the resource limit bounds
// the whole transfer. Short limits keep the cases quick.
#include "catalog/catalog_api.h"
#include "platform/http.h"
#include "support/catalog_server.h"

#include <arpa/inet.h>
#include <chrono>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <string>
#include <sys/socket.h>
#include <unistd.h>

namespace mivora::platform {
namespace {

using testing::CatalogServer;
using testing::ScriptedResponse;
using Clock = std::chrono::steady_clock;

struct Outcome {
    std::string result; // the body, or the transport error's text
    double seconds = 0;
};

Outcome send(HttpSession& session, HttpRequest request) {
    auto start = Clock::now();
    Outcome outcome;
    try {
        outcome.result = session.send(request).body;
    } catch (const HttpTransportError& error) {
        outcome.result = error.what();
    }
    outcome.seconds = std::chrono::duration<double>(Clock::now() - start).count();
    return outcome;
}

HttpRequest get(const std::string& url) {
    HttpRequest request;
    request.url = url;
    return request;
}

TEST(HttpTimeLimits, TheRequestLimitRestartsWheneverDataMoves) {
    CatalogServer server;
    // Headers and then each byte come inside the idle limit, the whole well past it.
    server.route("GET", "/late",
                 ScriptedResponse{.body = "ab",
                                  .behaviour = ScriptedResponse::Behaviour::drip,
                                  .headerDelaySeconds = 1.2,
                                  .dripSeconds = 1.2});
    // Slower than one byte a second, which an average-speed check would have cut off.
    server.route(
        "GET", "/slow",
        ScriptedResponse{.body = "xyz", .behaviour = ScriptedResponse::Behaviour::drip, .dripSeconds = 1.4});
    HttpSession session({.requestTimeoutSeconds = 2, .resourceTimeoutSeconds = 10});
    auto late = send(session, get(server.url("/late")));
    EXPECT_EQ(late.result, "ab");
    EXPECT_GT(late.seconds, 3.0);
    auto slow = send(session, get(server.url("/slow")));
    EXPECT_EQ(slow.result, "xyz");
}

TEST(HttpTimeLimits, SilenceEndsTheRequestAtItsIdleLimit) {
    CatalogServer server;
    server.route("GET", "/stall",
                 ScriptedResponse{.body = "x", .behaviour = ScriptedResponse::Behaviour::stall});
    server.route("POST", "/mute", ScriptedResponse{.body = "{}", .headerDelaySeconds = 30});
    HttpSession session({.requestTimeoutSeconds = 1.5, .resourceTimeoutSeconds = 30});
    HttpRequest post = get(server.url("/mute"));
    post.method = "POST";
    post.body = std::string(2000, 'b');
    for (const auto& request : {get(server.url("/stall")), post}) {
        auto outcome = send(session, request);
        EXPECT_EQ(outcome.result, "The request timed out.") << request.url;
        EXPECT_GT(outcome.seconds, 1.4) << request.url;
        EXPECT_LT(outcome.seconds, 3.5) << request.url;
    }
    // The request's own limit applies when it is the shorter one.
    HttpSession lenient({.requestTimeoutSeconds = 30, .resourceTimeoutSeconds = 60});
    HttpRequest own = get(server.url("/stall"));
    own.timeoutSeconds = 1.5;
    auto outcome = send(lenient, own);
    EXPECT_EQ(outcome.result, "The request timed out.");
    EXPECT_LT(outcome.seconds, 3.5);
}

// A peer that accepts connections (through the kernel's backlog) and never reads.
class DeafPeer {
public:
    DeafPeer() {
        fd_ = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        ::bind(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address);
        ::listen(fd_, 4);
        socklen_t length = sizeof address;
        ::getsockname(fd_, reinterpret_cast<sockaddr*>(&address), &length);
        port_ = ntohs(address.sin_port);
    }
    ~DeafPeer() { ::close(fd_); }
    DeafPeer(const DeafPeer&) = delete;
    DeafPeer& operator=(const DeafPeer&) = delete;
    std::string url() const { return "http://127.0.0.1:" + std::to_string(port_) + "/upload"; }

private:
    int fd_ = -1;
    int port_ = 0;
};

TEST(HttpTimeLimits, AnUploadThatStopsMovingEndsAtTheIdleLimit) {
    DeafPeer peer;
    HttpSession session({.requestTimeoutSeconds = 1.5, .resourceTimeoutSeconds = 30});
    HttpRequest put = get(peer.url());
    put.method = "PUT";
    put.body = std::string(64 * 1024 * 1024, 'u'); // far more than the socket buffers hold
    auto outcome = send(session, put);
    EXPECT_EQ(outcome.result, "The request timed out.");
    EXPECT_GT(outcome.seconds, 1.4);
    EXPECT_LT(outcome.seconds, 3.5);
}

TEST(HttpTimeLimits, TheResourceLimitBoundsATransferThatKeepsMoving) {
    CatalogServer server;
    server.route("GET", "/drip",
                 ScriptedResponse{.body = std::string(100, 'd'),
                                  .behaviour = ScriptedResponse::Behaviour::drip,
                                  .dripSeconds = 0.3});
    HttpSession session({.requestTimeoutSeconds = 2, .resourceTimeoutSeconds = 3});
    auto outcome = send(session, get(server.url("/drip")));
    EXPECT_EQ(outcome.result, "The request timed out.");
    EXPECT_GT(outcome.seconds, 2.9);
    EXPECT_LT(outcome.seconds, 4.5);
}

} // namespace
} // namespace mivora::platform

namespace mivora::catalog {
namespace {

// Each page answers inside every per-request limit; the search as a whole does not.
TEST(CatalogSearch, TheWholeSearchEndsAtItsDeadline) {
    testing::CatalogServer server;
    ::setenv("MIVORA_API_BASE_URL", server.url("/api").c_str(), 1);
    std::string page =
        R"({"totalPages": 10, "hits": [{"appName": "Notion", "icnsUrl": "a", "lowResPngUrl": "b"}]})";
    server.route("POST", "/api/search", testing::ScriptedResponse{.body = page, .headerDelaySeconds = 0.5});
    auto start = std::chrono::steady_clock::now();
    std::string failure;
    try {
        CatalogAPI::searchAllPages("Notion", false, start + std::chrono::milliseconds(1800));
    } catch (const platform::HttpTransportError& error) {
        failure = error.what();
    }
    double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    EXPECT_EQ(failure, "The request timed out.");
    EXPECT_LT(seconds, 3.0);
    EXPECT_LT(server.requests().size(), 6u);
    ::unsetenv("MIVORA_API_BASE_URL");
}

} // namespace
} // namespace mivora::catalog
