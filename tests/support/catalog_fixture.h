// Catalog answers for end-to-end runs against the local CatalogServer: search
// pages in the service's shape, with icon files served by the same server.
#pragma once

#include "core/json.h"
#include "support/catalog_server.h"
#include "support/sandbox.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace mivora::testing {

struct CatalogHit {
    std::string name;
    std::optional<int64_t> downloads; // absent: the key is left out
};

// "/files/<name with every non-alphanumeric character as '-'>" + extension.
std::string iconFilePath(const std::string& name, const std::string& extension);

// {"hits":[...]} (with "totalPages" when given); each icon's addresses point
// at iconFilePath on the server.
std::string searchAnswer(const CatalogServer& server, const std::vector<CatalogHit>& icons,
                         std::optional<core::Json> totalPages = std::nullopt);

// What serveIconFiles serves: a real ICNS file and a small PNG.
const std::string& catalogICNSBytes();
const std::string& catalogPNGBytes();

// Serves both files of each icon.
void serveIconFiles(CatalogServer& server, const std::vector<CatalogHit>& icons);

// Points the sandbox's runs at the server's "/api".
void useCatalog(Sandbox& sandbox, const CatalogServer& server);

// The logged requests for one method and path, in order.
std::vector<LoggedRequest> requestsTo(const CatalogServer& server, const std::string& method,
                                      const std::string& path);

// The "page" of a logged search request, -1 when the body does not hold one.
int requestedPage(const LoggedRequest& request);

} // namespace mivora::testing
