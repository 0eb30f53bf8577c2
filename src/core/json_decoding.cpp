#include "core/json_decoding.h"

#include "platform/utf8.h"

#include <algorithm>
#include <cmath>

namespace mivora::core {

namespace {

[[noreturn]] void refuse(const std::string& description) {
    throw JSONDecodingError(description);
}

// "line 3, column 7" of a byte offset, columns counted in characters.
std::string positionOf(std::string_view bytes, size_t offset) {
    offset = std::min(offset, bytes.size());
    size_t line = 1, column = 1;
    for (size_t i = 0; i < offset; ++i) {
        auto c = static_cast<unsigned char>(bytes[i]);
        if (c == '\n') {
            ++line;
            column = 1;
        } else if ((c & 0xC0) != 0x80) {
            ++column;
        }
    }
    return "line " + std::to_string(line) + ", column " + std::to_string(column);
}

// Arrays and objects are counted outside strings only, so that the parser never
// has to build (or tear down) a pathologically deep tree.
void checkNesting(std::string_view bytes, size_t maxNesting) {
    size_t depth = 0;
    bool inString = false;
    for (size_t i = 0; i < bytes.size(); ++i) {
        char c = bytes[i];
        if (inString) {
            if (c == '\\')
                ++i;
            else if (c == '"')
                inString = false;
        } else if (c == '"') {
            inString = true;
        } else if (c == '[' || c == '{') {
            if (++depth > maxNesting) {
                refuse("Not valid JSON at " + positionOf(bytes, i) + ": nested more than " +
                       std::to_string(maxNesting) + " levels deep");
            }
        } else if ((c == ']' || c == '}') && depth > 0) {
            --depth;
        }
    }
}

// The parser's message without its prefix and without the "last read" excerpt,
// which may hold the very bytes that are not valid text.
std::string syntaxErrorDescription(const nlohmann::json::parse_error& error, std::string_view bytes) {
    std::string what = error.what();
    std::string reason;
    auto column = what.find(", column ");
    auto colon = column == std::string::npos ? std::string::npos : what.find(": ", column);
    if (colon != std::string::npos) reason = what.substr(colon + 2);
    auto lastRead = reason.find("; last read: '");
    if (lastRead != std::string::npos) {
        auto expected = reason.rfind("'; expected ");
        std::string rest =
            expected != std::string::npos && expected >= lastRead ? reason.substr(expected + 1) : "";
        reason = reason.substr(0, lastRead) + rest;
    }
    if (reason.empty()) reason = "syntax error";
    size_t offset = error.byte > 0 ? error.byte - 1 : 0;
    return "Not valid JSON at " + positionOf(bytes, offset) + ": " + reason;
}

enum class Encoding { utf8, utf16BE, utf16LE, utf32BE, utf32LE };

// The encoding and the length of its byte-order mark: the mark when there is one,
// else the pattern of zero bytes among the first four (JSON text starts with two
// ASCII characters).
std::pair<Encoding, size_t> detectEncoding(std::string_view bytes) {
    auto byte = [&](size_t i) { return i < bytes.size() ? static_cast<unsigned char>(bytes[i]) : 0x100u; };
    if (byte(0) == 0x00 && byte(1) == 0x00 && byte(2) == 0xFE && byte(3) == 0xFF)
        return {Encoding::utf32BE, 4};
    if (byte(0) == 0xFF && byte(1) == 0xFE && byte(2) == 0x00 && byte(3) == 0x00)
        return {Encoding::utf32LE, 4};
    if (byte(0) == 0xFE && byte(1) == 0xFF) return {Encoding::utf16BE, 2};
    if (byte(0) == 0xFF && byte(1) == 0xFE) return {Encoding::utf16LE, 2};
    if (byte(0) == 0xEF && byte(1) == 0xBB && byte(2) == 0xBF) return {Encoding::utf8, 3};
    if (bytes.size() >= 4) {
        bool z0 = byte(0) == 0, z1 = byte(1) == 0, z2 = byte(2) == 0, z3 = byte(3) == 0;
        if (z0 && z1 && z2 && !z3) return {Encoding::utf32BE, 0};
        if (!z0 && z1 && z2 && z3) return {Encoding::utf32LE, 0};
        if (z0 && !z1 && z2 && !z3) return {Encoding::utf16BE, 0};
        if (!z0 && z1 && !z2 && z3) return {Encoding::utf16LE, 0};
    } else if (bytes.size() == 2) {
        if (byte(0) == 0 && byte(1) != 0) return {Encoding::utf16BE, 0};
        if (byte(0) != 0 && byte(1) == 0) return {Encoding::utf16LE, 0};
    }
    return {Encoding::utf8, 0};
}

// UTF-16 or UTF-32 text (mark already dropped) as UTF-8; a malformed unit is refused.
std::string transcodeToUTF8(std::string_view bytes, Encoding encoding) {
    using platform::UnicodeForm;
    const UnicodeForm form = encoding == Encoding::utf16BE   ? UnicodeForm::utf16BigEndian
                             : encoding == Encoding::utf16LE ? UnicodeForm::utf16LittleEndian
                             : encoding == Encoding::utf32BE ? UnicodeForm::utf32BigEndian
                                                             : UnicodeForm::utf32LittleEndian;
    const char* name = platform::unitWidth(form) == 4 ? "UTF-32" : "UTF-16";
    if (bytes.size() % platform::unitWidth(form) != 0)
        refuse(std::string("Not valid JSON: the ") + name + " text ends in a partial character");
    size_t faultAt = 0;
    auto text = platform::utf8FromWideText(bytes, form, &faultAt);
    if (!text)
        refuse(std::string("Not valid JSON: the ") + name + " text is malformed at byte " +
               std::to_string(faultAt));
    return std::move(*text);
}

// `parse(text)` over the text as UTF-8, after the checks every parse shares;
// the parser's errors become JSONDecodingError.
template <class Parse> auto parseChecked(std::string_view bytes, size_t maxNesting, Parse parse) {
    auto [encoding, mark] = detectEncoding(bytes);
    std::string transcoded;
    if (encoding != Encoding::utf8) transcoded = transcodeToUTF8(bytes.substr(mark), encoding);
    bytes = encoding == Encoding::utf8 ? bytes.substr(mark) : std::string_view(transcoded);
    if (bytes.find_first_not_of(" \t\r\n") == std::string_view::npos)
        refuse("Not valid JSON: the file is empty");
    checkNesting(bytes, maxNesting);
    try {
        return parse(bytes);
    } catch (const nlohmann::json::parse_error& error) {
        refuse(syntaxErrorDescription(error, bytes));
    } catch (const nlohmann::json::exception& error) {
        // A number too large for a double, say; the message quotes only the number's own characters.
        std::string what = error.what();
        auto prefixEnd = what.find("] ");
        refuse("Not valid JSON: " + (prefixEnd == std::string::npos ? what : what.substr(prefixEnd + 2)));
    }
}

} // namespace

template <class Value> Value parseJSONDocument(std::string_view bytes, size_t maxNesting) {
    return parseChecked(bytes, maxNesting, [](std::string_view text) { return Value::parse(text); });
}

bool JSONEvents::parse_error(std::size_t, const std::string&, const nlohmann::detail::exception& error) {
    // Thrown on, so that parseChecked describes it as it does for a whole-tree parse.
    if (auto* syntax = dynamic_cast<const nlohmann::json::parse_error*>(&error)) throw *syntax;
    if (auto* range = dynamic_cast<const nlohmann::json::out_of_range*>(&error)) throw *range;
    throw JSONDecodingError(std::string("Not valid JSON: ") + error.what());
}

void parseJSONEvents(std::string_view bytes, JSONEvents& events, size_t maxNesting) {
    parseChecked(bytes, maxNesting, [&](std::string_view text) { JSONValue::sax_parse(text, &events); });
}

template <class Value> std::optional<Value> parseJSONIfValid(std::string_view bytes, size_t maxNesting) {
    try {
        return parseJSONDocument<Value>(bytes, maxNesting);
    } catch (const JSONDecodingError&) {
        return std::nullopt;
    }
}

template nlohmann::json parseJSONDocument<nlohmann::json>(std::string_view, size_t);
template nlohmann::ordered_json parseJSONDocument<nlohmann::ordered_json>(std::string_view, size_t);
template std::optional<nlohmann::json> parseJSONIfValid<nlohmann::json>(std::string_view, size_t);
template std::optional<nlohmann::ordered_json> parseJSONIfValid<nlohmann::ordered_json>(std::string_view,
                                                                                        size_t);

std::string jsonTypeDescription(const JSONValue& value) {
    switch (value.type()) {
    case JSONValue::value_t::null:
        return "null";
    case JSONValue::value_t::object:
        return "an object";
    case JSONValue::value_t::array:
        return "an array";
    case JSONValue::value_t::string:
        return "a string";
    case JSONValue::value_t::boolean:
        return "a boolean";
    case JSONValue::value_t::number_integer:
    case JSONValue::value_t::number_unsigned:
    case JSONValue::value_t::number_float:
        return "a number";
    default:
        return "a value of another kind";
    }
}

std::string jsonChildPath(const std::string& path, std::string_view key) {
    return path.empty() ? std::string(key) : path + "." + std::string(key);
}

std::string jsonElementPath(const std::string& path, size_t index) {
    return path + "[" + std::to_string(index) + "]";
}

void throwJSONTypeMismatch(std::string_view expected, const std::string& path, const JSONValue& found) {
    refuse("Expected " + std::string(expected) + " at " + path + " but found " + jsonTypeDescription(found));
}

JSONObjectReader::JSONObjectReader(const JSONValue& value, std::string path)
    : value_(value), path_(std::move(path)) {
    if (!value_.is_object())
        throwJSONTypeMismatch("an object", path_.empty() ? "the top level" : path_, value_);
}

const JSONValue& JSONObjectReader::member(const char* key) const {
    auto found = value_.find(key);
    if (found == value_.end()) refuse("Missing required key at " + pathOf(key));
    return *found;
}

const JSONValue* JSONObjectReader::optionalMember(const char* key) const {
    auto found = value_.find(key);
    if (found == value_.end() || found->is_null()) return nullptr;
    return &*found;
}

std::string JSONObjectReader::string(const char* key) const {
    const JSONValue& found = member(key);
    if (!found.is_string()) throwJSONTypeMismatch("a string", pathOf(key), found);
    return found.get<std::string>();
}

std::optional<std::string> JSONObjectReader::optionalString(const char* key) const {
    const JSONValue* found = optionalMember(key);
    if (!found) return std::nullopt;
    if (!found->is_string()) throwJSONTypeMismatch("a string", pathOf(key), *found);
    return found->get<std::string>();
}

bool JSONObjectReader::boolean(const char* key) const {
    const JSONValue& found = member(key);
    if (!found.is_boolean()) throwJSONTypeMismatch("a boolean", pathOf(key), found);
    return found.get<bool>();
}

int64_t JSONObjectReader::integer(const char* key) const {
    const JSONValue& found = member(key);
    if (found.is_number_integer()) return found.get<int64_t>();
    if (found.is_number_unsigned()) {
        if (found.get<uint64_t>() <= static_cast<uint64_t>(INT64_MAX)) return found.get<int64_t>();
    } else if (found.is_number_float()) {
        double value = found.get<double>();
        // 2^63 is the first double beyond int64.
        if (value == std::trunc(value) && value >= -9223372036854775808.0 && value < 9223372036854775808.0)
            return static_cast<int64_t>(value);
    } else {
        throwJSONTypeMismatch("a whole number", pathOf(key), found);
    }
    refuse("Number at " + pathOf(key) + " is not a whole number that fits 64 bits");
}

double JSONObjectReader::number(const char* key, std::string_view expected) const {
    const JSONValue& found = member(key);
    if (!found.is_number()) throwJSONTypeMismatch(expected, pathOf(key), found);
    double value = found.get<double>();
    if (!std::isfinite(value)) refuse("Number out of range at " + pathOf(key));
    return value;
}

JSONObjectReader JSONObjectReader::object(const char* key) const {
    return JSONObjectReader(member(key), pathOf(key));
}

} // namespace mivora::core
