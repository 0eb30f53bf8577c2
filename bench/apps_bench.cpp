// Application discovery and the self-drawn Dock-icon marker search:
//   build/bench/mivora_bench [--benchmark_filter=<regex>]
// Builds one sandbox of 1,000 application bundles and a 100 MB file without
// the marker, then times the in-process listing, the search (after a first
// pass has put the file in the page cache) and two whole runs of the binary.
#include "apps/app_discovery.h"
#include "apps/self_drawn_dock_icon.h"
#include "platform/filesystem.h"
#include "platform/mapped_file.h"
#include "support/sandbox.h"

#include <benchmark/benchmark.h>
#include <cstdio>
#include <cstdlib>
#include <memory>

namespace {

using namespace mivora;

constexpr int kBundles = 1000;
constexpr size_t kSearchFileBytes = 100u << 20;

testing::Sandbox* sandbox = nullptr;
std::string searchFile;

// Info.plist keys of a typical application, so each parse costs what a real one does.
std::map<std::string, std::string> typicalInfo(int i) {
    std::string n = std::to_string(i);
    return {{"CFBundleName", "App " + n},
            {"CFBundleDisplayName", "App " + n},
            {"CFBundleShortVersionString", "1." + n},
            {"CFBundleVersion", n},
            {"CFBundlePackageType", "APPL"},
            {"CFBundleIconFile", "AppIcon"},
            {"CFBundleIconName", "AppIcon"},
            {"CFBundleDevelopmentRegion", "en"},
            {"CFBundleInfoDictionaryVersion", "6.0"},
            {"LSMinimumSystemVersion", "13.0"},
            {"LSApplicationCategoryType", "public.app-category.productivity"},
            {"NSHumanReadableCopyright", "Copyright 2024 Example Corp. All rights reserved."},
            {"NSPrincipalClass", "NSApplication"},
            {"NSMainNibFile", "MainMenu"}};
}

void buildSandbox() {
    sandbox = new testing::Sandbox();
    for (int i = 0; i < kBundles; ++i) {
        testing::AppBundle app;
        app.name = "App " + std::to_string(i);
        app.bundleId = "com.example.app" + std::to_string(i);
        app.executable = "App";
        app.executableBytes = std::string(4096, 'x');
        app.extraStrings = typicalInfo(i);
        // One in fifty declares a Dock-tile plug-in; a few of those carry the marker.
        if (i % 50 == 0) {
            app.extraStrings["NSDockTilePlugIn"] = "DockTile.docktileplugin";
            if (i % 200 == 0) app.executableBytes += std::string(apps::kSelfDrawnIconMarker);
        }
        if (i % 2 == 1) app.folder = sandbox->homePath("Applications");
        sandbox->addApp(app);
    }

    // Pseudo-random bytes (a fixed xorshift sequence) never spell the marker.
    std::string bytes(kSearchFileBytes, '\0');
    uint64_t state = 0x9E3779B97F4A7C15ull;
    for (size_t i = 0; i + 8 <= bytes.size(); i += 8) {
        state ^= state << 13;
        state ^= state >> 7;
        state ^= state << 17;
        std::memcpy(&bytes[i], &state, 8);
    }
    searchFile = sandbox->tmp() + "/large-executable";
    sandbox->writeFile(searchFile, bytes);

    // The in-process benchmarks read the sandbox as the binary would.
    ::setenv("MIVORA_SYSTEM_ROOT", sandbox->root().c_str(), 1);
    ::setenv("HOME", sandbox->home().c_str(), 1);
    ::setenv("LANG", "en_US.UTF-8", 1);
}

void BM_ListInstalledApps(benchmark::State& state) {
    for (auto _ : state) {
        auto apps = apps::listInstalledApps(std::nullopt, false);
        if (apps.size() != kBundles) state.SkipWithError("wrong number of bundles");
        benchmark::DoNotOptimize(apps);
    }
}
BENCHMARK(BM_ListInstalledApps)->Unit(benchmark::kMillisecond);

void BM_ListAndDetectSelfDrawn(benchmark::State& state) {
    for (auto _ : state) {
        auto apps = apps::listInstalledApps(std::nullopt, false);
        int selfDrawn = 0;
        for (const auto& app : apps)
            selfDrawn += apps::detectSelfDrawnDockIcon(app.path, app.name) ? 1 : 0;
        benchmark::DoNotOptimize(selfDrawn);
    }
}
BENCHMARK(BM_ListAndDetectSelfDrawn)->Unit(benchmark::kMillisecond);

void BM_MarkerSearch100MBWithoutHit(benchmark::State& state) {
    if (platform::fileContainsBytes(searchFile, apps::kSelfDrawnIconMarker,
                                    platform::read_limits::executable) != false)
        state.SkipWithError("the search file must not hold the marker");
    for (auto _ : state)
        benchmark::DoNotOptimize(platform::fileContainsBytes(searchFile, apps::kSelfDrawnIconMarker,
                                                             platform::read_limits::executable));
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) *
                            static_cast<int64_t>(kSearchFileBytes));
}
BENCHMARK(BM_MarkerSearch100MBWithoutHit)->Unit(benchmark::kMillisecond);

// Whole processes, wall time, output read through a pipe.
void runBinary(benchmark::State& state, const std::vector<std::string>& arguments) {
    for (auto _ : state) {
        auto result = sandbox->run(arguments);
        if (result.status != 0) state.SkipWithError("the binary failed");
        benchmark::DoNotOptimize(result);
    }
}

void BM_AppsJsonProcess(benchmark::State& state) {
    runBinary(state, {"apps", "--json"});
}
BENCHMARK(BM_AppsJsonProcess)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_VersionProcess(benchmark::State& state) {
    runBinary(state, {"--version"});
}
BENCHMARK(BM_VersionProcess)->Unit(benchmark::kMillisecond)->UseRealTime();

} // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    buildSandbox();
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    delete sandbox;
    return 0;
}
