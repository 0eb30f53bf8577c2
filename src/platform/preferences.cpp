#include "platform/preferences.h"

#include "platform/environment.h"
#include "platform/file_reading.h"
#include "platform/uuid.h"

namespace mivora::platform {

std::string preferencesFilePath(const std::string& domain) {
    return homeDirectory() + "/Library/Preferences/" + domain + ".plist";
}

PreferenceDomain PreferenceDomain::synchronize(const std::string& domain) {
    PreferenceDomain result;
    result.name_ = domain;
    result.path_ = preferencesFilePath(domain);
    auto bytes = readFile(result.path_, read_limits::preferences);
    if (bytes && !bytes->empty()) {
        auto parsed = parsePropertyList(*bytes);
        if (parsed && parsed->view().isDictionary())
            result.values_ = std::move(*parsed);
        else
            result.unreadable_ = true;
    } else if (!bytes && fileExists(result.path_)) {
        // There, but not readable by us: never replace it unawares.
        result.unreadable_ = true;
    }
    if (!result.values_) result.values_ = Plist::dictionary();
    return result;
}

PlistView PreferenceDomain::value(const std::string& key) const {
    return values_.view()[key];
}

void PreferenceDomain::setValue(const std::string& key, std::optional<Plist> value) {
    if (value && *value) {
        values_.set(key, std::move(*value));
        changed_ = true;
    } else if (values_.view()[key]) {
        values_.remove(key);
        changed_ = true;
    }
}

void PreferenceDomain::save() {
    if (!changed_) return;
    createDirectories(parentPath(path_));
    if (unreadable_ && (fileExists(path_) || isSymbolicLink(path_))) {
        moveItem(path_, path_ + ".unreadable-" + newUUIDString());
    }
    writeFileAtomically(path_, values_.toBinary());
    unreadable_ = false;
    changed_ = false;
}

} // namespace mivora::platform
