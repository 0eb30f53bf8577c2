// The strict Base64 decoder: what it accepts, and the problem it names for what it refuses.
#include <gtest/gtest.h>

#include "core/base64.h"

namespace mivora::core {
namespace {

struct ValidCase {
    const char* text;
    std::string bytes;
};

void PrintTo(const ValidCase& c, std::ostream* out) {
    *out << '"' << c.text << '"';
}

class Base64Valid : public ::testing::TestWithParam<ValidCase> {};

TEST_P(Base64Valid, DecodesAndEncodesBack) {
    auto decoded = decodeBase64(GetParam().text);
    ASSERT_TRUE(decoded.bytes) << GetParam().text << ": " << decoded.problem;
    EXPECT_EQ(*decoded.bytes, GetParam().bytes);
    EXPECT_EQ(encodeBase64(GetParam().bytes), GetParam().text);
}

INSTANTIATE_TEST_SUITE_P(Table, Base64Valid,
                         ::testing::Values(ValidCase{"", ""}, ValidCase{"QQ==", "A"}, ValidCase{"QUI=", "AB"},
                                           ValidCase{"QUJD", "ABC"}, ValidCase{"QUJDRA==", "ABCD"},
                                           ValidCase{"+/+/", "\xFB\xFF\xBF"},
                                           ValidCase{"AAEC/w==", std::string("\x00\x01\x02\xFF", 4)}));

struct InvalidCase {
    const char* text;
    const char* problem;
};

void PrintTo(const InvalidCase& c, std::ostream* out) {
    *out << ::testing::PrintToString(std::string(c.text));
}

class Base64Invalid : public ::testing::TestWithParam<InvalidCase> {};

TEST_P(Base64Invalid, IsRefusedWithItsProblem) {
    auto decoded = decodeBase64(GetParam().text);
    EXPECT_FALSE(decoded.bytes) << GetParam().text;
    EXPECT_EQ(decoded.problem, GetParam().problem);
}

INSTANTIATE_TEST_SUITE_P(
    Table, Base64Invalid,
    ::testing::Values(
        InvalidCase{"QUJD\nREVG", "white space at character 5"},
        InvalidCase{"QUJD REVG", "white space at character 5"},
        InvalidCase{" QUJD", "white space at character 1"},
        InvalidCase{"QUJD\r\n", "white space at character 5"},
        InvalidCase{"QQ", "length of 2 characters is not a multiple of 4 (missing or extra '=' padding)"},
        InvalidCase{"QQ=", "length of 3 characters is not a multiple of 4 (missing or extra '=' padding)"},
        InvalidCase{"QUJD=", "length of 5 characters is not a multiple of 4 (missing or extra '=' padding)"},
        InvalidCase{"Q===", "more than two '=' padding characters"},
        InvalidCase{"====", "more than two '=' padding characters"},
        InvalidCase{"QQ==QQ==", "'=' padding before the end, at character 3"},
        InvalidCase{"Q=Q=", "'=' padding before the end, at character 2"},
        InvalidCase{"QUJ-", "unexpected character '-' at character 4"},
        InvalidCase{"QUJ_", "unexpected character '_' at character 4"},
        InvalidCase{"QU\xC3\xA9", "unexpected character byte 0xC3 at character 3"}));

} // namespace
} // namespace mivora::core
