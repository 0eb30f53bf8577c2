// Child processes: run with captured output and a deadline, start and wait, or
// start and forget. Every child gets childEnvironment().
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace mivora::platform {

struct CapturedRun {
    bool timedOut = false;
    int status = 0; // exit status, or the signal number when the child was killed
    std::string standardOutput;
    std::string standardError;
};

// Runs `arguments[0]` with the given arguments, standard input closed, reading
// both output streams until both close or `timeoutSeconds` pass. The child leads
// its own process group: on time-out the whole group is sent SIGTERM and not
// waited for; SIGINT, SIGTERM, SIGHUP and SIGQUIT that reach us meanwhile are
// passed on to the group and then raised again on us. Returns the launch error's text on
// failure to start.
struct CaptureOutcome {
    std::optional<CapturedRun> run;
    std::string launchError;
};
struct SpawnOptions {
    const std::vector<std::string>* environment = nullptr; // default: childEnvironment()
    std::string workingDirectory;                          // default: ours
};
CaptureOutcome runCapturing(const std::vector<std::string>& arguments, double timeoutSeconds,
                            const SpawnOptions& options = {});

// Starts a program directly (no shell) with its output to /dev/null and waits
// for it; a program that cannot start is no error. Returns its exit status or -1.
int runAndWait(const std::vector<std::string>& arguments);

// Starts a program directly with its output to /dev/null and does not wait.
void startDetached(const std::vector<std::string>& arguments);

// The first executable file named `name` in the directories of the children's
// PATH (childEnvironment()), as a shell would find it; nothing when there is none.
std::optional<std::string> findProgram(const std::string& name);

// Blocks the calling thread.
void sleepSeconds(double seconds);

} // namespace mivora::platform
