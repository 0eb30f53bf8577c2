// Decoding of every JSON text the tool reads (files and service answers): a parse
// that refuses empty, malformed and absurdly deep text with a line and column,
// and an object reader whose errors say what is wrong and where
// ("Missing required key at icons.notion.status").
#pragma once

#include <cstddef>
#include <cstdint>
#include <nlohmann/json.hpp>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>

namespace mivora::core {

using JSONValue = nlohmann::json;

class JSONDecodingError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// Arrays and objects nested deeper than this are refused before parsing.
inline constexpr size_t kDefaultMaxJSONNesting = 256;

// Text in UTF-16 or UTF-32 (either byte order, with or without a byte-order mark,
// told apart by the zero bytes among the first four) is read as well as UTF-8.
// Throws JSONDecodingError: "Not valid JSON: the file is empty",
// "Not valid JSON at line 2, column 16: <reason>".
// `Value` is nlohmann::json or nlohmann::ordered_json.
template <class Value = JSONValue>
Value parseJSONDocument(std::string_view bytes, size_t maxNesting = kDefaultMaxJSONNesting);

// The same for readers that take what they can: nothing when the text does not parse.
template <class Value = JSONValue>
std::optional<Value> parseJSONIfValid(std::string_view bytes, size_t maxNesting = kDefaultMaxJSONNesting);

// A receiver of the parser's events; a syntax error ends the parse with the same
// JSONDecodingError that parseJSONDocument gives.
class JSONEvents : public nlohmann::json_sax<JSONValue> {
public:
    bool parse_error(std::size_t position, const std::string& lastToken,
                     const nlohmann::detail::exception& error) final;
};

// The same checks and errors, with the parser's events handed to `events` instead
// of a tree being built, for documents too large to hold twice.
void parseJSONEvents(std::string_view bytes, JSONEvents& events, size_t maxNesting = kDefaultMaxJSONNesting);

extern template nlohmann::json parseJSONDocument<nlohmann::json>(std::string_view, size_t);
extern template nlohmann::ordered_json parseJSONDocument<nlohmann::ordered_json>(std::string_view, size_t);
extern template std::optional<nlohmann::json> parseJSONIfValid<nlohmann::json>(std::string_view, size_t);
extern template std::optional<nlohmann::ordered_json>
    parseJSONIfValid<nlohmann::ordered_json>(std::string_view, size_t);

// "null", "an object", "a string", "a number", ...
std::string jsonTypeDescription(const JSONValue& value);

// "<path>.<key>", or the key alone at the top level.
std::string jsonChildPath(const std::string& path, std::string_view key);
// "<path>[<index>]"
std::string jsonElementPath(const std::string& path, size_t index);

// "Expected <expected> at <path> but found <kind of found>"
[[noreturn]] void throwJSONTypeMismatch(std::string_view expected, const std::string& path,
                                        const JSONValue& found);

// The members of one object, read by key. Every accessor throws JSONDecodingError.
class JSONObjectReader {
public:
    // `path` names the object in messages; empty for the top level. Throws unless `value` is an object.
    JSONObjectReader(const JSONValue& value, std::string path);

    const JSONValue& value() const { return value_; }
    const std::string& path() const { return path_; }
    std::string pathOf(std::string_view key) const { return jsonChildPath(path_, key); }

    // The member, which must be there.
    const JSONValue& member(const char* key) const;
    // The member, or nothing when it is absent or null.
    const JSONValue* optionalMember(const char* key) const;

    std::string string(const char* key) const;
    std::optional<std::string> optionalString(const char* key) const;
    bool boolean(const char* key) const;
    // A whole number (written with or without a fraction of zero) that fits 64 bits.
    int64_t integer(const char* key) const;
    // Any finite number.
    double number(const char* key, std::string_view expected = "a number") const;
    JSONObjectReader object(const char* key) const;

private:
    const JSONValue& value_;
    std::string path_;
};

} // namespace mivora::core
