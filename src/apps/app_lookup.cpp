#include "apps/app_lookup.h"

#include "apps/app_discovery.h"
#include "core/errors.h"
#include "core/paths.h"
#include "core/text.h"
#include "platform/filesystem.h"

#include <algorithm>

namespace mivora::apps {

namespace {

constexpr size_t kSimilarNamesShown = 5;

bool hasWord(const std::string& name, const std::string& word) {
    auto words = core::splitWords(name);
    return std::find(words.begin(), words.end(), word) != words.end();
}

bool hasWordStartingWith(const std::string& name, const std::string& prefix) {
    auto words = core::splitWords(name);
    return std::any_of(words.begin(), words.end(),
                       [&](const std::string& word) { return core::startsWith(word, prefix); });
}

} // namespace

namespace {

// "Notes.app/" (what tab completion writes) names the same application as
// "Notes.app": one trailing "/" goes, so that the path is also the same cache key.
std::string resolvedPathOf(const std::string& argument) {
    return platform::droppingTrailingSlash(core::resolveAppPath(argument));
}

} // namespace

InstalledApp findApp(const std::string& argument) {
    if (core::endsWith(platform::droppingTrailingSlash(argument), ".app")) {
        std::string path = resolvedPathOf(argument);
        if (!platform::itemExists(path)) throw core::AppDiscoveryError::appNotFound("App not found: " + path);
        return InstalledApp{platform::deletingPathExtension(platform::lastPathComponent(path)), path,
                            readBundleIdentifier(path), std::nullopt};
    }

    auto candidates = listInstalledApps(argument, /*dock=*/false);
    std::string q = core::lowercased(argument);
    for (const auto& app : candidates) {
        if (core::lowercased(app.name) == q || (app.bundleId && core::lowercased(*app.bundleId) == q))
            return app;
    }

    const InstalledApp* wholeWord = nullptr;
    size_t wholeWordCount = 0;
    for (const auto& app : candidates) {
        if (hasWord(app.name, q)) {
            wholeWord = &app;
            ++wholeWordCount;
        }
    }
    if (wholeWordCount == 1) return *wholeWord;

    if (candidates.size() == 1 && hasWordStartingWith(candidates.front().name, q)) return candidates.front();

    if (candidates.empty())
        throw core::AppDiscoveryError::appNotFound("No app matching '" + argument +
                                                   "' found in /Applications.");
    std::vector<std::string> similar;
    for (size_t i = 0; i < candidates.size() && i < kSimilarNamesShown; ++i)
        similar.push_back(candidates[i].name);
    throw core::AppDiscoveryError::ambiguousApp("No app is named exactly '" + argument +
                                                "'. Similar: " + core::joinStrings(similar, ", ") +
                                                ". Use the exact name or the full .app path.");
}

InstalledApp resolveAppArgument(const std::string& argument) {
    std::string path = resolvedPathOf(argument);
    if (!platform::fileExists(path)) return findApp(argument);
    std::string name = platform::lastPathComponent(path);
    if (platform::pathExtension(name) == "app") name = platform::deletingPathExtension(name);
    return InstalledApp{name, path, std::nullopt, std::nullopt};
}

} // namespace mivora::apps
