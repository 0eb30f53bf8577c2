#include "platform/process.h"

#include "platform/environment.h"
#include "platform/interruption.h"

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <iterator>
#include <poll.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace mivora::platform {

namespace {

struct CStrings {
    std::vector<char*> pointers;
    explicit CStrings(const std::vector<std::string>& items) {
        for (const auto& item : items)
            pointers.push_back(const_cast<char*>(item.c_str()));
        pointers.push_back(nullptr);
    }
    char** get() { return pointers.data(); }
};

int spawn(pid_t* pid, const std::vector<std::string>& arguments, posix_spawn_file_actions_t* actions,
          const std::vector<std::string>* environment = nullptr, bool ownProcessGroup = false) {
    CStrings argv(arguments);
    CStrings envp(environment ? *environment : childEnvironment());
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    if (ownProcessGroup) {
        // The child leads a group of its own, so that a time-out can end everything it started.
        posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETPGROUP);
        posix_spawnattr_setpgroup(&attributes, 0);
    }
    int error = ::posix_spawn(pid, arguments[0].c_str(), actions, &attributes, argv.get(), envp.get());
    posix_spawnattr_destroy(&attributes);
    return error;
}

// A child group lives outside the terminal's foreground group, so Ctrl-C and the
// like no longer reach it. While such a child runs, these signals are caught,
// passed on to its group, and raised again on us once the child's group is gone,
// so that the caller's own handling (or the default death) follows as before.
constexpr int forwardedSignals[] = {SIGINT, SIGTERM, SIGHUP, SIGQUIT};
volatile std::sig_atomic_t pendingSignal = 0;

extern "C" void recordSignal(int signal) {
    pendingSignal = signal;
}

class SignalForwarding {
public:
    SignalForwarding() {
        pendingSignal = 0;
        struct sigaction action {};
        action.sa_handler = recordSignal;
        sigemptyset(&action.sa_mask);
        for (size_t i = 0; i < std::size(forwardedSignals); ++i)
            ::sigaction(forwardedSignals[i], &action, &previous_[i]);
    }
    ~SignalForwarding() {
        for (size_t i = 0; i < std::size(forwardedSignals); ++i)
            ::sigaction(forwardedSignals[i], &previous_[i], nullptr);
        if (int signal = pendingSignal) {
            pendingSignal = 0;
            ::raise(signal);
        }
    }
    SignalForwarding(const SignalForwarding&) = delete;
    SignalForwarding& operator=(const SignalForwarding&) = delete;
    static int pending() { return pendingSignal; }

private:
    struct sigaction previous_[std::size(forwardedSignals)]{};
};

void closeQuietly(int& fd) {
    if (fd >= 0) ::close(fd);
    fd = -1;
}

} // namespace

