// JSON output in the platform encoder's two forms: the pretty, key-sorted form
// of every --json reply, and the compact, key-ordered form of the files the tool
// stores. Parsing is nlohmann's; only writing is ours.
#pragma once

#include <nlohmann/json.hpp>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
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
template <class T> void setOptional(Json& object, const char* key, const std::optional<T>& value) {
    if (value) object[key] = *value;
}

// The toJson() of each record, in order; an empty list gives [].
template <class Record> Json jsonArray(const std::vector<Record>& records) {
    Json array = Json::array();
    for (const auto& record : records)
        array.push_back(record.toJson());
    return array;
}

// The pretty form written as it goes, for replies of thousands of records that
// need no tree built first; the bytes are those writeJSON gives for the same
// document. Keys must come in the order the pretty form sorts them into (plain
// byte order); a key out of order throws JSONEncodingError.
class PrettyJSONWriter {
public:
    void beginObject();
    void endObject();
    void beginArray();
    void endArray();
    void key(std::string_view name);
    void value(std::string_view text);
    void value(const char* text) { value(std::string_view(text)); }
    void value(bool flag);
    void value(int64_t number);
    void value(int number) { value(static_cast<int64_t>(number)); }
    template <class T> void member(std::string_view name, const T& content) {
        key(name);
        value(content);
    }

    // Room for about this many bytes, when the caller can tell.
    void reserve(size_t bytes) { out_.reserve(bytes); }
    const std::string& text() const { return out_; }

private:
    struct Level {
        bool object;
        bool empty = true;
        std::string lastKey;
    };
    void beforeValue();
    void open(char bracket, bool object);
    void close(char bracket, bool object);

    std::string out_;
    std::vector<Level> levels_;
    bool afterKey_ = false;
};

// Prints a reply record pretty on standard output followed by a line break: one
// with a write(PrettyJSONWriter&) member straight from its fields, any other
// through its toJson() member.
void printJSONDocument(const Json& document);
void printJSONText(const std::string& text);
template <class Reply> void printJSON(const Reply& reply) {
    if constexpr (requires(PrettyJSONWriter & writer) { reply.write(writer); }) {
        PrettyJSONWriter writer;
        reply.write(writer);
        printJSONText(writer.text());
    } else {
        printJSONDocument(reply.toJson());
    }
}

} // namespace mivora::core
