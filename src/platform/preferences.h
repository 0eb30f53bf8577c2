// The preferences system as the tool sees it: a domain is the property list
// ~/Library/Preferences/<domain>.plist. Synchronising reads the file afresh;
// saving writes the whole domain back atomically as a binary property list, so
// keys and values the tool never touched come back as they were.
#pragma once

#include "platform/property_list.h"

#include <functional>
#include <optional>
#include <string>

namespace mivora::platform {

// The domain whose values apply to every application.
inline constexpr const char* kAnyApplicationDomain = ".GlobalPreferences";

// ~/Library/Preferences/<domain>.plist
std::string preferencesFilePath(const std::string& domain);

class PreferenceDomain {
public:
    // Reads the domain, lets `change` set its values and saves it, all while
    // holding the lock of the preferences folder, so that concurrent runs change
    // it one after another instead of overwriting each other. Throws
    // StoreBusyError (another run kept the lock), FileSystemError, or what
    // `change` throws (then nothing is written).
    static void update(const std::string& domain, const std::function<void(PreferenceDomain&)>& change);

    // Reads the domain's file afresh. A missing or empty file is an empty domain.
    // So is a file that does not hold a property-list dictionary; it is left
    // as it is unless a value is changed and saved (see save()).
    static PreferenceDomain synchronize(const std::string& domain);

    const std::string& name() const { return name_; }
    // The stored value, or an empty view.
    PlistView value(const std::string& key) const;
    // Stores `value` under `key`, or removes the key when `value` is empty.
    void setValue(const std::string& key, std::optional<Plist> value);

    // Writes the domain when a value was changed; nothing otherwise. A file that
    // could not be read as a dictionary is first renamed to
    // "<file>.unreadable-<UUID>" so that its bytes survive the new file.
    // Throws FileSystemError.
    void save();

private:
    std::string name_;
    std::string path_;
    Plist values_;
    bool unreadable_ = false;
    bool changed_ = false;
};

} // namespace mivora::platform
