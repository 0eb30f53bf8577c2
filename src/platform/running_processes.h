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
    std::string executablePath;                  // from /proc/<pid>/exe
    std::optional<std::string> bundlePath;       // the innermost enclosing "*.app" folder
    std::optional<std::string> bundleIdentifier; // that bundle's CFBundleIdentifier, when it is text
};

// In ascending process-id order; processes we may not inspect are left out.
std::vector<RunningProcess> listRunningProcesses();

// The running applications of this system: the processes of listRunningProcesses()
// that run inside a bundle lying under the system root or the home folder. With
// the root "/" that is every process with a bundle; under a sandboxed root it
// leaves out the host's processes and those of other sandboxes.
std::vector<RunningProcess> runningApplications();

// The innermost enclosing folder whose name ends in ".app", or nothing.
std::optional<std::string> enclosingBundlePath(const std::string& executablePath);

} // namespace mivora::platform
