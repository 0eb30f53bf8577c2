// A real process whose executable lies inside an application bundle of a
// sandbox (a copy of /bin/sleep at <bundle>/Contents/MacOS/sleeper), so that
// the sandbox's running applications include it, and only that sandbox's. The
// process is killed and reaped when the object goes away.
#pragma once

#include <string>
#include <sys/types.h>

#include "support/sandbox.h"

namespace mivora::testing {

class RunningApp {
public:
    // Adds <folder>/<name>.app (default folder: <root>/Applications) and starts it.
    RunningApp(const Sandbox& sandbox, const std::string& name, const std::string& folder = "");
    ~RunningApp();
    RunningApp(const RunningApp&) = delete;
    RunningApp& operator=(const RunningApp&) = delete;

    pid_t pid() const { return pid_; }
    const std::string& bundlePath() const { return bundlePath_; }
    // Whether the process ends within `seconds` (it is reaped then).
    bool waitForExit(double seconds);

private:
    std::string bundlePath_;
    pid_t pid_ = -1;
    bool reaped_ = false;
};

} // namespace mivora::testing
