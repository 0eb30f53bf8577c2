// Runs pieces of the icon engine inside a sandbox, through the test-only
// program tests/drivers/icons_driver (the engine's locations come from the
// process environment, so each run needs a process of its own), and keeps
// other programs running in the background while a test looks on.
#pragma once

#include <string>
#include <sys/types.h>
#include <vector>

#include "support/sandbox.h"

namespace mivora::testing {

// build/tests/icons_driver <arguments...> with the sandbox's environment.
RunResult runIconsDriver(const Sandbox& sandbox, const std::vector<std::string>& arguments,
                         double timeoutSeconds = 30);

// The two fake window-server libraries: one whose appearance switch writes the
// preference, one whose switch does nothing. Both log "dark"/"light" lines to
// <tmp>/skylight.log.
std::string effectiveSkyLightLibrary();
std::string inertSkyLightLibrary();
// Copies one of them to the sandbox's SkyLight framework location.
void installSkyLight(const Sandbox& sandbox, const std::string& library);

// A recording program at a fixed system location (<root> + absolute): appends
// its arguments, one a line, then "--", to <tmp>/<logName> and exits `status`.
void installRecordingProgram(const Sandbox& sandbox, const std::string& absolute, const std::string& logName,
                             int status = 0);

// The names in a folder that begin with `prefix`, sorted.
std::vector<std::string> namesStartingWith(const std::string& folder, const std::string& prefix);

// Polls until the file exists or `seconds` pass.
bool waitForFile(const std::string& path, double seconds);

// A program started in the background with the sandbox's environment; killed
// (SIGKILL) and reaped when the object goes.
class BackgroundProcess {
public:
    BackgroundProcess(const Sandbox& sandbox, const std::vector<std::string>& argv);
    ~BackgroundProcess();
    BackgroundProcess(const BackgroundProcess&) = delete;
    BackgroundProcess& operator=(const BackgroundProcess&) = delete;

    pid_t pid() const { return pid_; }
    void kill();

private:
    pid_t pid_ = -1;
};

} // namespace mivora::testing
