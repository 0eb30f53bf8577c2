#include "icons/commands/config_document.h"

#include "core/base64.h"
#include "core/json_decoding.h"
#include "platform/file_reading.h"
#include "platform/filesystem.h"

#include <array>
#include <map>
#include <tuple>

namespace mivora::icons {

namespace {

[[noreturn]] void refuse(const std::string& description) {
    throw ConfigurationReadError(description);
}

// The document decoded straight from the parser's events into the records, so
// that no tree of it is held beside its bytes. A problem is kept with its place
// in the order in which a whole-tree decoder checks (fields in order, elements in
// order, keys of an element in order); a later duplicate of a key replaces the
// earlier one with its problems, and a syntax error anywhere wins over all.
class ConfigurationEvents : public core::JSONEvents {
public:
    AppConfiguration finish() {
        if (!problems_.empty()) refuse(problems_.begin()->second);
        return std::move(configuration_);
    }

    bool null() override { return scalar("null"); }
    bool boolean(bool) override { return scalar("a boolean"); }
    bool number_integer(number_integer_t value) override { return number(static_cast<double>(value)); }
    bool number_unsigned(number_unsigned_t value) override { return number(static_cast<double>(value)); }
    bool number_float(number_float_t value, const string_t&) override { return number(value); }
    bool binary(binary_t&) override { return scalar("a value of another kind"); }

    bool string(string_t& text) override {
        if (skipping_ > 0) return true;
        if (!(depth_ == 1 && field_ == kVersion) && !(depth_ == 3 && member_ >= 0)) return scalar("a string");
        arriving();
        if (depth_ == 1) {
            configuration_.version = std::move(text);
        } else if (field_ == kIcons && member_ == kIconData) {
            auto decoded = core::decodeBase64(text);
            if (decoded.bytes)
                currentIcon_.iconData = std::move(*decoded.bytes);
            else
                problem(field_, element_, member_,
                        "Invalid Base64 at " + memberPath() + ": " + decoded.problem);
        } else {
            memberText() = std::move(text);
        }
        return true;
    }

    bool start_object(std::size_t) override {
        if (skipping_ > 0 || !opening("an object", /*isObject=*/true)) ++skipping_;
        return true;
    }
    bool start_array(std::size_t) override {
        if (skipping_ > 0 || !opening("an array", /*isObject=*/false)) ++skipping_;
        return true;
    }
    bool end_array() override { return closing(); }
    bool end_object() override {
        if (skipping_ > 0) return closing();
        if (depth_ == 3) finishElement();
        if (depth_ == 1) {
            for (int field = 0; field < kFieldCount; ++field) {
                if (!fieldSeen_[field])
                    problem(field, -1, -1, "Missing required key at " + std::string(kFields[field]));
            }
        }
        return closing();
    }

    bool key(string_t& name) override {
        if (skipping_ > 0) return true;
        if (depth_ == 1) field_ = indexOf(kFields, name);
        if (depth_ == 3) member_ = field_ == kAliases ? indexOf(kAliasKeys, name) : indexOf(kIconKeys, name);
        return true;
    }

private:
    static constexpr int kAliases = 0, kIcons = 1, kVersion = 2, kExportDate = 3, kFieldCount = 4;
    static constexpr int kIconData = 3;
    static constexpr std::array<const char*, 4> kFields = {"appAliases", "cachedIcons", "version",
                                                           "exportDate"};
    static constexpr std::array<const char*, 2> kAliasKeys = {"appName", "aliasName"};
    static constexpr std::array<const char*, 4> kIconKeys = {"appPath", "appName", "iconFileName",
                                                             "iconData"};
    using Place = std::tuple<int, long, int>; // field, element, key of the element (-1: the level above)

    template <size_t N> static int indexOf(const std::array<const char*, N>& names, const std::string& name) {
        for (size_t i = 0; i < N; ++i) {
            if (name == names[i]) return static_cast<int>(i);
        }
        return -1;
    }

    std::string elementPath() const {
        return core::jsonElementPath(kFields[field_], static_cast<size_t>(element_));
    }
    std::string memberPath() const {
        const char* name = field_ == kAliases ? kAliasKeys[member_] : kIconKeys[member_];
        return core::jsonChildPath(elementPath(), name);
    }

    std::string& memberText() {
        if (field_ == kAliases) return member_ == 0 ? currentAlias_.appName : currentAlias_.aliasName;
        switch (member_) {
        case 0:
            return currentIcon_.appPath;
        case 1:
            return currentIcon_.appName;
        default:
            return currentIcon_.iconFileName;
        }
    }

