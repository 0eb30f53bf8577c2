// Threads are started from what the process may use, not from the machine:
// pinned to one processor (`taskset -c 0`), no run of the tool, nor of the
// stand-ins it starts, starts a thread; unpinned, work large enough to pay for
// threads gets them. Counted by a preloaded stand-in for pthread_create.
#include "core/text.h"
#include "platform/parallel_work_capacity.h"
#include "support/collection_fixture.h"
#include "support/icon_fixtures.h"

#include <gtest/gtest.h>

namespace mivora::testing {
namespace {

struct Counted {
    RunResult result;
    std::vector<int> threadsPerProcess; // one for each process of the tree that ended normally
};

Counted runCounted(Sandbox& sandbox, bool pinned, const std::vector<std::string>& arguments) {
    const std::string log = sandbox.tmp() + "/threads.log";
    platform::removeItemQuietly(log);
    sandbox.environment["LD_PRELOAD"] = MIVORA_THREAD_COUNTER;
    sandbox.environment["THREAD_COUNTER_LOG"] = log;
    // Under AddressSanitizer the preloaded library comes before its runtime; that is fine here.
    sandbox.environment["ASAN_OPTIONS"] = "detect_leaks=0:verify_asan_link_order=0";
    std::vector<std::string> argv = {"/usr/bin/env"};
    if (pinned) argv.insert(argv.end(), {"taskset", "-c", "0"});
    argv.push_back(mivoraBinary());
    argv.insert(argv.end(), arguments.begin(), arguments.end());
    Counted counted{sandbox.runProgram(argv), {}};
    for (const std::string& line : core::splitString(sandbox.readFile(log).value_or(""), '\n', true))
        counted.threadsPerProcess.push_back(std::stoi(line.substr(line.find(' ') + 1)));
    return counted;
}

TEST(ThreadUse, PinnedToOneProcessorNoRunStartsAThreadWhileUnpinnedLargeWorkDoes) {
    Sandbox sandbox;
    appendStandinsToPath(sandbox);
    addAppWithIcon(sandbox, "Notion", typicalIcns());
    // Enough bundles for the listing to read them on several threads.
    for (int i = 0; i < 600; ++i)
        sandbox.addApp(
            {.name = "App " + std::to_string(i), .bundleId = "com.example.app" + std::to_string(i)});
    writeCollection(sandbox, "bench", manifestDocument("bench", "Bench", {}));
    // A 2048-pixel icon on a flat background: 16 MiB of rows to compress.
    image::Bitmap art = solidBitmap(2048, 2048, {250, 248, 245, 255});
    fillRect(art, 400, 400, 1200, 1200, {30, 90, 200, 255});
    const std::string image = sandbox.homePath("art/big.png");
    sandbox.writeFile(image, pngBytes(art));

    struct Case {
        std::string name;
        std::vector<std::string> arguments;
        bool threadsWhenUnpinned; // work that pays for threads
    };
    const std::vector<Case> cases = {
        {"collections add of a 2048-pixel icon", {"collections", "add", "bench", "Notion", image}, true},
        {"apps over 600 bundles", {"apps", "--json"}, true},
        {"extract-icon through the stand-ins",
         {"extract-icon", "Notion", "--out", sandbox.tmp() + "/out.png"},
         false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Counted pinned = runCounted(sandbox, true, c.arguments);
        ASSERT_EQ(pinned.result.status, 0) << pinned.result.err;
        ASSERT_FALSE(pinned.threadsPerProcess.empty()) << "the counter saw no process";
        for (int threads : pinned.threadsPerProcess)
            EXPECT_EQ(threads, 0);
        if (!c.threadsWhenUnpinned || platform::usableProcessorCount() < 2) continue;
        Counted unpinned = runCounted(sandbox, false, c.arguments);
        ASSERT_EQ(unpinned.result.status, 0) << unpinned.result.err;
        int most = 0;
        for (int threads : unpinned.threadsPerProcess)
            most = std::max(most, threads);
        EXPECT_GT(most, 0) << "the counter or the threads are not at work";
    }
}

} // namespace
} // namespace mivora::testing
