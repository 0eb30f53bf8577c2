#include "support/catalog_server.h"

#include <atomic>
#include <chrono>
#include <httplib.h>
#include <thread>

namespace mivora::testing {

struct CatalogServer::Impl {
    httplib::Server server;
    std::thread thread;
    mutable std::mutex mutex;
    std::map<std::string, std::function<ScriptedResponse(const LoggedRequest&)>> routes;
    std::vector<LoggedRequest> log;
    std::atomic<bool> stopping{false};

    // Sleeps in short steps, so that stopping the server is never held up.
    void pause(double seconds) const {
        auto until = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
        while (!stopping && std::chrono::steady_clock::now() < until)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }

    void handle(const httplib::Request& request, httplib::Response& response) {
        LoggedRequest logged;
        logged.method = request.method;
        logged.path = request.path;
        logged.target = request.target;
        auto question = request.target.find('?');
        if (question != std::string::npos) logged.query = request.target.substr(question + 1);
        for (const auto& [name, value] : request.headers)
            logged.headers[name] = value;
        logged.body = request.body;
        std::function<ScriptedResponse(const LoggedRequest&)> handler;
        {
            std::lock_guard<std::mutex> lock(mutex);
            log.push_back(logged);
            auto it = routes.find(request.method + " " + request.path);
            if (it != routes.end()) handler = it->second;
        }
        if (!handler) {
            response.status = 404;
            response.set_content("{\"message\":\"no route\"}", "application/json");
            return;
        }
        ScriptedResponse scripted = handler(logged);
        pause(scripted.headerDelaySeconds);
        response.status = scripted.status;
        for (const auto& [name, value] : scripted.headers)
            response.set_header(name, value);
        switch (scripted.behaviour) {
        case ScriptedResponse::Behaviour::normal:
            response.set_content(scripted.body, scripted.contentType.c_str());
            break;
        case ScriptedResponse::Behaviour::stall:
            // Headers and a promise of a body that never comes.
            response.set_content_provider(scripted.body.size() + 1000, scripted.contentType.c_str(),
                                          [this](size_t, size_t, httplib::DataSink&) {
                                              for (int i = 0; i < 600 && !stopping; ++i)
                                                  std::this_thread::sleep_for(std::chrono::milliseconds(100));
                                              return false;
                                          });
            break;
        case ScriptedResponse::Behaviour::drip: {
            std::string body = scripted.body;
            double every = scripted.dripSeconds;
            response.set_content_provider(
                body.size(), scripted.contentType.c_str(),
                [this, body, every](size_t offset, size_t, httplib::DataSink& sink) {
                    pause(every);
                    return !stopping && sink.write(body.data() + offset, 1);
                });
            break;
        }
        case ScriptedResponse::Behaviour::closeMidBody: {
            std::string half = scripted.body.substr(0, scripted.body.size() / 2);
            size_t length = scripted.body.size();
            response.set_content_provider(length, scripted.contentType.c_str(),
                                          [half](size_t offset, size_t, httplib::DataSink& sink) {
                                              if (offset == 0) sink.write(half.data(), half.size());
                                              return offset == 0; // then drop the connection
                                          });
            break;
        }
        }
    }
};

CatalogServer::CatalogServer() : impl_(std::make_unique<Impl>()) {
    impl_->server.Get(".*", [this](const auto& rq, auto& rs) { impl_->handle(rq, rs); });
    impl_->server.Post(".*", [this](const auto& rq, auto& rs) { impl_->handle(rq, rs); });
    impl_->server.Put(".*", [this](const auto& rq, auto& rs) { impl_->handle(rq, rs); });
    impl_->server.Delete(".*", [this](const auto& rq, auto& rs) { impl_->handle(rq, rs); });
    // One request per connection, so that stopping never waits on an idle keep-alive.
    impl_->server.set_keep_alive_max_count(1);
    port_ = impl_->server.bind_to_any_port("127.0.0.1");
    impl_->thread = std::thread([this] { impl_->server.listen_after_bind(); });
    while (!impl_->server.is_running())
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
}

CatalogServer::~CatalogServer() {
    impl_->stopping = true;
    impl_->server.stop();
    if (impl_->thread.joinable()) impl_->thread.join();
}

std::string CatalogServer::url(const std::string& path) const {
    return "http://127.0.0.1:" + std::to_string(port_) + path;
}

void CatalogServer::route(const std::string& method, const std::string& path, ScriptedResponse response) {
    route(method, path, [response](const LoggedRequest&) { return response; });
}

void CatalogServer::route(const std::string& method, const std::string& path,
                          std::function<ScriptedResponse(const LoggedRequest&)> handler) {
    std::lock_guard<std::mutex> lock(impl_->mutex);
    impl_->routes[method + " " + path] = std::move(handler);
}

std::vector<LoggedRequest> CatalogServer::requests() const {
    std::lock_guard<std::mutex> lock(impl_->mutex);
    return impl_->log;
}

} // namespace mivora::testing
