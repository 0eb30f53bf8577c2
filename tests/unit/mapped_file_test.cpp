#include "platform/filesystem.h"
#include "platform/mapped_file.h"
#include "support/sandbox.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

namespace mivora::platform {
namespace {

TEST(FileContainsBytes, FindsTheNeedleAnywhereAndOnlyWhole) {
    testing::Sandbox sandbox;
    const std::string needle = "applicationIconImage";
    std::string filler(3 << 20, 'x');
    struct Case {
        std::string title;
        std::string bytes;
        bool found;
    } cases[] = {
        {"at the start", needle + filler, true},
        {"at the very end", filler + needle, true},
        {"in the middle", filler + needle + filler, true},
        {"cut short at the end", filler + needle.substr(0, needle.size() - 1), false},
        {"absent", filler, false},
        {"shorter than the needle", "appl", false},
        {"empty", "", false},
        {"NUL bytes around it", std::string("\0\0", 2) + needle + std::string("\0", 1), true},
        // Small files are read rather than mapped.
        {"small, at the very end", std::string(1000, 'y') + needle, true},
        {"small, absent", std::string(1000, 'y') + needle.substr(1), false},
    };
    for (const auto& c : cases) {
        std::string path = sandbox.tmp() + "/file";
        sandbox.writeFile(path, c.bytes);
        EXPECT_EQ(fileContainsBytes(path, needle, read_limits::executable), std::optional<bool>(c.found))
            << c.title;
    }
}

TEST(FileContainsBytes, NothingForWhatIsNotARegularFile) {
    testing::Sandbox sandbox;
    std::string fifo = sandbox.tmp() + "/fifo";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0644), 0);
    std::string dangling = sandbox.tmp() + "/dangling";
    createSymbolicLink(dangling, sandbox.tmp() + "/nowhere");
    for (const std::string& path :
         {sandbox.tmp(), sandbox.tmp() + "/missing", fifo, dangling, std::string("/dev/zero")})
        EXPECT_EQ(fileContainsBytes(path, "x", read_limits::executable), std::nullopt) << path;
    // Reading a FIFO in place of a file must not wait for a writer either.
    EXPECT_EQ(readFile(fifo, read_limits::executable), std::nullopt);
}

} // namespace
} // namespace mivora::platform