    void problem(int field, long element, int member, std::string description) {
        problems_.emplace(Place{field, element, member}, std::move(description));
    }
    // A new value of a key replaces the earlier one and its problems (with those below it).
    void clear(int field, long element, int member) {
        auto first = problems_.lower_bound(Place{field, element, member});
        auto last = member >= 0    ? problems_.upper_bound(Place{field, element, member})
                    : element >= 0 ? problems_.lower_bound(Place{field, element + 1, -1})
                                   : problems_.lower_bound(Place{field + 1, -1, -1});
        problems_.erase(first, last);
    }

    void mismatch(const char* found) {
        if (depth_ == 0) {
            problem(-1, -1, -1, std::string("Expected an object at the top level but found ") + found);
        } else if (depth_ == 1 && field_ >= 0) {
            static constexpr std::array<const char*, 4> expected = {
                "an array", "an array", "a string", "a number (seconds since 1 January 2001)"};
            problem(field_, -1, -1,
                    std::string("Expected ") + expected[field_] + " at " + kFields[field_] + " but found " +
                        found);
        } else if (depth_ == 2) {
            problem(field_, element_, -1, "Expected an object at " + elementPath() + " but found " + found);
        } else if (depth_ == 3 && member_ >= 0) {
            const char* expected = field_ == kIcons && member_ == kIconData ? "a Base64 string" : "a string";
            problem(field_, element_, member_,
                    std::string("Expected ") + expected + " at " + memberPath() + " but found " + found);
        }
    }

    // A value is about to be read at the current place: note the key as present and
    // forget what an earlier value of it left.
    void arriving() {
        if (depth_ == 1 && field_ >= 0) {
            fieldSeen_[field_] = true;
            clear(field_, -1, -1);
            if (field_ == kAliases) configuration_.appAliases.clear();
            if (field_ == kIcons) configuration_.cachedIcons.clear();
        } else if (depth_ == 2) {
            ++element_;
        } else if (depth_ == 3 && member_ >= 0) {
            memberSeen_[member_] = true;
            clear(field_, element_, member_);
        }
    }

    bool scalar(const char* found) {
        if (skipping_ > 0) return true;
        arriving();
        mismatch(found);
        return true;
    }

    bool number(double value) {
        if (skipping_ > 0) return true;
        if (depth_ == 1 && field_ == kExportDate) {
            arriving();
            configuration_.exportDate = value;
            return true;
        }
        return scalar("a number");
    }

    // False: the container is not read (it is skipped whole).
    bool opening(const char* found, bool isObject) {
        arriving();
        bool wanted = (depth_ == 0 && isObject) ||
                      (depth_ == 1 && !isObject && (field_ == kAliases || field_ == kIcons)) ||
                      (depth_ == 2 && isObject);
        if (!wanted) {
            mismatch(found);
            return false;
        }
        if (depth_ == 1) element_ = -1;
        if (depth_ == 2) {
            member_ = -1;
            memberSeen_.fill(false);
            currentAlias_ = {};
            currentIcon_ = {};
        }
        ++depth_;
        return true;
    }

    bool closing() {
        if (skipping_ > 0)
            --skipping_;
        else
            --depth_;
        return true;
    }

    void finishElement() {
        size_t keys = field_ == kAliases ? kAliasKeys.size() : kIconKeys.size();
        for (size_t i = 0; i < keys; ++i) {
            if (memberSeen_[i]) continue;
            member_ = static_cast<int>(i);
            problem(field_, element_, member_, "Missing required key at " + memberPath());
        }
        if (field_ == kAliases)
            configuration_.appAliases.push_back(std::move(currentAlias_));
        else
            configuration_.cachedIcons.push_back(std::move(currentIcon_));
    }

    AppConfiguration configuration_;
    std::map<Place, std::string> problems_;
    int depth_ = 0;    // 1: the document's object, 2: a list, 3: one of its elements
    int skipping_ = 0; // depth inside a container that is not read
    int field_ = -1, member_ = -1;
    long element_ = -1;
    std::array<bool, kFieldCount> fieldSeen_{};
    std::array<bool, 4> memberSeen_{};
    AliasConfig currentAlias_;
    IconCacheConfig currentIcon_;
};

} // namespace

AppConfiguration decodeAppConfiguration(std::string_view bytes) {
    try {
        ConfigurationEvents events;
        core::parseJSONEvents(bytes, events, kMaxConfigurationNesting);
        return events.finish();
    } catch (const core::JSONDecodingError& error) {
        refuse(error.what());
    }
}

ConfigurationFile readConfigurationFile(const std::string& path) {
    ConfigurationFile file;
    try {
        file.bytes = platform::readFileContents(path, platform::read_limits::configurationDocument);
    } catch (const platform::FileSystemError& error) {
        refuse(error.what());
    }
    file.configuration = decodeAppConfiguration(file.bytes);
    return file;
}

} // namespace mivora::icons
