#include "support/catalog_fixture.h"

#include "support/icon_fixtures.h"

#include <cctype>

namespace mivora::testing {

std::string iconFilePath(const std::string& name, const std::string& extension) {
    std::string slug = name;
    for (char& c : slug) {
        if (!std::isalnum(static_cast<unsigned char>(c))) c = '-';
    }
    return "/files/" + slug + extension;
}

std::string searchAnswer(const CatalogServer& server, const std::vector<CatalogHit>& icons,
                         std::optional<core::Json> totalPages) {
    core::Json hits = core::Json::array();
    for (const auto& icon : icons) {
        core::Json hit;
        hit["appName"] = icon.name;
        hit["icnsUrl"] = server.url(iconFilePath(icon.name, ".icns"));
        hit["lowResPngUrl"] = server.url(iconFilePath(icon.name, ".png"));
        if (icon.downloads) hit["downloads"] = *icon.downloads;
        hits.push_back(hit);
    }
    core::Json answer;
    answer["hits"] = hits;
    if (totalPages) answer["totalPages"] = *totalPages;
    return answer.dump();
}

const std::string& catalogICNSBytes() {
    static const std::string bytes = typicalIcns();
    return bytes;
}

const std::string& catalogPNGBytes() {
    static const std::string bytes = solidPNG(32, 32, kIconGreen);
    return bytes;
}

void serveIconFiles(CatalogServer& server, const std::vector<CatalogHit>& icons) {
    for (const auto& icon : icons) {
        server.route("GET", iconFilePath(icon.name, ".icns"),
                     ScriptedResponse{200, catalogICNSBytes(), "application/octet-stream"});
        server.route("GET", iconFilePath(icon.name, ".png"),
                     ScriptedResponse{200, catalogPNGBytes(), "image/png"});
    }
}

void useCatalog(Sandbox& sandbox, const CatalogServer& server) {
    sandbox.environment["MIVORA_API_BASE_URL"] = server.url("/api");
}

std::vector<LoggedRequest> requestsTo(const CatalogServer& server, const std::string& method,
                                      const std::string& path) {
    std::vector<LoggedRequest> matching;
    for (auto& request : server.requests()) {
        if (request.method == method && request.path == path) matching.push_back(std::move(request));
    }
    return matching;
}

int requestedPage(const LoggedRequest& request) {
    auto body = core::Json::parse(request.body, nullptr, false);
    if (body.is_discarded() || !body.is_object()) return -1;
    auto options = body.find("searchOptions");
    if (options == body.end() || !options->is_object() || !options->contains("page")) return -1;
    const auto& page = options->at("page");
    return page.is_number_integer() ? page.get<int>() : -1;
}

} // namespace mivora::testing
