// Ctrl-C (SIGINT) and SIGTERM while a change is half made. Inside an
// InterruptionWindow these signals do not end the process at once: they are
// recorded, and the waits of this layer (child processes, pauses) end early by
// throwing Interrupted, so that the command can undo its half-made change. The
// frame then ends the process with 128 + the signal number, as a shell reports it.
#pragma once

#include <csignal>

namespace mivora::platform {

// Not a std::exception: the handlers that collect per-item failures (a batch of
// applies) must not swallow it; only the frame catches it.
class Interrupted {
public:
    explicit Interrupted(int signal) : signal_(signal) {}
    int signal() const { return signal_; }
    int exitStatus() const { return 128 + signal_; }

private:
    int signal_;
};

class InterruptionWindow {
public:
    InterruptionWindow();
    // Restores the earlier handlers. A signal that arrived after the last check
    // (when nothing was left to undo) ends the process here, with 128 + its number.
    ~InterruptionWindow();
    InterruptionWindow(const InterruptionWindow&) = delete;
    InterruptionWindow& operator=(const InterruptionWindow&) = delete;

private:
    bool outermost_ = false;
    struct sigaction previousInterrupt_ {};
    struct sigaction previousTerminate_ {};
};

// Throws Interrupted when a signal arrived in the open window (again on every
// call, so that no later wait runs on). Nothing outside a window.
void throwIfInterrupted();

// Readable once a signal has arrived in the open window; -1 when none is open.
// Blocking waits poll it beside their own descriptors.
int interruptionWakeDescriptor();

} // namespace mivora::platform
