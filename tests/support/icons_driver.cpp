#include "support/icons_driver.h"

#include "platform/file_reading.h"
#include "platform/filesystem.h"

#include <algorithm>
#include <chrono>
#include <csignal>
#include <fcntl.h>
#include <spawn.h>
#include <stdexcept>
#include <sys/wait.h>
#include <thread>

namespace mivora::testing {

RunResult runIconsDriver(const Sandbox& sandbox, const std::vector<std::string>& arguments,
                         double timeoutSeconds) {
    std::vector<std::string> argv = {MIVORA_ICONS_DRIVER};
    argv.insert(argv.end(), arguments.begin(), arguments.end());
    return sandbox.runProgram(argv, "", timeoutSeconds);
}

std::string effectiveSkyLightLibrary() {
    return MIVORA_FAKE_SKYLIGHT_EFFECTIVE;
}
std::string inertSkyLightLibrary() {
    return MIVORA_FAKE_SKYLIGHT_INERT;
}

void installSkyLight(const Sandbox& sandbox, const std::string& library) {
    std::string target = sandbox.rootPath("/System/Library/PrivateFrameworks/SkyLight.framework/SkyLight");
    platform::createDirectories(platform::parentPath(target));
    platform::removeItemQuietly(target);
    platform::copyFile(library, target, platform::read_limits::executable);
}

void installRecordingProgram(const Sandbox& sandbox, const std::string& absolute, const std::string& logName,
                             int status) {
    sandbox.writeScript(sandbox.rootPath(absolute),
                        "log=\"" + sandbox.tmp() + "/" + logName +
                            "\"\n"
                            "for a in \"$@\"; do printf '%s\\n' \"$a\" >> \"$log\"; done\n"
                            "printf '%s\\n' -- >> \"$log\"\n"
                            "exit " +
                            std::to_string(status) + "\n");
}

std::vector<std::string> namesStartingWith(const std::string& folder, const std::string& prefix) {
    std::vector<std::string> names;
    for (auto& name : platform::listDirectory(folder).value_or(std::vector<std::string>{}))
        if (name.rfind(prefix, 0) == 0) names.push_back(std::move(name));
    std::sort(names.begin(), names.end());
    return names;
}

bool waitForFile(const std::string& path, double seconds) {
    auto deadline = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
    while (!platform::fileExists(path)) {
        if (std::chrono::steady_clock::now() > deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return true;
}

BackgroundProcess::BackgroundProcess(const Sandbox& sandbox, const std::vector<std::string>& argv) {
    auto env = sandbox.runEnvironment();
    std::vector<char*> args;
    for (const auto& item : argv)
        args.push_back(const_cast<char*>(item.c_str()));
    args.push_back(nullptr);
    std::vector<char*> envp;
    for (const auto& item : env)
        envp.push_back(const_cast<char*>(item.c_str()));
    envp.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    int error = ::posix_spawn(&pid_, argv[0].c_str(), &actions, nullptr, args.data(), envp.data());
    posix_spawn_file_actions_destroy(&actions);
    if (error != 0) throw std::runtime_error("cannot start " + argv[0]);
}

BackgroundProcess::~BackgroundProcess() {
    kill();
}

void BackgroundProcess::kill() {
    if (pid_ <= 0) return;
    ::kill(pid_, SIGKILL);
    ::waitpid(pid_, nullptr, 0);
    pid_ = -1;
}

} // namespace mivora::testing
