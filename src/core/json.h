// JSON output in the platform encoder's two forms: the pretty, key-sorted form
// of every --json reply, and the compact, key-ordered form of the files the tool
// stores. Parsing is nlohmann's; only writing is ours.
#pragma once

#include <nlohmann/json.hpp>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

namespace mivora::core {

using Json = nlohmann::ordered_json;

class JSONEncodingError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

enum class JSONStyle {
    pretty,  // two-blank indent, "key" : value, keys sorted at every level
    compact, // no white space, keys in the order given
};

// Throws JSONEncodingError for a number that is not finite.
std::string writeJSON(const Json& value, JSONStyle style);

// Seconds since 1 January 2001 00:00:00 UTC, the platform's date form.
double secondsSinceReferenceDate();
constexpr double kReferenceDateUnixOffset = 978307200.0;

// Sets `key` only when the optional holds a value, so absent optionals leave their key out.
template <class T>
void setOptional(Json& object, const char* key, const std::optional<T>& value) {
    if (value) object[key] = *value;
}

// The toJson() of each record, in order; an empty list gives [].
template <class Record>
Json jsonArray(const std::vector<Record>& records) {
    Json array = Json::array();
    for (const auto& record : records) array.push_back(record.toJson());
    return array;
}

// Prints a reply record (anything with a toJson() member) pretty on standard
// output followed by a line break.
void printJSONDocument(const Json& document);
template <class Reply>
void printJSON(const Reply& reply) {
    printJSONDocument(reply.toJson());
}

} // namespace mivora::core
