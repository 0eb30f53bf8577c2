// The running processes of this machine, as the platform's list of running
// applications: each process with the executable it runs and, when that lies
// inside an application bundle, the bundle.
#pragma once

#include <optional>
#include <string>
#include <sys/types.h>
#include <vector>

namespace mivora::platform {

struct RunningProcess {
    pid_t pid = 0;
    std::string executablePath;            // from /proc/<pid>/exe
    std::optional<std::string> bundlePath; // the innermost enclosing "*.app" folder
};

// In ascending process-id order; processes we may not inspect are left out.
std::vector<RunningProcess> listRunningProcesses();

// The innermost enclosing folder whose name ends in ".app", or nothing.
std::optional<std::string> enclosingBundlePath(const std::string& executablePath);

} // namespace mivora::platform
