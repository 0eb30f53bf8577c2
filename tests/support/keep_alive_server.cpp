#include "support/keep_alive_server.h"

#include <arpa/inet.h>
#include <atomic>
#include <cctype>
#include <map>
#include <mutex>
#include <netinet/in.h>
#include <poll.h>
#include <stdexcept>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

namespace mivora::testing {

struct KeepAliveServer::Impl {
    int listener = -1;
    int port = 0;
    std::atomic<bool> stopping{false};
    std::thread acceptor;
    mutable std::mutex mutex;
    std::vector<std::thread> connections;
    std::vector<int> sockets;
    std::map<std::string, std::function<KeptAnswer(const ArrivedRequest&)>> routes;
    std::vector<ArrivedRequest> log;
    int accepted = 0;

    // Waits for `fd` to be readable in short steps, so that stopping is never held up.
    bool readable(int fd) const {
        while (!stopping) {
            pollfd item{fd, POLLIN, 0};
            int ready = ::poll(&item, 1, 20);
            if (ready > 0) return true;
            if (ready < 0 && errno != EINTR) return false;
        }
        return false;
    }

    // Reads one request into `request`; false when the connection ended first.
    bool readRequest(int fd, std::string& pending, ArrivedRequest& request) const {
        size_t end;
        while ((end = pending.find("\r\n\r\n")) == std::string::npos) {
            if (!receive(fd, pending)) return false;
        }
        const std::string head = pending.substr(0, end);
        pending.erase(0, end + 4);
        const size_t space = head.find(' ');
        const size_t second = head.find(' ', space + 1);
        if (space == std::string::npos || second == std::string::npos) return false;
        request.method = head.substr(0, space);
        request.path = head.substr(space + 1, second - space - 1);
        request.path = request.path.substr(0, request.path.find('?'));
        size_t length = 0;
        for (size_t at = head.find("\r\n"); at != std::string::npos; at = head.find("\r\n", at + 2)) {
            std::string line = head.substr(at + 2, head.find("\r\n", at + 2) - at - 2);
            for (size_t i = 0; i < line.size() && line[i] != ':'; ++i)
                line[i] = static_cast<char>(std::tolower(static_cast<unsigned char>(line[i])));
            if (line.rfind("content-length:", 0) == 0) length = std::stoul(line.substr(15));
        }
        while (pending.size() < length) {
            if (!receive(fd, pending)) return false;
        }
        request.body = pending.substr(0, length);
        pending.erase(0, length);
        return true;
    }

    bool receive(int fd, std::string& pending) const {
        if (!readable(fd)) return false;
        char buffer[65536];
        ssize_t got = ::recv(fd, buffer, sizeof buffer, 0);
        if (got <= 0) return false;
        pending.append(buffer, static_cast<size_t>(got));
        return true;
    }

    static void sendAll(int fd, const std::string& bytes) {
        size_t sent = 0;
        while (sent < bytes.size()) {
            ssize_t n = ::send(fd, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
            if (n <= 0) return;
            sent += static_cast<size_t>(n);
        }
    }

    void serve(int fd, int connection) {
        std::string pending;
        for (int ordinal = 1;; ++ordinal) {
            ArrivedRequest request;
            if (!readRequest(fd, pending, request)) break;
            request.connection = connection;
            request.ordinal = ordinal;
            std::function<KeptAnswer(const ArrivedRequest&)> handler;
            {
                std::lock_guard<std::mutex> lock(mutex);
                log.push_back(request);
                auto it = routes.find(request.method + " " + request.path);
                if (it != routes.end()) handler = it->second;
            }
            KeptAnswer answer =
                handler ? handler(request) : KeptAnswer{ScriptedResponse{404, R"({"message":"no route"})"}};
            if (answer.close == KeptAnswer::Close::always ||
                (answer.close == KeptAnswer::Close::onReusedConnection && ordinal > 1))
                break;
            const ScriptedResponse& response = answer.response;
            std::string bytes = "HTTP/1.1 " + std::to_string(response.status) + " Answer\r\n" +
                                "Content-Type: " + response.contentType + "\r\n" +
                                "Content-Length: " + std::to_string(response.body.size()) + "\r\n";
            for (const auto& [name, value] : response.headers)
                bytes += name + ": " + value + "\r\n";
            sendAll(fd, bytes + "\r\n" + response.body);
        }
        ::shutdown(fd, SHUT_RDWR);
    }

    void acceptLoop() {
        while (readable(listener)) {
            int fd = ::accept(listener, nullptr, nullptr);
            if (fd < 0) continue;
            std::lock_guard<std::mutex> lock(mutex);
            sockets.push_back(fd);
            const int connection = ++accepted;
            connections.emplace_back([this, fd, connection] { serve(fd, connection); });
        }
    }
};

KeepAliveServer::KeepAliveServer() : impl_(std::make_unique<Impl>()) {
    impl_->listener = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t size = sizeof address;
    if (impl_->listener < 0 || ::bind(impl_->listener, reinterpret_cast<sockaddr*>(&address), size) != 0 ||
        ::listen(impl_->listener, 16) != 0 ||
        ::getsockname(impl_->listener, reinterpret_cast<sockaddr*>(&address), &size) != 0)
        throw std::runtime_error("the keep-alive test server could not listen");
    impl_->port = ntohs(address.sin_port);
    impl_->acceptor = std::thread([this] { impl_->acceptLoop(); });
}

KeepAliveServer::~KeepAliveServer() {
    impl_->stopping = true;
    impl_->acceptor.join();
    for (auto& thread : impl_->connections)
        thread.join();
    for (int fd : impl_->sockets)
        ::close(fd);
    ::close(impl_->listener);
}

std::string KeepAliveServer::url(const std::string& path) const {
    return "http://127.0.0.1:" + std::to_string(impl_->port) + path;
}

void KeepAliveServer::route(const std::string& method, const std::string& path, KeptAnswer answer) {
    route(method, path, [answer](const ArrivedRequest&) { return answer; });
}

void KeepAliveServer::route(const std::string& method, const std::string& path,
                            std::function<KeptAnswer(const ArrivedRequest&)> handler) {
    std::lock_guard<std::mutex> lock(impl_->mutex);
    impl_->routes[method + " " + path] = std::move(handler);
}

std::vector<ArrivedRequest> KeepAliveServer::requests() const {
    std::lock_guard<std::mutex> lock(impl_->mutex);
    return impl_->log;
}

size_t KeepAliveServer::arrivals(const std::string& method, const std::string& path) const {
    size_t count = 0;
    for (const auto& request : requests())
        count += request.method == method && request.path == path ? 1 : 0;
    return count;
}

} // namespace mivora::testing
