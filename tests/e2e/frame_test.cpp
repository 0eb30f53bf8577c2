#include <gtest/gtest.h>

#include "support/sandbox.h"

namespace mivora::testing {
namespace {

TEST(Frame, VersionPrintsAndExitsZero) {
    Sandbox sandbox;
    auto result = sandbox.run({"--version"});
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(result.out, "2.3.0\n");
    EXPECT_EQ(result.err, "");
}

} // namespace
} // namespace mivora::testing
