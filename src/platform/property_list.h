// Property lists (XML and binary) over libplist: an owning document type and a
// non-owning view with typed accessors. A file that does not parse reads as nothing.
#pragma once

#include "platform/file_reading.h"

#include <cstdint>
#include <forward_list>
#include <memory>
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

    std::optional<std::string> string() const; // text value
    std::optional<std::string> data() const;   // bytes of a data value
    std::optional<int64_t> integer() const;
    std::optional<double> real() const; // real or integer
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

// The bytes of a property list as its readers take them, read as the platform
// reads them: a leading UTF-8 byte-order mark dropped, and UTF-16 of either byte
// order (told by its byte-order mark, or without one by the "<?" that begins its
// declaration) decoded into `decoded`, which the result then views. Other bytes,
// binary property lists among them, are given back as they are; UTF-16 that does
// not decode gives an empty view, which no reader takes.
std::string_view propertyListText(std::string_view bytes, std::string& decoded);

// Parses XML or binary property-list bytes (in the text forms of propertyListText);
// nothing for bytes that do not parse or whose shape (nesting, binary references)
// is beyond what the parser can take safely.
std::optional<Plist> parsePropertyList(std::string_view bytes);
// Nothing, too, for a file that cannot be read within `limit`.
std::optional<Plist> readPropertyListFile(const std::string& path, ReadLimit limit);
// The file's top-level dictionary, or nothing when it is missing, not a plist or not a dictionary.
std::optional<Plist> readPropertyListDictionary(const std::string& path, ReadLimit limit);

// The text values at the top level of a dictionary property list (values of
// other kinds left out), as views into the document itself, so that reading
// many small files stays cheap. Copies share the document; views stay valid
// while any copy lives.
class PlistStrings {
public:
    using Entry = std::pair<std::string_view, std::string_view>;

    // The value of `key` when it is text.
    std::optional<std::string_view> text(std::string_view key) const;
    // In document order; a key given twice keeps its last value.
    const std::vector<Entry>& entries() const { return entries_; }

private:
    friend class PlistStringsBuilder;
    struct Storage {
        std::string document;
        std::forward_list<std::string> decoded; // texts that are not plain slices of the document
    };
    std::shared_ptr<Storage> storage_;
    std::vector<Entry> entries_;
};

// What parsePropertyList would give for the text values, found without
// building the tree for the usual XML form. Nothing when the bytes do not
// parse or are not a dictionary.
std::optional<PlistStrings> topLevelStrings(std::string bytes);
std::optional<PlistStrings> readTopLevelStrings(const std::string& path, ReadLimit limit);
// The file at `relativePath` below `folder`.
std::optional<PlistStrings> readTopLevelStrings(const OpenedFolder& folder, const std::string& relativePath,
                                                ReadLimit limit);
// The quick reader alone: nothing when it declines the document, which says
// nothing about the document's validity (topLevelStrings then parses it whole).
std::optional<PlistStrings> scanTopLevelStrings(std::string bytes);

} // namespace mivora::platform
