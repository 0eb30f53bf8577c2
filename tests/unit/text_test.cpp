// The shared text rules: repair of ill-formed UTF-8, canonical equivalence in
// equality, order and lower-casing, and the Unicode white-space trims.
#include "core/text.h"

#include <gtest/gtest.h>

namespace mivora::core {
namespace {

const std::string kComposedE = "\xC3\xA9";       // é
const std::string kDecomposedE = "e\xCC\x81";    // e + COMBINING ACUTE ACCENT
const std::string kReplacement = "\xEF\xBF\xBD"; // U+FFFD

TEST(ValidUTF8, RepairsEachMaximalIllFormedSubpart) {
    struct Case {
        const char* title;
        std::string given;
        std::string expected;
    };
    const std::vector<Case> cases = {
        {"valid text is unchanged", "caf" + kComposedE + " \xF0\x9F\x98\x80",
         "caf" + kComposedE + " \xF0\x9F\x98\x80"},
        {"a stray byte", "notion\xFF", "notion" + kReplacement},
        {"a lone continuation byte", "a\x80z", "a" + kReplacement + "z"},
        {"a truncated sequence is one replacement", "a\xE2\x82z", "a" + kReplacement + "z"},
        {"a truncated sequence at the end", "a\xF0\x9F\x98", "a" + kReplacement},
        {"an overlong slash", "\xC0\xAF", kReplacement + kReplacement},
        {"an encoded surrogate", "\xED\xA0\x80", kReplacement + kReplacement + kReplacement},
        {"beyond U+10FFFF", "\xF4\x90\x80\x80", kReplacement + kReplacement + kReplacement + kReplacement},
        {"an embedded NUL is valid", std::string("a\0b", 3), std::string("a\0b", 3)},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.title);
        std::string repaired = validUTF8(c.given);
        EXPECT_EQ(repaired, c.expected);
        EXPECT_TRUE(isValidUTF8(repaired));
    }
    EXPECT_EQ(validUTF8(std::vector<std::string>{"ok", "x\xFE"}),
              (std::vector<std::string>{"ok", "x" + kReplacement}));
}

TEST(CanonicalEquivalence, ComparesDecomposedAndPrecomposedAlike) {
    EXPECT_EQ(canonicalForm("Caf" + kDecomposedE), "Caf" + kComposedE);
    EXPECT_EQ(canonicalForm("plain ascii"), "plain ascii");
    EXPECT_TRUE(canonicallyEqual("caf" + kDecomposedE, "caf" + kComposedE));
    EXPECT_FALSE(canonicallyEqual("cafe", "caf" + kComposedE));
    // Ill-formed bytes never make two different texts equal or crash the comparison.
    EXPECT_FALSE(canonicallyEqual("a\xFF", "a"));

    // The plain order: scalar order of the canonical forms, capitals first.
    EXPECT_EQ(compareCanonically("E" + kDecomposedE + "b", "E" + kComposedE + "a"), 1);
    EXPECT_EQ(compareCanonically(kDecomposedE, kComposedE), 0);
    EXPECT_LT(compareCanonically("Zed", "alpha"), 0);
    EXPECT_LT(compareCanonically("z", kComposedE), 0);
    std::vector<std::string> names = {kDecomposedE + "b", kComposedE + "a", "Z"};
    std::stable_sort(names.begin(), names.end(), CanonicalOrder());
    EXPECT_EQ(names, (std::vector<std::string>{"Z", kComposedE + "a", kDecomposedE + "b"}));
}

TEST(CanonicalEquivalence, LowerCasedTextAndWordsAreCanonical) {
    EXPECT_EQ(lowercased("CAF" + std::string("E\xCC\x81")), "caf" + kComposedE);
    EXPECT_EQ(lowercased("Caf" + kComposedE), "caf" + kComposedE);
    EXPECT_EQ(splitWords("Caf" + kDecomposedE + " Cr" + kDecomposedE + "me"),
              (std::vector<std::string>{"caf" + kComposedE, "cr" + kComposedE + "me"}));
    // Marks that do not compose stay inside their word.
    EXPECT_EQ(splitWords("q\xCC\x81 x"), (std::vector<std::string>{"q\xCC\x81", "x"}));
}

TEST(CanonicalEquivalence, LocalizedOrderIgnoresCaseAndForm) {
    EXPECT_EQ(localizedCaseInsensitiveCompare("caf" + kDecomposedE, "CAF" + kComposedE), 0);
    EXPECT_GT(localizedCaseInsensitiveCompare(kDecomposedE + "b", kComposedE + "a"), 0);
    EXPECT_LT(localizedCaseInsensitiveCompare("arc", "Xcode"), 0);
    EXPECT_LT(localizedCaseInsensitiveCompare("Xcode", "zoom"), 0);
}

TEST(CanonicalEquivalence, SortKeysOrderNamesAsTheLocalizedComparisonDoes) {
    const std::vector<std::string> names = {
        "",
        "a",
        "A",
        "arc",
        "Arc",
        "ARC ",
        "caf" + kDecomposedE,
        "CAF" + kComposedE,
        "cafe",
        "caff",
        kDecomposedE + "b",
        kComposedE + "a",
        "Xcode",
        "zoom",
        "\xC3\x96stra",
        "Ostra",
        "App 9",
        "App 10",
        "app-10",
        "1Password",
        "\xE3\x83\x86\xE3\x82\xB9\xE3\x83\x88",
        "\xF0\x9F\x8D\x8E",
        "a\xFF",
    };
    auto sign = [](int value) { return (value > 0) - (value < 0); };
    for (const auto& a : names) {
        for (const auto& b : names) {
            std::string keyA = localizedCaseInsensitiveSortKey(a), keyB = localizedCaseInsensitiveSortKey(b);
            EXPECT_EQ(sign(keyA.compare(keyB)), sign(localizedCaseInsensitiveCompare(a, b)))
                << "'" << a << "' and '" << b << "'";
        }
    }
}

TEST(WhiteSpace, TrimsUnicodeWhiteSpaceAndLineBreaks) {
    struct Case {
        const char* title;
        std::string given;
        std::string whitespace; // trimWhitespace
        std::string blanks;     // trimBlanks
    };
    const std::string nbsp = "\xC2\xA0", nel = "\xC2\x85", lineSeparator = "\xE2\x80\xA8",
                      paragraphSeparator = "\xE2\x80\xA9", ideographic = "\xE3\x80\x80",
                      thin = "\xE2\x80\x89", zeroWidth = "\xE2\x80\x8B";
    const std::vector<Case> cases = {
        {"ASCII", " \t word \r\n", "word", "word \r\n"},
        {"no-break space only", nbsp, "", ""},
        {"separators and NEL", lineSeparator + nel + "tok" + paragraphSeparator, "tok",
         lineSeparator + nel + "tok" + paragraphSeparator},
        {"space separators", ideographic + thin + "a b" + nbsp + "\t", "a b", "a b"},
        {"vertical tab and form feed are line breaks", "\v\fx\v", "x", "\v\fx\v"},
        {"inner white space stays", "a" + nbsp + "b", "a" + nbsp + "b", "a" + nbsp + "b"},
        {"a zero-width space is not white space", zeroWidth + "x", zeroWidth + "x", zeroWidth + "x"},
        {"an ill-formed byte stops the trim", " \xFF ", "\xFF", "\xFF"},
        {"empty", "", "", ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.title);
        EXPECT_EQ(trimWhitespace(c.given), c.whitespace);
        EXPECT_EQ(trimBlanks(c.given), c.blanks);
    }
}

} // namespace
} // namespace mivora::core
