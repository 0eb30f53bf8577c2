// Property lists (XML and binary) over libplist: an owning document type and a
// non-owning view with typed accessors. A file that does not parse reads as nothing.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace mivora::platform {

class PlistView {
public:
    PlistView() = default;
    explicit PlistView(void* node) : node_(node) {}

    explicit operator bool() const { return node_ != nullptr; }
    void* raw() const { return node_; }

    bool isDictionary() const;
    bool isArray() const;
    bool isString() const;
    bool isData() const;

    std::optional<std::string> string() const;  // text value
    std::optional<std::string> data() const;    // bytes of a data value
    std::optional<int64_t> integer() const;
    std::optional<double> real() const;          // real or integer
    std::optional<bool> boolean() const;

    // Dictionary access: an empty view for a missing key or a non-dictionary.
    PlistView operator[](const std::string& key) const;
    std::vector<std::string> keys() const;

    // Array access.
    size_t size() const;
    PlistView at(size_t index) const;

private:
    void* node_ = nullptr;
};

// An owned property-list tree.
class Plist {
public:
    Plist() = default;
    explicit Plist(void* node) : node_(node) {}
    Plist(const Plist& other);
    Plist& operator=(const Plist& other);
    Plist(Plist&& other) noexcept : node_(other.release()) {}
    Plist& operator=(Plist&& other) noexcept;
    ~Plist();

    static Plist dictionary();
    static Plist array();
    static Plist string(const std::string& value);
    static Plist data(std::string_view bytes);
    static Plist integer(int64_t value);
    static Plist real(double value);
    static Plist boolean(bool value);
    // A date given as seconds since 1 January 2001.
    static Plist date(double secondsSinceReferenceDate);
    static Plist copyOf(PlistView view);

    PlistView view() const { return PlistView(node_); }
    explicit operator bool() const { return node_ != nullptr; }
    void* release() {
        void* node = node_;
        node_ = nullptr;
        return node;
    }

    // Dictionary and array building; the value is moved into this tree.
    void set(const std::string& key, Plist value);
    void remove(const std::string& key);
    void append(Plist value);

    std::string toBinary() const;
    std::string toXML() const;

private:
    void* node_ = nullptr;
};

// Parses XML or binary property-list bytes.
std::optional<Plist> parsePropertyList(std::string_view bytes);
std::optional<Plist> readPropertyListFile(const std::string& path);
// The file's top-level dictionary, or nothing when it is missing, not a plist or not a dictionary.
std::optional<Plist> readPropertyListDictionary(const std::string& path);

} // namespace mivora::platform
