// A quick reader for the top-level text values of XML property lists. It
// accepts only the plain, well-formed shape that tools write (prolog, one
// <plist> holding one <dict>, the usual elements and the five named entities)
// and otherwise declines, leaving the verdict to libplist, so its answers
// never differ from a full parse.
#include "platform/property_list.h"
#include "platform/utf8.h"

#include <algorithm>
#include <initializer_list>
#include <utility>

namespace mivora::platform {

std::optional<std::string_view> PlistStrings::text(std::string_view key) const {
    for (const auto& [name, value] : entries_) {
        if (name == key) return value;
    }
    return std::nullopt;
}

class PlistStringsBuilder {
public:
    explicit PlistStringsBuilder(std::string document) {
        result_.storage_ = std::make_shared<PlistStrings::Storage>();
        result_.storage_->document = std::move(document);
        result_.entries_.reserve(16);
    }

    std::string_view document() const { return result_.storage_->document; }
    std::string_view keep(std::string text) {
        return result_.storage_->decoded.emplace_front(std::move(text));
    }

    // A later value of a key replaces the earlier one, whatever its kind.
    void set(std::string_view key, std::optional<std::string_view> value) {
        auto& entries = result_.entries_;
        auto found = std::find_if(entries.begin(), entries.end(),
                                  [&](const auto& entry) { return entry.first == key; });
        if (found != entries.end()) entries.erase(found);
        if (value) entries.emplace_back(key, *value);
    }

    void clear() {
        result_.entries_.clear();
        result_.storage_->decoded.clear();
    }

    PlistStrings finish() { return std::move(result_); }

private:
    PlistStrings result_;
};

namespace {

class XMLPlistScanner {
public:
    explicit XMLPlistScanner(PlistStringsBuilder& builder) : builder_(builder), text_(builder.document()) {}

    // False: declined (not necessarily invalid).
    bool scan() {
        if (!prolog()) return false;
        if (!skipPlistStartTag()) return false;
        skipSpace();
        if (take("<dict/>")) {
        } else if (!take("<dict>") || !dictionaryBody(/*record=*/true, 0)) {
            return false;
        }
        skipSpace();
        if (!take("</plist>")) return false;
        skipSpace();
        return at_ == text_.size();
    }

private:
    static constexpr int kMaxDepth = 64;

    bool startsWith(std::string_view literal) const { return text_.substr(at_, literal.size()) == literal; }

    bool take(std::string_view literal) {
        if (!startsWith(literal)) return false;
        at_ += literal.size();
        return true;
    }

    void skipSpace() {
        while (at_ < text_.size() &&
               (text_[at_] == ' ' || text_[at_] == '\t' || text_[at_] == '\n' || text_[at_] == '\r'))
            ++at_;
    }

    // The markup before and around the dictionary is accepted only in the form
    // tools write; libplist judges every other spelling of it.

    // White space, `name`, "=", and one of `values` in double or single quotes;
    // nothing is consumed unless all of it is there.
    bool pseudoAttribute(std::string_view name, std::initializer_list<std::string_view> values) {
        const size_t before = at_;
        skipSpace();
        if (at_ > before && take(name)) {
            skipSpace();
            if (take("=")) {
                skipSpace();
                for (char quote : {'"', '\''}) {
                    for (std::string_view value : values) {
                        if (take(std::string(1, quote) + std::string(value) + quote)) return true;
                    }
                }
            }
        }
        at_ = before;
        return false;
    }

    // White space and a quoted literal of printable ASCII.
    bool literal() {
        const size_t before = at_;
        skipSpace();
        if (at_ == before || at_ >= text_.size() || (text_[at_] != '"' && text_[at_] != '\'')) return false;
        const char quote = text_[at_];
        const size_t end = text_.find(quote, at_ + 1);
        if (end == std::string_view::npos) return false;
        for (char c : text_.substr(at_ + 1, end - at_ - 1)) {
            if (c < 0x20 || c > 0x7E || c == '<' || c == '>' || c == '&') return false;
        }
        at_ = end + 1;
        return true;
    }

    // <?xml version="1.0" [encoding="UTF-8"] [standalone="yes|no"]?>, or nothing.
    bool xmlDeclaration() {
        if (!take("<?xml")) return true;
        if (!pseudoAttribute("version", {"1.0"})) return false;
        pseudoAttribute("encoding", {"UTF-8", "utf-8"});
        pseudoAttribute("standalone", {"yes", "no"});
        skipSpace();
        return take("?>");
    }

    // <!DOCTYPE plist [PUBLIC "..." "..." | SYSTEM "..."]>
    bool doctype() {
        if (!take("<!DOCTYPE") || !pseudoName("plist")) return false;
        if (pseudoName("PUBLIC")) {
            if (!literal() || !literal()) return false;
        } else if (pseudoName("SYSTEM")) {
            if (!literal()) return false;
        }
        skipSpace();
        return take(">");
    }

    // White space and a name.
    bool pseudoName(std::string_view name) {
        const size_t before = at_;
        skipSpace();
        if (at_ > before && take(name)) return true;
        at_ = before;
        return false;
    }

    // A comment of plain text: no "--" inside, no control character but white space, UTF-8.
    bool comment() {
        if (!take("<!--")) return false;
        const size_t end = text_.find("--", at_);
        if (end == std::string_view::npos || text_.substr(end, 3) != "-->") return false;
        const std::string_view content = text_.substr(at_, end - at_);
        for (char c : content) {
            if (static_cast<unsigned char>(c) < 0x20 && c != '\t' && c != '\n' && c != '\r') return false;
        }
        if (!isValidUTF8(content)) return false;
        at_ = end + 3;
        return true;
    }

