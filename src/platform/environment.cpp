#include "platform/environment.h"

#include "platform/filesystem.h"

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <pwd.h>
#include <unistd.h>

extern char** environ;

namespace mivora::platform {

std::optional<std::string> environmentValue(const char* name) {
    const char* value = std::getenv(name);
    if (value == nullptr) return std::nullopt;
    return std::string(value);
}

namespace {

std::string withoutTrailingSlash(std::string path) {
    while (path.size() > 1 && path.back() == '/')
        path.pop_back();
    return path;
}

std::string executableDirectory() {
    char buffer[PATH_MAX];
    ssize_t length = ::readlink("/proc/self/exe", buffer, sizeof buffer - 1);
    if (length <= 0) return {};
    std::string path(buffer, static_cast<size_t>(length));
    return parentPath(path);
}

} // namespace

namespace {

// The home folder that the user database gives for our user id, as the
// platform's own lookup does when HOME is missing.
std::optional<std::string> userDatabaseHome() {
    long suggested = ::sysconf(_SC_GETPW_R_SIZE_MAX);
    std::vector<char> buffer(suggested > 0 ? static_cast<size_t>(suggested) : 16384);
    struct passwd entry {};
    struct passwd* found = nullptr;
    int error = 0;
    while ((error = ::getpwuid_r(::getuid(), &entry, buffer.data(), buffer.size(), &found)) == ERANGE &&
           buffer.size() < (1u << 20))
        buffer.resize(buffer.size() * 2);
    if (error != 0 || found == nullptr || found->pw_dir == nullptr) return std::nullopt;
    std::string home = withoutTrailingSlash(found->pw_dir);
    if (home.empty() || home.front() != '/' || home == "/" || !isDirectory(home)) return std::nullopt;
    return home;
}

std::string findHomeDirectory() {
    auto value = environmentValue("HOME");
    if (value && !value->empty()) {
        if (value->front() != '/') {
            throw HomeDirectoryError("HOME is set to a relative path (\"" + *value +
                                     "\"); set it to the absolute path of your home folder.");
        }
        return withoutTrailingSlash(*value);
    }
    if (auto home = userDatabaseHome()) return *home;
    throw HomeDirectoryError(
        std::string("Cannot find your home folder: HOME is ") + (value ? "empty" : "not set") +
        " and the user database gives no home folder for user " + std::to_string(::getuid()) +
        ". Set HOME to the absolute path of your home folder.");
}

} // namespace

const std::string& homeDirectory() {
    static const std::string home = findHomeDirectory();
    return home;
}

const std::string& temporaryDirectory() {
    static const std::string tmp = [] {
        auto value = environmentValue("TMPDIR");
        return withoutTrailingSlash(value && !value->empty() ? *value : std::string("/tmp"));
    }();
    return tmp;
}

const std::string& systemRoot() {
    static const std::string root = [] {
        auto value = environmentValue("MIVORA_SYSTEM_ROOT");
        return withoutTrailingSlash(value && !value->empty() ? *value : std::string("/"));
    }();
    return root;
}

std::string systemPath(const std::string& fixedPath) {
    const std::string& root = systemRoot();
    if (root == "/") return fixedPath;
    return root + fixedPath;
}

const std::optional<std::string>& standinsDirectory() {
    static const std::optional<std::string> dir = []() -> std::optional<std::string> {
        std::string exeDir = executableDirectory();
        if (exeDir.empty()) return std::nullopt;
        for (const std::string& candidate :
             {exeDir + "/standins", exeDir + "/" + MIVORA_STANDINS_RELATIVE_INSTALL_DIR}) {
            if (isDirectory(candidate)) return standardizePath(candidate);
        }
        return std::nullopt;
    }();
    return dir;
}

const std::vector<std::string>& childEnvironment() {
    static const std::vector<std::string> env = [] {
        std::vector<std::string> result;
        bool sawPath = false;
        const auto& standins = standinsDirectory();
        for (char** entry = environ; entry != nullptr && *entry != nullptr; ++entry) {
            std::string item(*entry);
            if (item.rfind("PATH=", 0) == 0) {
                sawPath = true;
                if (standins) item += (item.size() > 5 ? ":" : "") + *standins;
            }
            result.push_back(std::move(item));
        }
        if (!sawPath) {
            std::string path = "PATH=/usr/local/bin:/usr/bin:/bin";
            if (standins) path += ":" + *standins;
            result.push_back(path);
        }
        return result;
    }();
    return env;
}

namespace {

std::string localeNameFromVariables(const char* categoryVariable) {
    for (const char* name : {"LC_ALL", categoryVariable, "LANG"}) {
        auto value = environmentValue(name);
        if (!value || value->empty()) continue;
        return *value;
    }
    return {};
}

} // namespace

const std::string& userLocaleName(LocaleCategory category) {
    static const std::string collation = localeNameFromVariables("LC_COLLATE");
    static const std::string time = localeNameFromVariables("LC_TIME");
    static const std::string numeric = localeNameFromVariables("LC_NUMERIC");
    switch (category) {
    case LocaleCategory::collation:
        return collation;
    case LocaleCategory::time:
        return time;
    case LocaleCategory::numeric:
        return numeric;
    }
    return collation;
}

std::string currentDirectory() {
    char buffer[PATH_MAX];
    if (::getcwd(buffer, sizeof buffer) == nullptr) return "/";
    return buffer;
}

} // namespace mivora::platform
