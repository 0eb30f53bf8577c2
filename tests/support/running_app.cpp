#include "support/running_app.h"

#include "platform/file_reading.h"
#include "platform/filesystem.h"

#include <chrono>
#include <csignal>
#include <spawn.h>
#include <stdexcept>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>

extern char** environ;

namespace mivora::testing {

RunningApp::RunningApp(const Sandbox& sandbox, const std::string& name, const std::string& folder) {
    AppBundle bundle;
    bundle.name = name;
    bundle.folder = folder;
    bundle.executable = "sleeper";
    bundlePath_ = sandbox.addApp(bundle);
    std::string executable = bundlePath_ + "/Contents/MacOS/sleeper";
    platform::removeItem(executable);
    platform::copyFile("/bin/sleep", executable, platform::read_limits::executable);
    ::chmod(executable.c_str(), 0755);
    char* argv[] = {executable.data(), const_cast<char*>("60"), nullptr};
    if (::posix_spawn(&pid_, executable.c_str(), nullptr, nullptr, argv, environ) != 0)
        throw std::runtime_error("cannot start " + executable);
}

RunningApp::~RunningApp() {
    if (pid_ > 0 && !reaped_) {
        ::kill(pid_, SIGKILL);
        ::waitpid(pid_, nullptr, 0);
    }
}

bool RunningApp::waitForExit(double seconds) {
    auto deadline = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
    while (!reaped_) {
        pid_t done = ::waitpid(pid_, nullptr, WNOHANG);
        if (done == pid_) {
            reaped_ = true;
            break;
        }
        if (std::chrono::steady_clock::now() >= deadline) break;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return reaped_;
}

} // namespace mivora::testing
