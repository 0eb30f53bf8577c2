// The creating write in two steps: the bytes written and flushed first, put in
// place later only while the destination's folder is the one written in, and
// nothing left behind, in any folder, by a write that is not put in place or
// that fails.
#include "platform/filesystem.h"
#include "support/sandbox.h"

#include <dirent.h>
#include <gtest/gtest.h>
#include <stdio.h>
#include <string>
#include <vector>

namespace mivora::platform {
namespace {

size_t openDescriptors() {
    size_t count = 0;
    if (DIR* folder = ::opendir("/proc/self/fd")) {
        while (::readdir(folder) != nullptr)
            ++count;
        ::closedir(folder);
    }
    return count;
}

std::vector<std::string> entries(const std::string& folder) {
    return listDirectory(folder).value_or(std::vector<std::string>{});
}

TEST(PreparedWrite, PutsItsBytesInPlaceOnlyIntoTheFolderItWasWrittenIn) {
    mivora::testing::Sandbox sandbox;
    const std::string folder = sandbox.homePath("icons"), aside = sandbox.homePath("icons.old");
    sandbox.writeFile(folder + "/kept.png", "old");

    struct Case {
        const char* name;
        bool replaceFolder; // the folder moved aside and a new one put at its path before commit()
        bool commit;        // or the write dropped without it
    } cases[] = {
        {"committed", false, true},
        {"dropped", false, false},
        {"committed after the folder was replaced", true, true},
        {"dropped after the folder was replaced", true, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        removeItemQuietly(aside);
        {
            PreparedWrite write(folder + "/kept.png", "new");
            EXPECT_EQ(entries(folder).size(), 2u) << "the temporary file beside the old one";
            if (c.replaceFolder) {
                ASSERT_EQ(::rename(folder.c_str(), aside.c_str()), 0);
                sandbox.writeFile(folder + "/kept.png", "old");
            }
            if (c.commit) {
                EXPECT_EQ(write.commit(), !c.replaceFolder);
            }
        }
        const bool putInPlace = c.commit && !c.replaceFolder;
        EXPECT_EQ(sandbox.readFile(folder + "/kept.png"), putInPlace ? "new" : "old");
        EXPECT_EQ(entries(folder), std::vector<std::string>{"kept.png"});
        if (c.replaceFolder) {
            EXPECT_EQ(entries(aside), std::vector<std::string>{"kept.png"});
        }
        sandbox.writeFile(folder + "/kept.png", "old");
    }
}

TEST(CreatingWrites, AWriteThatFailsKeepsNoDescriptorOpen) {
    mivora::testing::Sandbox sandbox;
    const std::string folder = sandbox.homePath("files");
    sandbox.writeFile(folder + "/a", "a");
    // A name so long that its temporary file's name is refused (ENAMETOOLONG).
    const std::string tooLong = folder + "/" + std::string(250, 'n');
    const size_t before = openDescriptors();
    for (int i = 0; i < 200; ++i) {
        EXPECT_THROW(writeFileAtomically(tooLong, "x"), FileSystemError);
        EXPECT_THROW(PreparedWrite(tooLong, "x"), FileSystemError);
    }
    EXPECT_EQ(openDescriptors(), before);
    EXPECT_EQ(entries(folder), std::vector<std::string>{"a"});
}

} // namespace
} // namespace mivora::platform
