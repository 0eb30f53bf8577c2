#include "support/icon_commands_fixture.h"

#include "platform/filesystem.h"
#include "support/icon_cache_fixture.h"
#include "support/icon_fixtures.h"
#include "support/icons_driver.h"

#include <algorithm>
#include <filesystem>

namespace mivora::testing {

void prepareIconCommands(const Sandbox& sandbox, bool dark) {
    sandbox.installFakeSudo();
    sandbox.installHelperFiles();
    installRecordingProgram(sandbox, "/usr/bin/killall", "killall.log");
    setDarkAppearance(sandbox, dark);
}

std::string writeIcon(const Sandbox& sandbox, const std::string& path) {
    sandbox.writeFile(path, solidPNG(16, 16, kIconRed));
    return path;
}

std::string fileiconIn(const Sandbox& sandbox) {
    return sandbox.rootPath("/usr/local/lib/mivora/fileicon");
}
std::string helperIn(const Sandbox& sandbox) {
    return sandbox.rootPath("/usr/local/lib/mivora/helper.sh");
}

std::vector<std::string> helperCall(const Sandbox& sandbox, const std::string& target,
                                    const std::string& icon) {
    return {fileiconIn(sandbox), target, icon};
}

std::optional<core::Json> iconCacheDocument(const Sandbox& sandbox) {
    auto bytes = sandbox.readFile(iconCacheFile(sandbox));
    if (!bytes) return std::nullopt;
    return core::Json::parse(*bytes);
}

std::vector<std::string> cachedImageNames(const Sandbox& sandbox) {
    auto names = platform::listDirectory(cachedImagesFolder(sandbox)).value_or(std::vector<std::string>{});
    std::sort(names.begin(), names.end());
    return names;
}

std::string lightImageOf(const Sandbox& sandbox, const std::string& appPath) {
    auto cache = iconCacheDocument(sandbox);
    if (!cache || !cache->contains(appPath)) return "";
    return cachedImage(sandbox, (*cache)[appPath]["iconFileName"].get<std::string>());
}

void installNulRecordingHelper(const Sandbox& sandbox, const std::string& logName) {
    sandbox.writeScript(helperIn(sandbox),
                        "log=\"" + sandbox.tmp() + "/" + logName +
                            "\"\n"
                            "for a in \"$@\"; do printf '%s\\000' \"$a\" >> \"$log\"; done\n"
                            "printf '\\000' >> \"$log\"\n");
}

Calls nulSeparatedCalls(const Sandbox& sandbox, const std::string& logName) {
    Calls calls;
    auto bytes = sandbox.readFile(sandbox.tmp() + "/" + logName);
    if (!bytes) return calls;
    std::vector<std::string> current;
    size_t start = 0;
    while (start < bytes->size()) {
        size_t end = bytes->find('\0', start);
        if (end == std::string::npos) end = bytes->size();
        std::string argument = bytes->substr(start, end - start);
        if (argument.empty()) {
            calls.push_back(current);
            current.clear();
        } else {
            current.push_back(argument);
        }
        start = end + 1;
    }
    return calls;
}

std::vector<std::string> findNamed(const std::string& folder, const std::string& name) {
    std::vector<std::string> found;
    std::error_code error;
    for (auto it = std::filesystem::recursive_directory_iterator(folder, error);
         !error && it != std::filesystem::recursive_directory_iterator(); it.increment(error)) {
        if (it->path().filename() == name) found.push_back(it->path().string());
    }
    return found;
}

} // namespace mivora::testing
