// The file-style byte count: units of 1000, the decimals each unit shows, half-up
// rounding in whole numbers, and the move to the next unit when a figure reaches 1000;
// the same in the plain form as in the locale-aware one.
#include "platform/byte_count.h"
#include "platform/formatting.h"

#include <cstdint>
#include <gtest/gtest.h>
#include <limits>

namespace mivora::platform {
namespace {

struct ByteCountCase {
    uint64_t bytes;
    const char* expected;
};

void PrintTo(const ByteCountCase& c, std::ostream* out) {
    *out << c.bytes;
}

class ByteCount : public ::testing::TestWithParam<ByteCountCase> {};

// The plain form, which the stand-ins' messages use without locale data, is
// the form of the tool's formatter for no locale.
TEST_P(ByteCount, FormatsInFileStyle) {
    EXPECT_EQ(formatByteCount(GetParam().bytes, "en_US"), GetParam().expected) << GetParam().bytes;
    EXPECT_EQ(formatByteCount(GetParam().bytes, "C"), GetParam().expected) << GetParam().bytes;
    EXPECT_EQ(plainByteCount(GetParam().bytes), GetParam().expected) << GetParam().bytes;
}

INSTANTIATE_TEST_SUITE_P(
    Table, ByteCount,
    ::testing::Values(ByteCountCase{0, "Zero KB"}, ByteCountCase{1, "1 byte"}, ByteCountCase{2, "2 bytes"},
                      ByteCountCase{999, "999 bytes"}, ByteCountCase{1000, "1 KB"},
                      ByteCountCase{1499, "1 KB"}, ByteCountCase{1500, "2 KB"},
                      ByteCountCase{999'499, "999 KB"},
                      // 999.5 KB rounds to 1,000 KB, which is shown as the next unit.
                      ByteCountCase{999'500, "1 MB"}, ByteCountCase{1'000'000, "1 MB"},
                      ByteCountCase{1'049'999, "1 MB"}, ByteCountCase{1'050'000, "1.1 MB"},
                      ByteCountCase{47'000'000, "47 MB"}, ByteCountCase{999'949'999, "999.9 MB"},
                      ByteCountCase{999'950'000, "1 GB"},
                      // Exact half-up: a double would make 1.005 into 1.00499… and round it down.
                      ByteCountCase{1'005'000'000, "1.01 GB"}, ByteCountCase{1'004'999'999, "1 GB"},
                      ByteCountCase{1'250'000'000, "1.25 GB"}, ByteCountCase{1'500'000'000'000, "1.5 TB"},
                      ByteCountCase{std::numeric_limits<uint64_t>::max(), "18.45 EB"}));

TEST(ByteCountLocale, FigureFollowsTheLocale) {
    EXPECT_EQ(formatByteCount(1'500'000, "de_DE"), "1,5 MB");
    EXPECT_EQ(formatByteCount(2'250'000'000, "fr_FR"), "2,25 GB");
}

} // namespace
} // namespace mivora::platform