    // An optional XML declaration, then comments and at most one DOCTYPE.
    bool prolog() {
        if (!xmlDeclaration()) return false;
        bool sawDoctype = false;
        for (;;) {
            skipSpace();
            if (startsWith("<!--")) {
                if (!comment()) return false;
            } else if (!sawDoctype && startsWith("<!DOCTYPE")) {
                if (!doctype()) return false;
                sawDoctype = true;
            } else {
                return true;
            }
        }
    }

    // <plist> or <plist version="1.0">
    bool skipPlistStartTag() {
        if (!take("<plist")) return false;
        pseudoAttribute("version", {"1.0"});
        skipSpace();
        return take(">");
    }

    // Character data up to the closing tag `close`, entities decoded: a slice of
    // the document when it holds none.
    std::optional<std::string_view> characters(std::string_view close) {
        size_t start = at_;
        std::optional<std::string> decoded;
        for (;;) {
            size_t run = at_;
            const char* data = text_.data();
            const size_t size = text_.size();
            while (run < size) {
                auto c = static_cast<unsigned char>(data[run]);
                // Line-end normalisation and control characters are the full parser's business.
                if (c <= '<' && (c == '<' || c == '&' || (c < 0x20 && c != '\t' && c != '\n'))) break;
                ++run;
            }
            if (decoded) decoded->append(text_.substr(at_, run - at_));
            at_ = run;
            if (at_ >= text_.size() || text_[at_] != '&') break;
            if (!decoded) decoded.emplace(text_.substr(start, at_ - start));
            if (!entity(*decoded)) return std::nullopt;
        }
        std::string_view content = decoded ? std::string_view(*decoded) : text_.substr(start, at_ - start);
        if (!take(close) || !isValidUTF8(content)) return std::nullopt;
        return decoded ? builder_.keep(std::move(*decoded)) : content;
    }

    bool entity(std::string& decoded) {
        static constexpr std::pair<std::string_view, char> entities[] = {
            {"&lt;", '<'}, {"&gt;", '>'}, {"&amp;", '&'}, {"&quot;", '"'}, {"&apos;", '\''}};
        for (const auto& [name, replacement] : entities) {
            if (take(name)) {
                decoded += replacement;
                return true;
            }
        }
        return false;
    }

    bool dictionaryBody(bool record, int depth) {
        for (;;) {
            skipSpace();
            if (take("</dict>")) return true;
            if (!take("<key>")) return false;
            auto key = characters("</key>");
            if (!key) return false;
            skipSpace();
            if (!record) {
                if (!value(depth + 1)) return false;
            } else if (take("<string>")) {
                auto content = characters("</string>");
                if (!content) return false;
                builder_.set(*key, content);
            } else if (take("<string/>")) {
                builder_.set(*key, std::string_view());
            } else {
                if (!value(depth + 1)) return false;
                builder_.set(*key, std::nullopt);
            }
        }
    }

    // One value below the top level, checked and skipped.
    bool value(int depth) {
        if (depth > kMaxDepth) return false;
        if (take("<dict>")) return dictionaryBody(false, depth);
        if (take("<array>")) {
            for (;;) {
                skipSpace();
                if (take("</array>")) return true;
                if (!value(depth + 1)) return false;
            }
        }
        for (std::string_view empty : {"<dict/>", "<array/>", "<true/>", "<false/>", "<string/>"}) {
            if (take(empty)) return true;
        }
        static constexpr std::pair<std::string_view, std::string_view> leaves[] = {
            {"<string>", "</string>"},
            {"<integer>", "</integer>"},
            {"<real>", "</real>"},
            {"<date>", "</date>"},
            {"<data>", "</data>"}};
        for (const auto& [open, close] : leaves) {
            if (take(open)) return characters(close).has_value();
        }
        return false;
    }

    PlistStringsBuilder& builder_;
    std::string_view text_;
    size_t at_ = 0;
};

} // namespace

std::optional<PlistStrings> scanTopLevelStrings(std::string bytes) {
    PlistStringsBuilder builder(std::move(bytes));
    if (!XMLPlistScanner(builder).scan()) return std::nullopt;
    return builder.finish();
}

std::optional<PlistStrings> topLevelStrings(std::string bytes) {
    std::string decoded;
    std::string_view readable = propertyListText(bytes, decoded);
    // Rare (a byte-order mark, UTF-16): the scanner's views must point into the
    // text it reads, and the full parse is given the file's own bytes, so that
    // nothing is taken off twice.
    std::optional<std::string> original;
    if (readable.data() != bytes.data()) {
        std::string text = readable.data() == decoded.data() ? std::move(decoded) : std::string(readable);
        original = std::exchange(bytes, std::move(text));
    }
    PlistStringsBuilder builder(std::move(bytes));
    if (XMLPlistScanner(builder).scan()) return builder.finish();

    builder.clear();
    auto plist = parsePropertyList(original ? std::string_view(*original) : builder.document());
    if (!plist || !plist->view().isDictionary()) return std::nullopt;
    auto view = plist->view();
    for (const auto& key : view.keys()) {
        if (auto text = view[key].string()) builder.set(builder.keep(key), builder.keep(std::move(*text)));
    }
    return builder.finish();
}

std::optional<PlistStrings> readTopLevelStrings(const std::string& path, ReadLimit limit) {
    auto bytes = readFile(path, limit);
    if (!bytes) return std::nullopt;
    return topLevelStrings(std::move(*bytes));
}

std::optional<PlistStrings> readTopLevelStrings(const OpenedFolder& folder, const std::string& relativePath,
                                                ReadLimit limit) {
    std::string bytes;
    if (!readFileInto(folder, relativePath, limit, bytes)) return std::nullopt;
    return topLevelStrings(std::move(bytes));
}

} // namespace mivora::platform
