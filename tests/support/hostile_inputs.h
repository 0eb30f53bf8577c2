// Damaged and hostile inputs for the readers (deeply nested property lists in
// both forms, binary property lists whose references lie), and a run of the
// binary that also reports the child's peak memory and can set its file-size limit.
#pragma once

#include "support/sandbox.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace mivora::testing {

// AddressSanitizer's shadow memory and quarantine multiply a child's peak, so the
// memory bounds hold only in a plain build; time and outcome are checked in both,
// the time with room for the sanitizer's slower code.
#if defined(__SANITIZE_ADDRESS__)
constexpr bool kPeaksAreMeaningful = false;
constexpr double kSlowdown = 4;
#else
constexpr bool kPeaksAreMeaningful = true;
constexpr double kSlowdown = 1;
#endif

// One object of a binary property list: ASCII text, or a container of references
// (an array's elements; a dictionary's keys followed by its values).
struct BinaryPlistObject {
    enum class Kind { text, array, dictionary } kind;
    std::string text;
    std::vector<uint64_t> references;
    // The count written into the marker, when it should lie about `references`.
    std::optional<uint64_t> claimedCount;
};
std::string binaryPlist(const std::vector<BinaryPlistObject>& objects, uint64_t topObject = 0);

// A dictionary {CFBundleIdentifier: <identifier>, Nest: [[[...]]]} with `depth`
// arrays nested in each other, in either form.
std::string deeplyNestedPlist(size_t depth, bool binary, const std::string& identifier = "com.example.deep");

// Runs build/mivora in the sandbox with its environment; `fileSizeLimit` sets
// RLIMIT_FSIZE for the child.
struct MeasuredRun {
    RunResult result;
    long peakKilobytes = 0; // the child's own maximum resident set size
    double seconds = 0;     // from its start to its end
};
MeasuredRun runMeasured(const Sandbox& sandbox, const std::vector<std::string>& arguments,
                        double timeoutSeconds = 30, std::optional<uint64_t> fileSizeLimit = std::nullopt);
// The same for any program (argv[0] its path), such as a stand-in.
MeasuredRun runMeasuredProgram(const Sandbox& sandbox, std::vector<std::string> argv,
                               double timeoutSeconds = 30,
                               std::optional<uint64_t> fileSizeLimit = std::nullopt);

} // namespace mivora::testing
