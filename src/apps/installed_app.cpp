#include "apps/installed_app.h"

#include "platform/filesystem.h"

namespace mivora::apps {

core::Json InstalledApp::toJson() const {
    core::Json json;
    json["name"] = name;
    json["path"] = path;
    core::setOptional(json, "bundleId", bundleId);
    core::setOptional(json, "dockIconControlledByApp", dockIconControlledByApp);
    return json;
}

void InstalledApp::write(core::PrettyJSONWriter& out) const {
    out.beginObject();
    if (bundleId) out.member("bundleId", *bundleId);
    if (dockIconControlledByApp) out.member("dockIconControlledByApp", *dockIconControlledByApp);
    out.member("name", name);
    out.member("path", path);
    out.endObject();
}

InstalledApp InstalledApp::fromJson(const core::Json& json) {
    InstalledApp app;
    app.name = json.at("name").get<std::string>();
    app.path = json.at("path").get<std::string>();
    if (json.contains("bundleId")) app.bundleId = json.at("bundleId").get<std::string>();
    if (json.contains("dockIconControlledByApp"))
        app.dockIconControlledByApp = json.at("dockIconControlledByApp").get<bool>();
    return app;
}

std::optional<platform::Plist> readInfoPlist(const std::string& bundlePath) {
    return platform::readPropertyListDictionary(platform::joinPath(bundlePath, "Contents/Info.plist"),
                                                platform::read_limits::infoPlist);
}

std::optional<platform::PlistStrings> readInfoStrings(const std::string& bundlePath) {
    return platform::readTopLevelStrings(platform::joinPath(bundlePath, "Contents/Info.plist"),
                                         platform::read_limits::infoPlist);
}

std::optional<platform::PlistStrings> readInfoStrings(const platform::OpenedFolder& folder,
                                                      const std::string& bundleName) {
    return platform::readTopLevelStrings(folder, bundleName + "/Contents/Info.plist",
                                         platform::read_limits::infoPlist);
}

std::optional<std::string> readInfoString(const std::string& bundlePath, const std::string& key) {
    auto strings = readInfoStrings(bundlePath);
    if (!strings) return std::nullopt;
    auto value = strings->text(key);
    if (!value) return std::nullopt;
    return std::string(*value);
}

std::optional<std::string> readBundleIdentifier(const std::string& bundlePath) {
    return readInfoString(bundlePath, "CFBundleIdentifier");
}

} // namespace mivora::apps
