// Test-only: runs one piece of the icon engine with this process's environment
// (HOME, MIVORA_SYSTEM_ROOT, ...) and prints its result, so that end-to-end
// tests can drive the library inside a sandbox before any command uses it.
#include <iostream>
#include <string>
#include <vector>

#include "core/json.h"
#include "core/locations.h"
#include "icons/appearance.h"
#include "icons/dock_icon_composition.h"
#include "icons/icon_cache.h"
#include "icons/icon_extraction.h"
#include "icons/system_app_proxies.h"
#include "shared/system_events_appearance.h"

using namespace mivora;

namespace {

void print(const core::Json& json) {
    std::cout << core::writeJSON(json, core::JSONStyle::compact) << "\n";
}

icons::IconAppearance slot(const std::string& text) {
    auto value = icons::iconAppearanceFromRawValue(text);
    if (!value) throw std::invalid_argument("bad appearance " + text);
    return *value;
}

apps::InstalledApp app(const std::vector<std::string>& args, size_t at) {
    apps::InstalledApp result{args.at(at), args.at(at + 1), std::nullopt, std::nullopt};
    if (args.size() > at + 2) result.bundleId = args[at + 2];
    return result;
}

// Saves a cache of `count` entries again and again, each time with every
// timestamp set to the round's number, until killed.
[[noreturn]] void saveCacheForever(size_t count) {
    icons::IconCache cache;
    for (size_t i = 0; i < count; ++i) {
        std::string path = "/Applications/App " + std::to_string(i) + ".app";
        cache[path] = {path,
                       "LIGHT-" + std::to_string(i) + ".png",
                       "DARK-" + std::to_string(i) + ".png",
                       "App " + std::to_string(i),
                       0,
                       "1.0." + std::to_string(i)};
    }
    for (double round = 1;; ++round) {
        for (auto& [path, entry] : cache)
            entry.timestamp = round;
        icons::saveIconCache(cache);
    }
}

int run(const std::vector<std::string>& args) {
    const std::string& command = args.at(0);
    if (command == "load-cache") {
        std::cout << icons::encodeIconCache(icons::loadIconCache()) << "\n";
    } else if (command == "save-cache-forever") {
        saveCacheForever(std::stoul(args.at(1)));
    } else if (command == "cache-icon") { // <icon> <slot> <name> <path>
        auto cached = icons::cacheIcon(args.at(1), app(args, 3), slot(args.at(2)), core::cacheDirectory());
        print({{"file", cached.file}, {"entry", cached.entry.toJson()}});
    } else if (command == "remove-dark-icon") { // <path>
        auto removed = icons::removeCachedDarkIcon(args.at(1), core::cacheDirectory());
        core::Json json = {{"removed", removed.removed}};
        core::setOptional(json, "lightIconFile", removed.lightIconFile);
        print(json);
    } else if (command == "remove-cached-icons") { // <path>
        print(icons::removeCachedIcons(args.at(1), core::cacheDirectory()));
    } else if (command == "current-appearance") {
        std::cout << icons::rawValue(icons::currentAppearance()) << "\n";
    } else if (command == "set-dark-mode") { // <slot>
        icons::setDarkMode(slot(args.at(1)));
    } else if (command == "restart-dock-and-finder") {
        icons::restartDockAndFinder();
    } else if (command == "refresh") {
        icons::refreshIconPresentation();
    } else if (command == "is-protected") { // <path>
        print(icons::isProtectedSystemApp(args.at(1)));
    } else if (command == "prepare") { // <commit|rollback|none> <name> <path> [bundle id]
        auto target = icons::prepareSystemAppTarget(app(args, 2));
        if (args.at(1) == "commit") target.commit();
        if (args.at(1) == "rollback") target.rollback();
        print(target.cacheApp.toJson());
    } else if (command == "restore-proxy") { // <name> <path>
        print(icons::restoreSystemAppProxy(app(args, 1), core::cacheDirectory()));
    } else if (command == "resolve-proxy") { // <name> <path>
        print(icons::resolveSystemAppProxyTarget(app(args, 1)).toJson());
    } else if (command == "is-proxy-path") { // <path>
        print(icons::isSystemAppProxyPath(args.at(1)));
    } else if (command == "extract-icon") { // <name> <path> <output> <size>
        print(icons::extractAppIcon(app(args, 1), args.at(3), std::stoi(args.at(4))).toJson());
    } else if (command == "compose-dock-icon") { // <icon> <name> <path>
        std::cout << icons::composeDockIcon(args.at(1), app(args, 2)) << "\n";
    } else if (command == "make-dock-ready-icon") { // <icon> <folder>
        std::cout << icons::makeDockReadyIcon(args.at(1), args.at(2)).value_or("none") << "\n";
    } else if (command == "remove-compose-folder") { // <icon>
        icons::removeComposeTempDirectory(args.at(1));
    } else if (command == "system-events") { // <script>
        auto status = standins::runSystemEventsAppearanceScript(args.at(1));
        if (!status) std::cout << "not handled\n";
        return status.value_or(2);
    } else {
        std::cerr << "unknown command " << command << "\n";
        return 2;
    }
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    std::vector<std::string> args(argv + 1, argv + argc);
    if (args.empty()) return 2;
    try {
        return run(args);
    } catch (const std::exception& error) {
        std::cerr << "Error: " << error.what() << "\n";
        return 1;
    }
}
