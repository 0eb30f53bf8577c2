// `mivora set-icon`: the icon path (local or downloaded from the catalog
// server), its check before the application's, the slot, the output and the
// refresh that follows only an icon that reached the bundle.
#include "platform/filesystem.h"
#include "support/catalog_server.h"
#include "support/icon_cache_fixture.h"
#include "support/icon_commands_fixture.h"
#include "support/icon_fixtures.h"
#include "support/icons_driver.h"
#include "support/sandbox.h"

#include <chrono>
#include <gtest/gtest.h>
#include <regex>

namespace mivora::testing {
namespace {

class SetIcon : public ::testing::Test {
protected:
    void SetUp() override {
        prepareIconCommands(sandbox, false);
        notes = sandbox.addApp({.name = "Notes"});
        sandbox.environment["MIVORA_API_BASE_URL"] = server.url("/api");
    }

    std::vector<std::string> downloads() const { return namesStartingWith(sandbox.tmp(), "mivora-"); }

    Sandbox sandbox;
    CatalogServer server;
    std::string notes;
};

TEST_F(SetIcon, TheIconIsCheckedBeforeTheApp) {
    auto result = sandbox.run({"set-icon", "No Such App", "missing.png"});
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(result.out, "");
    EXPECT_EQ(result.err, "Error: Icon file not found: " + sandbox.dir() + "/missing.png\n");
}

TEST_F(SetIcon, OnlyLowerCaseHttpAndHttpsAreDownloaded) {
    // Anything else is a local path, made absolute, and reported with that path.
    std::string host = server.url().substr(std::string("http://").size());
    struct Case {
        std::string typed;
        std::string reported;
    } cases[] = {
        {"missing.png", sandbox.dir() + "/missing.png"},
        {"./icons/../missing.png", sandbox.dir() + "/missing.png"},
        {"~/Pictures/missing.png", sandbox.home() + "/Pictures/missing.png"},
        {"HTTP://" + host + "/icon.png", sandbox.dir() + "/HTTP:/" + host + "/icon.png"},
        {"Https://" + host + "/icon.png", sandbox.dir() + "/Https:/" + host + "/icon.png"},
        {"ftp://" + host + "/icon.png", sandbox.dir() + "/ftp:/" + host + "/icon.png"},
    };
    server.route("GET", "/icon.png",
                 ScriptedResponse{.body = solidPNG(4, 4, kIconRed), .contentType = "image/png"});
    for (const auto& c : cases) {
        auto result = sandbox.run({"set-icon", "Notes", c.typed});
        EXPECT_EQ(result.status, 1) << c.typed;
        EXPECT_EQ(result.err, "Error: Icon file not found: " + c.reported + "\n");
    }
    EXPECT_TRUE(server.requests().empty());

    // Such a path that exists is simply used.
    std::string local = writeIcon(sandbox, sandbox.dir() + "/HTTP:/" + host + "/icon.png");
    auto result = sandbox.run({"set-icon", "Notes", "HTTP://" + host + "/icon.png", "--no-refresh"});
    EXPECT_EQ(result.status, 0) << result.err;
    EXPECT_EQ(sandbox.loggedCalls("helper.log"), Calls{helperCall(sandbox, notes, local)});
    EXPECT_TRUE(server.requests().empty());
}

TEST_F(SetIcon, IconAddressesAreDownloadedIntoTheTemporaryFolder) {
    std::string png = solidPNG(8, 8, kIconBlue);
    server.route("GET", "/icons/c9bBrhoXuB.png", ScriptedResponse{.body = png, .contentType = "image/png"});
    server.route("GET", std::string("/icons/c9bBrhoXuB.p") + '\0' + "ng",
                 ScriptedResponse{.body = png, .contentType = "image/png"});
    const std::string addresses[] = {
        server.url("/icons/c9bBrhoXuB.png"),
        // A legacy hosted origin is fetched from the site of the configured base address.
        "https://legacy-assets1.catalog.mivora.example/icons/c9bBrhoXuB.png",
        // An extension that is no plain name gives way to the default one.
        server.url("/icons/c9bBrhoXuB.p%00ng"),
    };
    for (const auto& address : addresses) {
        SCOPED_TRACE(address);
        platform::removeItemQuietly(sandbox.tmp() + "/helper.log");
        auto before = downloads();
        auto result = sandbox.run({"set-icon", "Notes", address, "--no-refresh"});
        ASSERT_EQ(result.status, 0) << result.err;
        EXPECT_EQ(result.out, "✓ Applied light icon to Notes\n");

        auto after = downloads();
        ASSERT_EQ(after.size(), before.size() + 1) << "the download is left in the temporary folder";
        std::string file;
        for (const auto& name : after)
            if (std::find(before.begin(), before.end(), name) == before.end()) file = name;
        EXPECT_TRUE(std::regex_match(file, std::regex("mivora-[0-9A-F-]{36}\\.png"))) << file;
        EXPECT_EQ(sandbox.readFile(sandbox.tmp() + "/" + file), png);
        EXPECT_EQ(sandbox.loggedCalls("helper.log"),
                  Calls{helperCall(sandbox, notes, sandbox.tmp() + "/" + file)});
    }
    ASSERT_EQ(server.requests().size(), 3u);
    EXPECT_EQ(server.requests()[1].path, "/icons/c9bBrhoXuB.png");
}

TEST_F(SetIcon, FailedDownloadsEndTheCommandAndLeaveNoFile) {
    server.route("GET", "/gone.png",
                 ScriptedResponse{.status = 404, .body = R"({"message":"No such icon"})"});
    server.route("GET", "/empty.png", ScriptedResponse{.status = 200, .body = ""});
    server.route("GET", "/nothing.png", ScriptedResponse{.status = 204, .body = ""});
    struct Case {
        std::string address;
        std::string error;
    } cases[] = {
        {server.url("/gone.png"), "Error: Failed to download icon: HTTP 404\n"},
        {server.url("/empty.png"), "Error: Failed to download icon: HTTP 200\n"},
        {server.url("/nothing.png"), "Error: Failed to download icon: HTTP 204\n"},
        {"http://[::1/icon.png", "Error: Failed to download icon: Invalid URL\n"},
    };
    for (const auto& c : cases) {
        auto result = sandbox.run({"set-icon", "Notes", c.address});
        EXPECT_EQ(result.status, 1) << c.address;
        EXPECT_EQ(result.out, "");
        EXPECT_EQ(result.err, c.error);
    }
    EXPECT_TRUE(downloads().empty());
    EXPECT_TRUE(sandbox.loggedCalls("sudo.log").empty());
    EXPECT_FALSE(iconCacheDocument(sandbox));
}

TEST_F(SetIcon, CachedOnlyDarkIconIsNotRefreshed) {
    std::string icon = writeIcon(sandbox, sandbox.tmp() + "/dark.png");
    auto start = std::chrono::steady_clock::now();
    auto result = sandbox.run({"set-icon", "Notes", icon, "--appearance", "dark"});
    double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    ASSERT_EQ(result.status, 0) << result.err;
    EXPECT_EQ(result.out,
              "✓ Cached dark icon for Notes; will apply when macOS switches to dark mode (or run again "
              "in that mode)\n");
    EXPECT_TRUE(sandbox.loggedCalls("sudo.log").empty());
    EXPECT_TRUE(sandbox.loggedCalls("killall.log").empty());
    EXPECT_LT(seconds, 1.5);
    EXPECT_EQ(iconCacheDocument(sandbox)->at(notes).at("darkIconFileName").get<std::string>().size(), 40u);
}

TEST_F(SetIcon, AppliedIconIsRefreshedUnlessAskedNotTo) {
    struct Case {
        std::vector<std::string> flags;
        bool refreshes;
    } cases[] = {
        {{}, true},
        {{"--json"}, true},
        {{"--no-refresh"}, false},
        {{"--json", "--no-refresh"}, false},
    };
    std::string icon = writeIcon(sandbox, sandbox.tmp() + "/light.png");
    for (const auto& c : cases) {
        platform::removeItemQuietly(sandbox.tmp() + "/killall.log");
        std::vector<std::string> arguments = {"set-icon", "Notes", icon};
        arguments.insert(arguments.end(), c.flags.begin(), c.flags.end());
        bool json = std::find(c.flags.begin(), c.flags.end(), "--json") != c.flags.end();
        SCOPED_TRACE(::testing::PrintToString(c.flags));

        auto result = sandbox.run(arguments);
        ASSERT_EQ(result.status, 0) << result.err;
        EXPECT_EQ(result.err, "");
        if (json) {
            // One document and nothing else on standard output, refresh or not.
            auto reply = core::Json::parse(result.out);
            EXPECT_EQ(reply.at("message"), "Applied light icon to Notes");
            EXPECT_EQ(result.out, core::writeJSON(reply, core::JSONStyle::pretty) + "\n");
        } else {
            EXPECT_EQ(result.out, "✓ Applied light icon to Notes\n");
        }
        EXPECT_EQ(sandbox.loggedCalls("killall.log"), c.refreshes ? Calls{{"Dock"}} : Calls{});
    }
}

TEST_F(SetIcon, SlotDefaultsToTheCurrentAppearance) {
    setDarkAppearance(sandbox, true);
    std::string icon = writeIcon(sandbox, sandbox.tmp() + "/icon.png");
    auto result = sandbox.run({"set-icon", "Notes", icon, "--no-refresh"});
    ASSERT_EQ(result.status, 0) << result.err;
    EXPECT_EQ(result.out, "✓ Applied dark icon to Notes\n");

    auto wrong = sandbox.run({"set-icon", "Notes", icon, "--appearance", "Dark"});
    EXPECT_EQ(wrong.status, 64);
    EXPECT_EQ(wrong.err.substr(0, wrong.err.find('\n')),
              "Error: The value 'Dark' is invalid for '--appearance <appearance>'. Please provide one of "
              "'light' or "
              "'dark'.");
}

} // namespace
} // namespace mivora::testing
