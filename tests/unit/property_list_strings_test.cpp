// The quick reader of top-level text values must always agree with a full
// parse: the same values for the documents it reads itself, the same verdict
// for those it leaves to libplist.
#include "platform/property_list.h"
#include "support/property_list_forms.h"

#include <gtest/gtest.h>
#include <map>

namespace mivora::platform {
namespace {

using Strings = std::map<std::string, std::string>;

std::optional<Strings> asMap(const std::optional<PlistStrings>& strings) {
    if (!strings) return std::nullopt;
    Strings result;
    for (const auto& [key, value] : strings->entries())
        result[std::string(key)] = std::string(value);
    return result;
}

std::optional<Strings> full(const std::string& bytes) {
    auto plist = parsePropertyList(bytes);
    if (!plist || !plist->view().isDictionary()) return std::nullopt;
    Strings result;
    for (const auto& key : plist->view().keys()) {
        if (auto text = plist->view()[key].string()) result[key] = *text;
    }
    return result;
}

const std::string kHead = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
                          "<!DOCTYPE plist PUBLIC \"-//Apple//DTD PLIST 1.0//EN\" "
                          "\"http://www.apple.com/DTDs/PropertyList-1.0.dtd\">\n"
                          "<plist version=\"1.0\">\n";

std::string document(const std::string& body) {
    return kHead + "<dict>\n" + body + "</dict>\n</plist>\n";
}

TEST(TopLevelStrings, AgreesWithFullParse) {
    // Which reader answers: the quick one itself, or libplist after it declined.
    enum Reader { quick, libplist };
    struct Case {
        std::string title;
        std::string bytes;
        Reader reader;
        std::optional<Strings> expected;
        bool pinned = true; // false: whatever libplist decides
    };
    const std::vector<Case> cases = {
        {"typical Info.plist",
         document("\t<key>CFBundleIdentifier</key>\n\t<string>com.example.App</string>\n"
                  "\t<key>CFBundleName</key>\n\t<string>App</string>\n"
                  "\t<key>LSRequiresNativeExecution</key>\n\t<true/>\n"
                  "\t<key>CFBundleDocumentTypes</key>\n\t<array>\n\t\t<dict>\n"
                  "\t\t\t<key>CFBundleTypeName</key>\n\t\t\t<string>Nested, not top level</string>\n"
                  "\t\t\t<key>LSItemContentTypes</key>\n\t\t\t<array><string>public.text</string><array/></"
                  "array>\n"
                  "\t\t</dict>\n\t</array>\n"
                  "\t<key>Version</key>\n\t<integer>12</integer>\n\t<key>Ratio</key>\n\t<real>1.5</real>\n"
                  "\t<key>Built</key>\n\t<date>2024-01-02T03:04:05Z</date>\n\t<key>Blob</key>\n\t<data>AAEC</"
                  "data>\n"
                  "\t<key>Empty</key>\n\t<string/>\n\t<key>Nothing</key>\n\t<dict/>\n"),
         quick, Strings{{"CFBundleIdentifier", "com.example.App"}, {"CFBundleName", "App"}, {"Empty", ""}}},
        {"entities in keys and values",
         document("<key>A&amp;B</key><string>&lt;x&gt; &quot;q&quot; &apos;s&apos; &amp;amp;</string>"),
         quick, Strings{{"A&B", "<x> \"q\" 's' &amp;"}}},
        {"a later value replaces an earlier one",
         document("<key>K</key><string>first</string><key>K</key><string>second</string>"
                  "<key>L</key><string>text</string><key>L</key><integer>1</integer>"),
         quick, Strings{{"K", "second"}}},
        {"white space kept inside texts", document("<key>K</key><string>  two\n lines </string>"), quick,
         Strings{{"K", "  two\n lines "}}},
        {"non-ASCII text", document("<key>Name</key><string>Café — 東京</string>"), quick,
         Strings{{"Name", "Café — 東京"}}},
        {"no prolog", "<plist><dict><key>K</key><string>v</string></dict></plist>", quick,
         Strings{{"K", "v"}}},
        {"empty top dictionary", kHead + "<dict/>\n</plist>\n", quick, Strings{}},
        // Left to libplist, whatever it decides:
        {"numeric character references", document("<key>K</key><string>&#65;&#x42;</string>"), libplist,
         std::nullopt, false},
        {"comment inside the dictionary", document("<!-- note --><key>K</key><string>v</string>"), libplist,
         std::nullopt, false},
        {"CDATA section", document("<key>K</key><string><![CDATA[<raw>]]></string>"), libplist, std::nullopt,
         false},
        {"carriage returns in a text", document("<key>K</key><string>a\r\nb</string>"), libplist,
         std::nullopt, false},
        {"no plist element", "<dict><key>K</key><string>v</string></dict>", libplist, std::nullopt, false},
        {"trailing bytes", document("<key>K</key><string>v</string>") + "junk", libplist, std::nullopt,
         false},
        {"invalid UTF-8 in a text", document("<key>K</key><string>\xff\xfe</string>"), libplist, std::nullopt,
         false},
        // Not property lists, or not dictionaries:
        {"truncated", document("<key>K</key><string>v</string>").substr(0, 150), libplist, std::nullopt},
        {"key without value (dropped)", document("<key>K</key>"), libplist, Strings{}},
        {"unknown element", document("<key>K</key><widget/>"), libplist, std::nullopt},
        {"unknown entity", document("<key>K</key><string>&bogus;</string>"), libplist, std::nullopt},
        {"mismatched close tag", document("<key>K</key><string>v</key>"), libplist, std::nullopt},
        {"top-level array", kHead + "<array><string>v</string></array>\n</plist>\n", libplist, std::nullopt},
        {"top-level text", kHead + "<string>v</string>\n</plist>\n", libplist, std::nullopt},
        {"empty", "", libplist, std::nullopt},
        {"garbage", "not a property list at all", libplist, std::nullopt},
        {"binary header only", "bplist00", libplist, std::nullopt},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.title);
        auto expected = full(c.bytes);
        EXPECT_EQ(asMap(topLevelStrings(c.bytes)), expected);
        // The case's own result pins libplist's too, so that a change there shows.
        if (c.pinned) {
            EXPECT_EQ(expected, c.expected);
        }
        // The usual forms must not fall back to the slow full parse; the odd ones must.
        auto scanned = scanTopLevelStrings(c.bytes);
        if (c.reader == quick) {
            EXPECT_EQ(asMap(scanned), c.expected);
        } else {
            EXPECT_FALSE(scanned);
        }
    }
}

// A byte-order mark and UTF-16 are read as the platform reads them, by both
// readers alike; UTF-16 that does not decode is no property list.
TEST(TopLevelStrings, ReadsEveryTextFormAsUTF8) {
    const std::string body = "<key>Name</key><string>Caf\xC3\xA9 \xF0\x9F\x98\x80</string>"
                             "<key>Count</key><integer>3</integer>";
    const Strings expected = {{"Name", "Caf\xC3\xA9 \xF0\x9F\x98\x80"}};
    for (const auto& [name, form] : testing::plistTextForms()) {
        SCOPED_TRACE(name);
        const std::string bytes = testing::plistText(document(body), form);
        EXPECT_EQ(asMap(topLevelStrings(bytes)), expected);
        EXPECT_EQ(full(bytes), expected);
    }
    const std::string utf16 = testing::plistText(document(body), testing::PlistTextForm::utf16LittleEndian);
    const std::string loneSurrogate = "\x3D\xD8"; // a high surrogate with no low one after it
    const size_t name = utf16.find(std::string("C\0a\0f\0", 6));
    ASSERT_NE(name, std::string::npos);
    struct Case {
        const char* title;
        std::string bytes;
    } broken[] = {
        {"a lone surrogate", utf16.substr(0, name) + loneSurrogate + utf16.substr(name)},
        {"an odd last byte", utf16 + "<"},
        {"a byte-order mark and nothing else", "\xFF\xFE"},
        {"a UTF-8 byte-order mark and nothing else", "\xEF\xBB\xBF"},
        {"two byte-order marks", "\xEF\xBB\xBF\xEF\xBB\xBF" + document(body)},
    };
    for (const auto& c : broken) {
        SCOPED_TRACE(c.title);
        EXPECT_EQ(asMap(topLevelStrings(c.bytes)), std::nullopt);
        EXPECT_EQ(full(c.bytes), std::nullopt);
    }
}

TEST(TopLevelStrings, ReadsBinaryPropertyLists) {
    auto dictionary = Plist::dictionary();
    dictionary.set("CFBundleIdentifier", Plist::string("com.example.binary"));
    dictionary.set("Count", Plist::integer(3));
    auto strings = topLevelStrings(dictionary.toBinary());
    ASSERT_TRUE(strings);
    EXPECT_EQ(strings->text("CFBundleIdentifier"), "com.example.binary");
    EXPECT_EQ(strings->text("Count"), std::nullopt);
}

TEST(TopLevelStrings, ViewsOutliveTheOriginalAndSurviveCopies) {
    std::optional<PlistStrings> copy;
    {
        auto strings = topLevelStrings(
            document("<key>Plain</key><string>slice of the document</string>"
                     "<key>Decoded</key><string>a &amp; b, long enough to be on the heap</string>"));
        ASSERT_TRUE(strings);
        copy = *strings;
        auto moved = std::move(*strings);
        EXPECT_EQ(moved.text("Plain"), "slice of the document");
    }
    EXPECT_EQ(copy->text("Plain"), "slice of the document");
    EXPECT_EQ(copy->text("Decoded"), "a & b, long enough to be on the heap");
}

} // namespace
} // namespace mivora::platform
