// CatalogIcon: one catalog search result.
#pragma once

#include <cstdint>
#include <string>

#include "core/json.h"

namespace mivora::catalog {

struct CatalogIcon {
    int64_t id = 0;
    std::string appName;
    std::string icnsUrl;
    std::string lowResPngUrl;
    int64_t downloads = 0;

    core::Json toJson() const {
        core::Json json;
        json["id"] = id;
        json["appName"] = appName;
        json["icnsUrl"] = icnsUrl;
        json["lowResPngUrl"] = lowResPngUrl;
        json["downloads"] = downloads;
        return json;
    }
};

} // namespace mivora::catalog