namespace {

CaptureOutcome runCapturingInGroup(const std::vector<std::string>& arguments, double timeoutSeconds,
                                   const SpawnOptions& options) {
    CaptureOutcome outcome;
    int outPipe[2] = {-1, -1};
    int errPipe[2] = {-1, -1};
    if (::pipe2(outPipe, O_CLOEXEC) != 0 || ::pipe2(errPipe, O_CLOEXEC) != 0) {
        outcome.launchError = std::strerror(errno);
        for (int* fd : {&outPipe[0], &outPipe[1], &errPipe[0], &errPipe[1]})
            closeQuietly(*fd);
        return outcome;
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_adddup2(&actions, outPipe[1], 1);
    posix_spawn_file_actions_adddup2(&actions, errPipe[1], 2);
    if (!options.workingDirectory.empty())
        posix_spawn_file_actions_addchdir_np(&actions, options.workingDirectory.c_str());
    SignalForwarding forwarding;
    pid_t pid = 0;
    int error = spawn(&pid, arguments, &actions, options.environment, true);
    posix_spawn_file_actions_destroy(&actions);
    closeQuietly(outPipe[1]);
    closeQuietly(errPipe[1]);
    if (error != 0) {
        closeQuietly(outPipe[0]);
        closeQuietly(errPipe[0]);
        outcome.launchError = std::strerror(error);
        return outcome;
    }

    CapturedRun run;
    auto deadline = std::chrono::steady_clock::now() +
                    std::chrono::duration_cast<std::chrono::steady_clock::duration>(
                        std::chrono::duration<double>(timeoutSeconds > 0 ? timeoutSeconds : 0));
    int fds[2] = {outPipe[0], errPipe[0]};
    std::string* buffers[2] = {&run.standardOutput, &run.standardError};
    char chunk[65536];
    int interruption = 0;
    while (fds[0] >= 0 || fds[1] >= 0) {
        if ((interruption = SignalForwarding::pending()) != 0) break;
        auto now = std::chrono::steady_clock::now();
        if (now >= deadline) {
            run.timedOut = true;
            break;
        }
        auto waitMs = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - now).count() + 1;
        pollfd polls[2];
        nfds_t count = 0;
        int which[2];
        for (int i = 0; i < 2; ++i) {
            if (fds[i] < 0) continue;
            polls[count] = {fds[i], POLLIN, 0};
            which[count++] = i;
        }
        // Short waits: a forwarded signal that lands just before poll() is seen soon.
        int ready = ::poll(polls, count, static_cast<int>(std::min<long long>(waitMs, 200)));
        if (ready < 0) {
            if (errno == EINTR) continue;
            run.timedOut = true;
            break;
        }
        for (nfds_t k = 0; k < count; ++k) {
            if (polls[k].revents == 0) continue;
            int i = which[k];
            ssize_t got = ::read(fds[i], chunk, sizeof chunk);
            if (got > 0) {
                buffers[i]->append(chunk, static_cast<size_t>(got));
            } else if (got == 0 || (errno != EINTR && errno != EAGAIN)) {
                closeQuietly(fds[i]);
            }
        }
    }
    closeQuietly(fds[0]);
    closeQuietly(fds[1]);
    if (run.timedOut || interruption != 0) {
        // The whole group: nothing we started (a background job of the shell line
        // included) may outlive us, and such jobs ignore SIGINT and SIGQUIT.
        if (interruption != 0) ::kill(-pid, interruption);
        ::kill(-pid, SIGTERM);
        ::waitpid(pid, nullptr, WNOHANG);
        if (interruption != 0) run.status = interruption; // as if the signal had ended the child
        outcome.run = std::move(run);
        return outcome;
    }
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
        if (int signal = SignalForwarding::pending()) ::kill(-pid, signal);
    }
    run.status = WIFEXITED(status) ? WEXITSTATUS(status) : (WIFSIGNALED(status) ? WTERMSIG(status) : status);
    outcome.run = std::move(run);
    return outcome;
}

} // namespace

CaptureOutcome runCapturing(const std::vector<std::string>& arguments, double timeoutSeconds,
                            const SpawnOptions& options) {
    throwIfInterrupted();
    CaptureOutcome outcome = runCapturingInGroup(arguments, timeoutSeconds, options);
    // A signal passed on to the child is raised on us again once the child is
    // gone; inside an interruption window the command stops here and undoes its change.
    throwIfInterrupted();
    return outcome;
}

namespace {
bool spawnQuiet(const std::vector<std::string>& arguments, pid_t* pid) {
    if (arguments.empty()) return false;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    int error = spawn(pid, arguments, &actions);
    posix_spawn_file_actions_destroy(&actions);
    return error == 0;
}
} // namespace

int runAndWait(const std::vector<std::string>& arguments) {
    pid_t pid = 0;
    if (!spawnQuiet(arguments, &pid)) return -1;
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0) {
        if (errno != EINTR) return -1;
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

void startDetached(const std::vector<std::string>& arguments) {
    pid_t pid = 0;
    spawnQuiet(arguments, &pid);
}

std::optional<std::string> findProgram(const std::string& name) {
    if (name.empty() || name.find('/') != std::string::npos) return std::nullopt;
    std::string path;
    for (const auto& entry : childEnvironment()) {
        if (entry.rfind("PATH=", 0) == 0) path = entry.substr(5);
    }
    size_t start = 0;
    while (start <= path.size()) {
        size_t end = path.find(':', start);
        if (end == std::string::npos) end = path.size();
        std::string folder = path.substr(start, end - start);
        start = end + 1;
        if (folder.empty()) continue;
        std::string candidate = folder + "/" + name;
        struct stat info {};
        if (::stat(candidate.c_str(), &info) == 0 && S_ISREG(info.st_mode) &&
            ::access(candidate.c_str(), X_OK) == 0)
            return candidate;
    }
    return std::nullopt;
}

void sleepSeconds(double seconds) {
    // In pieces: a huge or infinite pause would overflow the clock's integer ticks.
    constexpr double piece = 86400;
    while (seconds > 0) {
        double now = seconds < piece ? seconds : piece;
        if (int wake = interruptionWakeDescriptor(); wake >= 0) {
            // A pause inside an interruption window ends when a signal comes.
            pollfd poll{wake, POLLIN, 0};
            auto start = std::chrono::steady_clock::now();
            int ready = ::poll(&poll, 1, static_cast<int>(now * 1000));
            throwIfInterrupted();
            if (ready != 0)
                now = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        } else {
            std::this_thread::sleep_for(std::chrono::duration<double>(now));
        }
        seconds -= now;
    }
}

} // namespace mivora::platform
