// Errors of a store (a file that runs read, change and write back) that refused
// a change before touching it: kept busy by another run, or unreadable.
#pragma once

#include "platform/filesystem.h"

#include <exception>
#include <string>

namespace mivora::platform {

// what() is the cause followed by what became of the run ("; nothing was
// changed ..."), which holds when the refusal is the run's first change.
// A caller that has already changed something else composes its own message
// from cause() alone and says what it did change.
class UnchangedStoreError : public FileSystemError {
public:
    UnchangedStoreError(const std::string& cause, const std::string& outcome)
        : FileSystemError(cause + outcome), cause_(cause) {}
    const std::string& cause() const { return cause_; }

private:
    std::string cause_;
};

// A store stayed locked by another process for the whole wait.
class StoreBusyError : public UnchangedStoreError {
public:
    using UnchangedStoreError::UnchangedStoreError;
};

// Why `error` happened, without a claim about the rest of the run: the cause of
// a store's refusal, any other error's whole text.
inline std::string causeOf(const std::exception& error) {
    if (const auto* unchanged = dynamic_cast<const UnchangedStoreError*>(&error)) return unchanged->cause();
    return error.what();
}

} // namespace mivora::platform
