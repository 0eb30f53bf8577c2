#include "core/json.h"

#include "core/output.h"
#include "core/text.h"

#include <algorithm>
#include <charconv>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <vector>

namespace mivora::core {

namespace {

bool needsEscape(unsigned char c) {
    return c < 0x20 || c == '"' || c == '\\' || c == '/';
}

void writeString(std::string& out, std::string_view text) {
    // The last line of defence: a document never carries ill-formed UTF-8.
    if (!isValidUTF8(text)) {
        writeString(out, validUTF8(text));
        return;
    }
    out += '"';
    size_t run = 0; // the start of the bytes not yet written, which need no escape
    for (size_t i = 0; i < text.size(); ++i) {
        auto c = static_cast<unsigned char>(text[i]);
        if (!needsEscape(c)) continue;
        out.append(text.data() + run, i - run);
        run = i + 1;
        switch (c) {
        case '"':
            out += "\\\"";
            break;
        case '\\':
            out += "\\\\";
            break;
        case '/':
            out += "\\/";
            break;
        case '\n':
            out += "\\n";
            break;
        case '\r':
            out += "\\r";
            break;
        case '\t':
            out += "\\t";
            break;
        case '\b':
            out += "\\b";
            break;
        case '\f':
            out += "\\f";
            break;
        default: {
            char escape[8];
            std::snprintf(escape, sizeof escape, "\\u%04x", c);
            out += escape;
        }
        }
    }
    out.append(text.data() + run, text.size() - run);
    out += '"';
}

void writeDouble(std::string& out, double value) {
    if (!std::isfinite(value))
        throw JSONEncodingError("Unable to encode " + std::to_string(value) + " directly in JSON.");
    if (value == std::trunc(value) && std::fabs(value) < 1e15) {
        char buffer[32];
        auto result = std::to_chars(buffer, buffer + sizeof buffer, static_cast<long long>(value));
        out.append(buffer, result.ptr);
        return;
    }
    char buffer[64];
    auto result = std::to_chars(buffer, buffer + sizeof buffer, value);
    out.append(buffer, result.ptr);
}

// A line break and the indent of `level` in the pretty form.
void newline(std::string& out, size_t level) {
    out += '\n';
    out.append(level * 2, ' ');
}

void write(std::string& out, const Json& value, JSONStyle style, int depth) {
    const bool pretty = style == JSONStyle::pretty;
    auto breakLine = [&](int level) {
        if (pretty) newline(out, static_cast<size_t>(level));
    };
    switch (value.type()) {
    case Json::value_t::null:
        out += "null";
        break;
    case Json::value_t::boolean:
        out += value.get<bool>() ? "true" : "false";
        break;
    case Json::value_t::number_integer:
        out += std::to_string(value.get<int64_t>());
        break;
    case Json::value_t::number_unsigned:
        out += std::to_string(value.get<uint64_t>());
        break;
    case Json::value_t::number_float:
        writeDouble(out, value.get<double>());
        break;
    case Json::value_t::string:
        writeString(out, value.get_ref<const std::string&>());
        break;
    case Json::value_t::binary:
        throw JSONEncodingError("Binary values are not JSON.");
    case Json::value_t::discarded:
        throw JSONEncodingError("Discarded value.");
    case Json::value_t::array: {
        out += '[';
        bool first = true;
        for (const auto& item : value) {
            if (!first) out += ',';
            first = false;
            breakLine(depth + 1);
            write(out, item, style, depth + 1);
        }
        if (!value.empty()) breakLine(depth);
        out += ']';
        break;
    }
    case Json::value_t::object: {
        std::vector<Json::const_iterator> members;
        for (auto it = value.begin(); it != value.end(); ++it)
            members.push_back(it);
        if (pretty) {
            std::stable_sort(members.begin(), members.end(),
                             [](const auto& a, const auto& b) { return a.key() < b.key(); });
        }
        out += '{';
        bool first = true;
        for (const auto& member : members) {
            if (!first) out += ',';
            first = false;
            breakLine(depth + 1);
            writeString(out, member.key());
            out += pretty ? " : " : ":";
            write(out, member.value(), style, depth + 1);
        }
        if (!members.empty()) breakLine(depth);
        out += '}';
        break;
    }
    }
}

} // namespace

std::string writeJSON(const Json& value, JSONStyle style) {
    std::string out;
    write(out, value, style, 0);
    return out;
}

double secondsSinceReferenceDate() {
    auto now = std::chrono::system_clock::now().time_since_epoch();
    return std::chrono::duration<double>(now).count() - kReferenceDateUnixOffset;
}

void printJSONDocument(const Json& document) {
    printLine(writeJSON(document, JSONStyle::pretty));
}

void printJSONText(const std::string& text) {
    printLine(text);
}

void PrettyJSONWriter::beforeValue() {
    if (afterKey_) {
        afterKey_ = false;
        return;
    }
    if (levels_.empty()) {
        if (!out_.empty()) throw JSONEncodingError("A document holds one value.");
        return;
    }
    auto& level = levels_.back();
    if (level.object) throw JSONEncodingError("An object member needs its key first.");
    if (!level.empty) out_ += ',';
    level.empty = false;
    newline(out_, levels_.size());
}

void PrettyJSONWriter::open(char bracket, bool object) {
    beforeValue();
    out_ += bracket;
    levels_.push_back(Level{object});
}

void PrettyJSONWriter::close(char bracket, bool object) {
    if (levels_.empty() || levels_.back().object != object || afterKey_)
        throw JSONEncodingError("Unbalanced JSON containers.");
    bool empty = levels_.back().empty;
    levels_.pop_back();
    if (!empty) newline(out_, levels_.size());
    out_ += bracket;
}

void PrettyJSONWriter::beginObject() {
    open('{', true);
}

void PrettyJSONWriter::endObject() {
    close('}', true);
}

void PrettyJSONWriter::beginArray() {
    open('[', false);
}

void PrettyJSONWriter::endArray() {
    close(']', false);
}

void PrettyJSONWriter::key(std::string_view name) {
    if (levels_.empty() || !levels_.back().object || afterKey_)
        throw JSONEncodingError("A key belongs in an object.");
    auto& level = levels_.back();
    if (!level.empty && name <= level.lastKey)
        throw JSONEncodingError("Keys of the pretty form come in sorted order.");
    if (!level.empty) out_ += ',';
    level.empty = false;
    level.lastKey = name;
    newline(out_, levels_.size());
    writeString(out_, name);
    out_ += " : ";
    afterKey_ = true;
}

void PrettyJSONWriter::value(std::string_view text) {
    beforeValue();
    writeString(out_, text);
}

void PrettyJSONWriter::value(bool flag) {
    beforeValue();
    out_ += flag ? "true" : "false";
}

void PrettyJSONWriter::value(int64_t number) {
    beforeValue();
    out_ += std::to_string(number);
}

} // namespace mivora::core
