#include "support/config_document_fixture.h"

#include "core/base64.h"

namespace mivora::testing {

core::Json ConfigDocument::toJson() const {
    core::Json document = core::Json::object();
    document["appAliases"] = core::Json::array();
    for (const auto& alias : aliases) {
        document["appAliases"].push_back({{"appName", alias.appName}, {"aliasName", alias.aliasName}});
    }
    document["cachedIcons"] = core::Json::array();
    for (const auto& icon : icons) {
        document["cachedIcons"].push_back({{"appPath", icon.appPath},
                                           {"appName", icon.appName},
                                           {"iconFileName", icon.iconFileName},
                                           {"iconData", core::encodeBase64(icon.imageBytes)}});
    }
    document["version"] = version;
    document["exportDate"] = exportDate;
    return document;
}

} // namespace mivora::testing
