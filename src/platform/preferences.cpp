#include "platform/preferences.h"

#include "platform/environment.h"
#include "platform/file_lock.h"
#include "platform/file_reading.h"
#include "platform/filesystem.h"

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

void PreferenceDomain::update(const std::string& domain,
                              const std::function<void(PreferenceDomain&)>& change) {
    // The preferences folder is the system's, not ours: its lock, one for every
    // domain, is the folder itself rather than a file of our own in it.
    const std::string path = preferencesFilePath(domain);
    tryCreateDirectories(parentPath(path));
    FileLock lock = FileLock::folder(parentPath(path), path);
    PreferenceDomain preferences = synchronize(domain);
    change(preferences);
    preferences.save();
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
        keepUnreadableFileAside(path_);
    }
    writeFileAtomically(path_, values_.toBinary());
    unreadable_ = false;
    changed_ = false;
}

} // namespace mivora::platform
