// Reading files below a folder held open: the same verdicts as reading them by
// their whole path, one buffer reused across files, and the folder's listing.
#include "platform/file_reading.h"
#include "support/sandbox.h"

#include <algorithm>
#include <fstream>
#include <gtest/gtest.h>
#include <iterator>
#include <sys/stat.h>
#include <unistd.h>

namespace mivora::platform {
namespace {

constexpr ReadLimit kLimit{"a test file", 100};

TEST(ReadFileInto, GivesWhatAWholePathReadGives) {
    testing::Sandbox sandbox;
    const std::string folder = sandbox.tmp() + "/folder";
    struct Case {
        std::string name;
        std::function<void(const std::string&)> place;
        std::optional<std::string> expected;
    } cases[] = {
        {"small", [&](const std::string& p) { sandbox.writeFile(p, "hello"); }, "hello"},
        {"empty", [&](const std::string& p) { sandbox.writeFile(p, ""); }, ""},
        {"exactly the cap", [&](const std::string& p) { sandbox.writeFile(p, std::string(100, 'x')); },
         std::string(100, 'x')},
        {"one byte over the cap", [&](const std::string& p) { sandbox.writeFile(p, std::string(101, 'x')); },
         std::nullopt},
        {"sub/deeper", [&](const std::string& p) { sandbox.writeFile(p, "below"); }, "below"},
        {"fifo", [](const std::string& p) { ASSERT_EQ(::mkfifo(p.c_str(), 0644), 0); }, std::nullopt},
        {"a folder", [](const std::string& p) { createDirectories(p); }, std::nullopt},
        {"link to the zero device", [](const std::string& p) { createSymbolicLink(p, "/dev/zero"); },
         std::nullopt},
        {"link to a file",
         [&](const std::string& p) {
             sandbox.writeFile(sandbox.tmp() + "/outside", "linked");
             createSymbolicLink(p, sandbox.tmp() + "/outside");
         },
         "linked"},
        {"missing", [](const std::string&) {}, std::nullopt},
    };
    createDirectories(folder);
    for (const auto& c : cases)
        c.place(folder + "/" + c.name);

    OpenedFolder opened(folder);
    ASSERT_TRUE(opened.isOpen());
    // One buffer for all, as a caller reading many files uses it.
    std::string bytes = std::string(500, '#');
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(readFile(folder + "/" + c.name, kLimit), c.expected);
        bool read = readFileInto(opened, c.name, kLimit, bytes);
        EXPECT_EQ(read, c.expected.has_value());
        if (read && c.expected) {
            EXPECT_EQ(bytes, *c.expected);
        }
    }
}

TEST(ReadFileInto, ReadsAFileThatClaimsNoSizeWhole) {
    // Files of /proc report a size of 0 and are read on to their end.
    OpenedFolder proc("/proc/self");
    std::string bytes;
    ASSERT_TRUE(readFileInto(proc, "status", ReadLimit{"a status file", 1'000'000}, bytes));
    EXPECT_EQ(bytes.rfind("Name:", 0), 0u) << bytes;
    EXPECT_NE(bytes.find("\nPid:"), std::string::npos);
    EXPECT_EQ(bytes.back(), '\n');
}

TEST(ReadFileInto, ReadsSizelessFilesOfEveryLengthWholeAndHoldsThemToTheCap) {
    // Kernel tables from a few bytes to megabytes, each read in chunks that grow.
    for (const char* name : {"self/stat", "self/mountinfo", "self/smaps", "kallsyms"}) {
        SCOPED_TRACE(name);
        const std::string path = std::string("/proc/") + name;
        std::ifstream stream(path, std::ios::binary);
        if (!stream) continue;
        std::string expected((std::istreambuf_iterator<char>(stream)), std::istreambuf_iterator<char>());
        if (std::string(name) == "kallsyms") {
            // The same bytes at every read, unlike the process's own tables.
            EXPECT_EQ(readFileContents(path, ReadLimit{"a kernel table", 64'000'000}), expected);
            EXPECT_THROW(readFileContents(path, ReadLimit{"a kernel table", expected.size() - 1}),
                         FileTooLargeError);
        } else {
            std::string bytes = readFileContents(path, ReadLimit{"a kernel table", 64'000'000});
            EXPECT_FALSE(bytes.empty());
            EXPECT_EQ(bytes.back(), '\n');
        }
    }
}

TEST(OpenedFolder, ListsItsEntriesAndFailsQuietlyWhenItCannotBeOpened) {
    testing::Sandbox sandbox;
    const std::string folder = sandbox.tmp() + "/listed";
    for (const char* name : {"b.app", ".hidden", "a"})
        sandbox.writeFile(folder + "/" + name, "x");
    OpenedFolder opened(folder);
    for (int pass = 0; pass < 2; ++pass) {
        auto entries = opened.entries();
        ASSERT_TRUE(entries);
        std::sort(entries->begin(), entries->end());
        EXPECT_EQ(*entries, (std::vector<std::string>{".hidden", "a", "b.app"})) << "pass " << pass;
    }

    for (const std::string& path : {sandbox.tmp() + "/missing", folder + "/a"}) {
        OpenedFolder none(path);
        EXPECT_FALSE(none.isOpen()) << path;
        EXPECT_EQ(none.entries(), std::nullopt) << path;
        std::string bytes;
        EXPECT_FALSE(readFileInto(none, "a", kLimit, bytes)) << path;
    }
}

} // namespace
} // namespace mivora::platform
