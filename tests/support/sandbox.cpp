#include "support/sandbox.h"

#include "platform/filesystem.h"
#include "platform/process.h"

#include <cstdlib>
#include <stdexcept>
#include <sys/stat.h>

namespace mivora::testing {

namespace fs = platform;

std::string mivoraBinary() {
    return MIVORA_BINARY;
}
std::string standinsDirectory() {
    return MIVORA_STANDINS_DIR;
}

Sandbox::Sandbox() {
    const char* base = std::getenv("TMPDIR");
    std::string pattern = std::string(base && *base ? base : "/tmp") + "/mivora-sandbox-XXXXXX";
    std::vector<char> name(pattern.begin(), pattern.end());
    name.push_back('\0');
    if (::mkdtemp(name.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
    dir_ = *fs::resolveSymbolicLinks(name.data());
    root_ = dir_ + "/root";
    home_ = dir_ + "/home";
    tmp_ = dir_ + "/tmp";
    bin_ = dir_ + "/bin";
    for (const auto& folder : {root_ + "/Applications", home_, tmp_, bin_})
        fs::createDirectories(folder);
}

Sandbox::~Sandbox() {
    if (std::getenv("MIVORA_KEEP_SANDBOX") == nullptr) fs::removeItemQuietly(dir_);
}

void Sandbox::writeFile(const std::string& path, const std::string& bytes) const {
    fs::createDirectories(fs::parentPath(path));
    fs::writeFileAtomically(path, bytes);
}

void Sandbox::writeScript(const std::string& path, const std::string& body) const {
    std::string text = body.rfind("#!", 0) == 0 ? body : "#!/bin/sh\n" + body;
    writeFile(path, text);
    ::chmod(path.c_str(), 0755);
}

void Sandbox::writePlist(const std::string& path, const platform::Plist& plist, bool binary) const {
    writeFile(path, binary ? plist.toBinary() : plist.toXML());
}

std::optional<std::string> Sandbox::readFile(const std::string& path) const {
    return fs::readFile(path, kTestReadLimit);
}

std::string Sandbox::addApp(const AppBundle& app) const {
    std::string folder = app.folder.empty() ? root_ + "/Applications" : app.folder;
    std::string path = folder + "/" + app.name + ".app";
    fs::createDirectories(path + "/Contents/MacOS");
    fs::createDirectories(path + "/Contents/Resources");
    if (app.writeInfoPlist) {
        auto info = platform::Plist::dictionary();
        if (app.bundleId) info.set("CFBundleIdentifier", platform::Plist::string(*app.bundleId));
        if (app.executable) info.set("CFBundleExecutable", platform::Plist::string(*app.executable));
        for (const auto& [key, value] : app.extraStrings)
            info.set(key, platform::Plist::string(value));
        writePlist(path + "/Contents/Info.plist", info, app.binaryPlist);
    }
    if (app.executable) {
        std::string exe = path + "/Contents/MacOS/" + *app.executable;
        writeFile(exe, app.executableBytes);
        ::chmod(exe.c_str(), 0755);
    }
    return path;
}

void Sandbox::installFakeSudo() const {
    writeScript(bin_ + "/sudo",
                "log=\"" + tmp_ +
                    "/sudo.log\"\n"
                    "for a in \"$@\"; do printf '%s\\n' \"$a\" >> \"$log\"; done\n"
                    "printf '%s\\n' -- >> \"$log\"\n"
                    "if [ -e \"" +
                    bin_ +
                    "/sudo.refuse\" ]; then echo 'sudo: a password is required' >&2; exit 1; fi\n"
                    "if [ \"$1 $2 $#\" = '-n -l 2' ]; then\n"
                    "  [ -e \"" +
                    bin_ + "/sudo.rules\" ] && exec cat \"" + bin_ +
                    "/sudo.rules\"\n"
                    "  echo 'sudo: a password is required' >&2; exit 1\n"
                    "fi\n"
                    "if [ \"$1\" = -n ]; then shift; fi\n"
                    "exec \"$@\"\n");
}

void Sandbox::installHelperFiles(bool helper, bool fileicon) const {
    std::string folder = root_ + "/usr/local/lib/mivora";
    if (helper) {
        writeScript(folder + "/helper.sh", "log=\"" + tmp_ +
                                               "/helper.log\"\n"
                                               "for a in \"$@\"; do printf '%s\\n' \"$a\" >> \"$log\"; done\n"
                                               "printf '%s\\n' -- >> \"$log\"\n"
                                               "status=0\n"
                                               "[ -e \"" +
                                               bin_ + "/helper.status\" ] && status=$(cat \"" + bin_ +
                                               "/helper.status\")\n"
                                               "[ \"$status\" = 0 ] || echo \"helper failed\" >&2\n"
                                               "exit \"$status\"\n");
    }
    if (fileicon) writeScript(folder + "/fileicon", "exit 0\n");
}

std::vector<std::vector<std::string>> Sandbox::loggedCalls(const std::string& logName) const {
    std::vector<std::vector<std::string>> calls;
    auto text = fs::readFile(tmp_ + "/" + logName, kTestReadLimit);
    if (!text) return calls;
    std::vector<std::string> current;
    size_t start = 0;
    while (start < text->size()) {
        size_t end = text->find('\n', start);
        if (end == std::string::npos) end = text->size();
        std::string line = text->substr(start, end - start);
        if (line == "--") {
            calls.push_back(current);
            current.clear();
        } else {
            current.push_back(line);
        }
        start = end + 1;
    }
    return calls;
}

std::vector<std::string> Sandbox::runEnvironment() const {
    std::map<std::string, std::string> variables = {
        {"HOME", home_},
        {"TMPDIR", tmp_},
        {"MIVORA_SYSTEM_ROOT", root_},
        {"PATH", bin_ + ":/usr/local/bin:/usr/bin:/bin"},
        {"LANG", "en_US.UTF-8"},
    };
    for (const auto& [key, value] : environment)
        variables[key] = value;
    std::vector<std::string> result;
    for (const auto& [key, value] : variables)
        result.push_back(key + "=" + value);
    return result;
}

RunResult Sandbox::runProgram(const std::vector<std::string>& argv, const std::string& workingDirectory,
                              double timeoutSeconds) const {
    auto env = runEnvironment();
    platform::SpawnOptions options;
    options.environment = &env;
    options.workingDirectory = workingDirectory.empty() ? dir_ : workingDirectory;
    auto outcome = platform::runCapturing(argv, timeoutSeconds, options);
    RunResult result;
    if (!outcome.run) {
        result.err = outcome.launchError;
        return result;
    }
    result.status = outcome.run->status;
    result.out = outcome.run->standardOutput;
    result.err = outcome.run->standardError;
    result.timedOut = outcome.run->timedOut;
    return result;
}

RunResult Sandbox::run(const std::vector<std::string>& arguments, const std::string& workingDirectory,
                       double timeoutSeconds) const {
    std::vector<std::string> argv = {mivoraBinary()};
    argv.insert(argv.end(), arguments.begin(), arguments.end());
    return runProgram(argv, workingDirectory, timeoutSeconds);
}

RunResult runAfter(const Sandbox& sandbox, const std::string& setup,
                   const std::vector<std::string>& arguments) {
    std::vector<std::string> argv = {"/bin/sh", "-c", setup + " && exec \"$0\" \"$@\"", mivoraBinary()};
    argv.insert(argv.end(), arguments.begin(), arguments.end());
    return sandbox.runProgram(argv, sandbox.tmp());
}

bool isTemporaryFileOf(const std::string& path, const std::string& destination) {
    std::string prefix =
        platform::parentPath(destination) + "/." + platform::lastPathComponent(destination) + ".";
    return path.size() == prefix.size() + 6 && path.rfind(prefix, 0) == 0;
}

} // namespace mivora::testing
