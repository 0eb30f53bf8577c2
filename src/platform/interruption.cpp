#include "platform/interruption.h"

#include <cerrno>
#include <cstdlib>
#include <exception>
#include <fcntl.h>
#include <unistd.h>

namespace mivora::platform {

namespace {

// Signal state is process-wide by nature: the handler can only reach globals.
volatile std::sig_atomic_t recordedSignal = 0;
int wakePipe[2] = {-1, -1};
int openWindows = 0;
bool signalThrown = false;

extern "C" void recordInterruption(int signal) {
    int saved = errno;
    if (recordedSignal == 0) recordedSignal = signal;
    if (wakePipe[1] >= 0) {
        char byte = 1;
        [[maybe_unused]] ssize_t ignored = ::write(wakePipe[1], &byte, 1);
    }
    errno = saved;
}

} // namespace

InterruptionWindow::InterruptionWindow() {
    if (openWindows++ > 0) return;
    outermost_ = true;
    recordedSignal = 0;
    signalThrown = false;
    if (::pipe2(wakePipe, O_CLOEXEC | O_NONBLOCK) != 0) wakePipe[0] = wakePipe[1] = -1;
    struct sigaction action {};
    action.sa_handler = recordInterruption;
    sigemptyset(&action.sa_mask);
    action.sa_flags = 0; // no SA_RESTART: a blocking call returns so that its loop looks
    ::sigaction(SIGINT, &action, &previousInterrupt_);
    ::sigaction(SIGTERM, &action, &previousTerminate_);
}

InterruptionWindow::~InterruptionWindow() {
    --openWindows;
    if (!outermost_) return;
    ::sigaction(SIGINT, &previousInterrupt_, nullptr);
    ::sigaction(SIGTERM, &previousTerminate_, nullptr);
    for (int& fd : wakePipe) {
        if (fd >= 0) ::close(fd);
        fd = -1;
    }
    int signal = recordedSignal;
    recordedSignal = 0;
    // Unwinding with Interrupted: the frame ends the process. Otherwise nothing
    // is left to undo, so leave now rather than finish as if no signal came.
    if (signal != 0 && (!signalThrown || std::uncaught_exceptions() == 0)) std::exit(128 + signal);
}

void throwIfInterrupted() {
    if (openWindows == 0 || recordedSignal == 0) return;
    signalThrown = true;
    throw Interrupted(recordedSignal);
}

int interruptionWakeDescriptor() {
    return openWindows > 0 ? wakePipe[0] : -1;
}

} // namespace mivora::platform
