// InstalledApp, the record of one application that discovery returns and that
// most replies embed, and the small readers of a bundle's Info.plist.
#pragma once

#include "core/json.h"
#include "platform/property_list.h"

#include <optional>
#include <string>

namespace mivora::apps {

struct InstalledApp {
    std::string name;
    std::string path;
    std::optional<std::string> bundleId;
    std::optional<bool> dockIconControlledByApp;

    core::Json toJson() const;
    // The same object, straight into a reply being written.
    void write(core::PrettyJSONWriter& out) const;
    // Accepts the same keys; the two optional ones may be missing. Throws nlohmann's errors.
    static InstalledApp fromJson(const core::Json& json);
    bool operator==(const InstalledApp&) const = default;
};

// <bundle>/Contents/Info.plist as a dictionary, or nothing.
std::optional<platform::Plist> readInfoPlist(const std::string& bundlePath);
// The text values at the top level of Info.plist (values of other kinds left
// out), or nothing when it cannot be read, does not parse or is not a dictionary.
std::optional<platform::PlistStrings> readInfoStrings(const std::string& bundlePath);
// The same for the bundle named `bundleName` in `folder`.
std::optional<platform::PlistStrings> readInfoStrings(const platform::OpenedFolder& folder,
                                                      const std::string& bundleName);
// A text value of Info.plist, or nothing when unreadable, missing or not text.
std::optional<std::string> readInfoString(const std::string& bundlePath, const std::string& key);
// CFBundleIdentifier when it is text.
std::optional<std::string> readBundleIdentifier(const std::string& bundlePath);

} // namespace mivora::apps
