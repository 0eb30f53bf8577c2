#include "platform/property_list.h"

#include "platform/property_list_shape.h"
#include "platform/utf8.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <plist/plist.h>
#include <vector>

namespace mivora::platform {

namespace {
plist_t node(void* raw) {
    return static_cast<plist_t>(raw);
}
plist_type typeOf(void* raw) {
    return raw ? plist_get_node_type(node(raw)) : PLIST_NONE;
}
} // namespace

bool PlistView::isDictionary() const {
    return typeOf(node_) == PLIST_DICT;
}
bool PlistView::isArray() const {
    return typeOf(node_) == PLIST_ARRAY;
}
bool PlistView::isString() const {
    return typeOf(node_) == PLIST_STRING;
}
bool PlistView::isData() const {
    return typeOf(node_) == PLIST_DATA;
}

std::optional<std::string> PlistView::string() const {
    if (!isString()) return std::nullopt;
    // By pointer and length: libplist's copying getter aborts the process on a
    // text that holds a NUL byte, which a damaged or hostile file can carry.
    uint64_t length = 0;
    const char* value = plist_get_string_ptr(node(node_), &length);
    if (value == nullptr) return std::string();
    return std::string(value, static_cast<size_t>(length));
}

std::optional<std::string> PlistView::data() const {
    if (!isData()) return std::nullopt;
    char* value = nullptr;
    uint64_t length = 0;
    plist_get_data_val(node(node_), &value, &length);
    std::string result;
    if (value != nullptr) {
        result.assign(value, static_cast<size_t>(length));
        std::free(value);
    }
    return result;
}

std::optional<int64_t> PlistView::integer() const {
    if (typeOf(node_) != PLIST_UINT) return std::nullopt;
    uint64_t value = 0;
    plist_get_uint_val(node(node_), &value);
    return static_cast<int64_t>(value);
}

std::optional<double> PlistView::real() const {
    if (typeOf(node_) == PLIST_REAL) {
        double value = 0;
        plist_get_real_val(node(node_), &value);
        return value;
    }
    if (auto value = integer()) return static_cast<double>(*value);
    return std::nullopt;
}

std::optional<bool> PlistView::boolean() const {
    if (typeOf(node_) != PLIST_BOOLEAN) return std::nullopt;
    uint8_t value = 0;
    plist_get_bool_val(node(node_), &value);
    return value != 0;
}

PlistView PlistView::operator[](const std::string& key) const {
    if (!isDictionary()) return PlistView();
    return PlistView(plist_dict_get_item(node(node_), key.c_str()));
}

std::vector<std::string> PlistView::keys() const {
    std::vector<std::string> result;
    if (!isDictionary()) return result;
    plist_dict_iter iter = nullptr;
    plist_dict_new_iter(node(node_), &iter);
    for (;;) {
        char* key = nullptr;
        plist_t value = nullptr;
        plist_dict_next_item(node(node_), iter, &key, &value);
        if (key == nullptr) break;
        result.emplace_back(key);
        std::free(key);
    }
    std::free(iter);
    return result;
}

size_t PlistView::size() const {
    if (!isArray()) return 0;
    return plist_array_get_size(node(node_));
}

PlistView PlistView::at(size_t index) const {
    if (index >= size()) return PlistView();
    return PlistView(plist_array_get_item(node(node_), static_cast<uint32_t>(index)));
}

Plist::Plist(const Plist& other) : node_(other.node_ ? plist_copy(node(other.node_)) : nullptr) {}

Plist& Plist::operator=(const Plist& other) {
    if (this != &other) {
        Plist copy(other);
        *this = std::move(copy);
    }
    return *this;
}

Plist& Plist::operator=(Plist&& other) noexcept {
    if (this != &other) {
        if (node_) plist_free(node(node_));
        node_ = other.release();
    }
    return *this;
}

Plist::~Plist() {
    if (node_) plist_free(node(node_));
}

Plist Plist::dictionary() {
    return Plist(plist_new_dict());
}
Plist Plist::array() {
    return Plist(plist_new_array());
}
Plist Plist::string(const std::string& value) {
    return Plist(plist_new_string(value.c_str()));
}
Plist Plist::data(std::string_view bytes) {
    return Plist(plist_new_data(bytes.data(), bytes.size()));
}
Plist Plist::integer(int64_t value) {
    return Plist(plist_new_uint(static_cast<uint64_t>(value)));
}
Plist Plist::real(double value) {
    return Plist(plist_new_real(value));
}
Plist Plist::boolean(bool value) {
    return Plist(plist_new_bool(value ? 1 : 0));
}

Plist Plist::date(double secondsSinceReferenceDate) {
    double whole = secondsSinceReferenceDate < 0
                       ? -static_cast<double>(static_cast<int64_t>(-secondsSinceReferenceDate))
                       : static_cast<double>(static_cast<int64_t>(secondsSinceReferenceDate));
    auto sec = static_cast<int32_t>(whole);
    auto usec = static_cast<int32_t>((secondsSinceReferenceDate - whole) * 1e6);
    return Plist(plist_new_date(sec, usec));
}

Plist Plist::copyOf(PlistView view) {
    return Plist(view ? plist_copy(node(view.raw())) : nullptr);
}

void Plist::set(const std::string& key, Plist value) {
    if (typeOf(node_) != PLIST_DICT || !value) return;
    plist_dict_set_item(node(node_), key.c_str(), node(value.release()));
}

void Plist::remove(const std::string& key) {
    if (typeOf(node_) != PLIST_DICT) return;
    if (plist_dict_get_item(node(node_), key.c_str())) plist_dict_remove_item(node(node_), key.c_str());
}

void Plist::append(Plist value) {
    if (typeOf(node_) != PLIST_ARRAY || !value) return;
    plist_array_append_item(node(node_), node(value.release()));
}

std::string Plist::toBinary() const {
    if (!node_) return {};
    char* bytes = nullptr;
    uint32_t length = 0;
    plist_to_bin(node(node_), &bytes, &length);
    std::string result(bytes ? bytes : "", bytes ? length : 0);
    std::free(bytes);
    return result;
}

std::string Plist::toXML() const {
    if (!node_) return {};
    char* bytes = nullptr;
    uint32_t length = 0;
    plist_to_xml(node(node_), &bytes, &length);
    std::string result(bytes ? bytes : "", bytes ? length : 0);
    std::free(bytes);
    return result;
}

namespace {

uint64_t bigEndian(std::string_view bytes, size_t at, size_t width) {
    uint64_t value = 0;
    for (size_t i = 0; i < width; ++i)
        value = (value << 8) | static_cast<unsigned char>(bytes[at + i]);
    return value;
}

// Whether a text object of a binary property list holds a NUL character.
// libplist reads such a text into a dictionary key all the same, and its own
// key getter then aborts the process; the objects are found through the
// trailer's offset table, and a table that does not fit is left to libplist.
bool binaryTextHoldsNul(std::string_view bytes) {
    constexpr size_t kTrailer = 32;
    if (bytes.size() < 8 + kTrailer) return false;
    const size_t end = bytes.size() - kTrailer;
    const size_t offsetWidth = static_cast<unsigned char>(bytes[end + 6]);
    const uint64_t objects = bigEndian(bytes, end + 8, 8);
    const uint64_t table = bigEndian(bytes, end + 24, 8);
    if (offsetWidth < 1 || offsetWidth > 8 || table > end || objects > (end - table) / offsetWidth)
        return false;
    for (uint64_t i = 0; i < objects; ++i) {
        const uint64_t at = bigEndian(bytes, static_cast<size_t>(table + i * offsetWidth), offsetWidth);
        if (at >= end) continue;
        const unsigned marker = static_cast<unsigned char>(bytes[at]);
        const unsigned kind = marker >> 4;
        if (kind != 0x5 && kind != 0x6) continue; // ASCII and UTF-16 texts
        uint64_t count = marker & 0xF;
        size_t data = static_cast<size_t>(at) + 1;
        if (count == 0xF) {
            if (data >= end || (static_cast<unsigned char>(bytes[data]) >> 4) != 0x1) continue;
            const size_t width = size_t{1} << (bytes[data] & 0x3);
            if (data + 1 + width > end) continue;
            count = bigEndian(bytes, data + 1, width);
            data += 1 + width;
        }
        const uint64_t unit = kind == 0x5 ? 1 : 2;
        const size_t available = (end - data) / unit;
        const size_t units = static_cast<size_t>(std::min<uint64_t>(count, available));
        for (size_t u = 0; u < units; ++u) {
            const size_t byte = data + u * unit;
            if (bytes[byte] == '\0' && (unit == 1 || bytes[byte + 1] == '\0')) return true;
        }
    }
    return false;
}

// Whether every text value and key under `root` is valid UTF-8. Walked with
// an explicit stack, so that a deeply nested file cannot exhaust ours.
bool hasOnlyValidText(plist_t root) {
    std::vector<plist_t> pending{root};
    while (!pending.empty()) {
        plist_t item = pending.back();
        pending.pop_back();
        switch (plist_get_node_type(item)) {
        case PLIST_STRING: {
            uint64_t length = 0;
            const char* text = plist_get_string_ptr(item, &length);
            if (text != nullptr && !isValidUTF8(std::string_view(text, static_cast<size_t>(length))))
                return false;
            break;
        }
        case PLIST_ARRAY:
            for (uint32_t i = 0, count = plist_array_get_size(item); i < count; ++i)
                pending.push_back(plist_array_get_item(item, i));
            break;
        case PLIST_DICT: {
            plist_dict_iter iter = nullptr;
            plist_dict_new_iter(item, &iter);
            bool valid = true;
            for (;;) {
                char* key = nullptr;
                plist_t value = nullptr;
                plist_dict_next_item(item, iter, &key, &value);
                if (key == nullptr) break;
                valid = valid && isValidUTF8(key);
                std::free(key);
                if (value != nullptr) pending.push_back(value);
            }
            std::free(iter);
            if (!valid) return false;
            break;
        }
        default:
            break;
        }
    }
    return true;
}

} // namespace

std::string_view propertyListText(std::string_view bytes, std::string& decoded) {
    using namespace std::string_view_literals;
    std::optional<UnicodeForm> form;
    size_t mark = 0;
    if (bytes.starts_with("\xEF\xBB\xBF"sv)) return bytes.substr(3);
    if (bytes.starts_with("\xFE\xFF"sv)) {
        form = UnicodeForm::utf16BigEndian, mark = 2;
    } else if (bytes.starts_with("\xFF\xFE"sv)) {
        form = UnicodeForm::utf16LittleEndian, mark = 2;
    } else if (bytes.starts_with("\0<\0?"sv)) {
        form = UnicodeForm::utf16BigEndian;
    } else if (bytes.starts_with("<\0?\0"sv)) {
        form = UnicodeForm::utf16LittleEndian;
    }
    if (!form) return bytes;
    auto text = utf8FromWideText(bytes.substr(mark), *form);
    decoded = text ? std::move(*text) : std::string();
    return decoded;
}

std::optional<Plist> parsePropertyList(std::string_view bytes) {
    std::string decoded;
    bytes = propertyListText(bytes, decoded);
    if (bytes.empty() || bytes.size() > UINT32_MAX || !hasParsableShape(bytes)) return std::nullopt;
    plist_t root = nullptr;
    if (bytes.size() >= 8 && std::memcmp(bytes.data(), "bplist00", 8) == 0) {
        if (binaryTextHoldsNul(bytes)) return std::nullopt;
        plist_from_bin(bytes.data(), static_cast<uint32_t>(bytes.size()), &root);
        // Text the platform could not decode (high bytes in an ASCII string, a
        // lone UTF-16 surrogate) makes the file unreadable, as an XML file is.
        if (root != nullptr && !hasOnlyValidText(root)) {
            plist_free(root);
            return std::nullopt;
        }
    } else {
        // libplist's XML reader expects text; refuse bytes that cannot be XML at all.
        size_t start = bytes.find_first_not_of(" \t\r\n");
        if (start == std::string_view::npos || bytes[start] != '<') return std::nullopt;
        // An XML property list that is not valid UTF-8 does not parse.
        if (!isValidUTF8(bytes)) return std::nullopt;
        plist_from_xml(bytes.data(), static_cast<uint32_t>(bytes.size()), &root);
    }
    if (root == nullptr) return std::nullopt;
    return Plist(root);
}

std::optional<Plist> readPropertyListFile(const std::string& path, ReadLimit limit) {
    auto bytes = readFile(path, limit);
    if (!bytes) return std::nullopt;
    return parsePropertyList(*bytes);
}

std::optional<Plist> readPropertyListDictionary(const std::string& path, ReadLimit limit) {
    auto plist = readPropertyListFile(path, limit);
    if (!plist || !plist->view().isDictionary()) return std::nullopt;
    return plist;
}

} // namespace mivora::platform
