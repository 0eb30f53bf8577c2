// The containment rule for names and paths read back from stored data, on a
// small tree of real folders and links.
#include "core/containment.h"
#include "platform/filesystem.h"
#include "support/sandbox.h"

#include <gtest/gtest.h>

namespace mivora::core {
namespace {

TEST(Containment, SinglePathComponents) {
    struct Case {
        std::string name;
        bool single;
    } cases[] = {
        {"A1B2.png", true},
        {"..png", true},
        {"...", true},
        {"café @dark.png", true},
        {"", false},
        {".", false},
        {"..", false},
        {"a/b", false},
        {"/", false},
        {std::string("a\0b", 3), false},
        {std::string("\0", 1), false},
        {std::string("..\0", 3), false},
        {"\xC3\x28", false}, // not UTF-8
        {"\xFF.png", false},
    };
    for (const auto& c : cases)
        EXPECT_EQ(isSinglePathComponent(c.name), c.single) << ::testing::PrintToString(c.name);
}

TEST(Containment, PathsMustStayStrictlyInsideTheirRootThroughLinksToo) {
    testing::Sandbox sandbox;
    const std::string root = sandbox.dir() + "/root";
    const std::string outside = sandbox.dir() + "/outside";
    platform::createDirectories(root + "/inner");
    platform::createDirectories(outside);
    sandbox.writeFile(root + "/file.png", "x");
    sandbox.writeFile(outside + "/secret", "x");
    platform::createSymbolicLink(root + "/to-outside", outside);
    platform::createSymbolicLink(root + "/to-inner", root + "/inner");
    platform::createSymbolicLink(root + "/file-link", outside + "/secret");
    platform::createSymbolicLink(sandbox.dir() + "/linked-root", root);
    platform::createSymbolicLink(sandbox.dir() + "/linked-parent", sandbox.dir());

    struct Case {
        std::string path;
        std::string root;
        std::optional<std::string> result;
    } cases[] = {
        {root + "/file.png", root, root + "/file.png"},
        {root + "/not-yet/there.png", root, root + "/not-yet/there.png"},
        {root + "//inner/./x/../y", root, root + "/inner/y"},
        {root + "/to-inner/y", root, root + "/to-inner/y"}, // a link that stays inside
        // The same folder spelled another way is not inside: paths are compared as written first.
        {sandbox.dir() + "/linked-parent/root/file.png", root, std::nullopt},
        {root + "/file.png", sandbox.dir() + "/linked-parent/root", std::nullopt},
        {root, root, std::nullopt},
        {root + "/", root, std::nullopt},
        {root + "/inner/..", root, std::nullopt},
        {root + "/../outside/secret", root, std::nullopt},
        {root + "/to-outside/secret", root, std::nullopt},
        {root + "/to-outside/new/file", root, std::nullopt},
        {root + "/file-link", root, std::nullopt},
        {root + "/to-inner", root, std::nullopt}, // names a link
        {sandbox.dir() + "/linked-root/file.png", sandbox.dir() + "/linked-root", std::nullopt},
        {root + std::string("/\0/..", 5), root, std::nullopt},
        {"relative/file.png", root, std::nullopt},
        {"", root, std::nullopt},
    };
    for (const auto& c : cases)
        EXPECT_EQ(containedPath(c.path, c.root), c.result)
            << ::testing::PrintToString(c.path) << " in " << c.root;

    EXPECT_EQ(containedChild(root, "file.png"), root + "/file.png");
    EXPECT_EQ(containedChild(root, "to-outside"), std::nullopt);
    EXPECT_EQ(containedChild(root, ".."), std::nullopt);
    EXPECT_EQ(containedChild(root, std::string("\0", 1)), std::nullopt);
}

TEST(Containment, LexicalInsideness) {
    EXPECT_TRUE(isLexicallyInside("/a/b/c", "/a/b"));
    EXPECT_TRUE(isLexicallyInside("/a/b/c/", "/a/b/"));
    EXPECT_FALSE(isLexicallyInside("/a/b/", "/a/b"));
    EXPECT_FALSE(isLexicallyInside("/a/bc", "/a/b"));
    EXPECT_FALSE(isLexicallyInside("/a/b/../../c", "/a/b"));
    EXPECT_FALSE(isLexicallyInside(std::string("/a/b/\0", 6), "/a/b"));
}

} // namespace
} // namespace mivora::core
