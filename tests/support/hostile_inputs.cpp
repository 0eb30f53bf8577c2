#include "support/hostile_inputs.h"

#include "platform/file_reading.h"

#include <chrono>
#include <csignal>
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace mivora::testing {

namespace {

void appendBigEndian(std::string& out, uint64_t value, size_t width) {
    for (size_t i = width; i-- > 0;)
        out += static_cast<char>(value >> (8 * i) & 0xFF);
}

} // namespace

std::string binaryPlist(const std::vector<BinaryPlistObject>& objects, uint64_t topObject) {
    constexpr size_t kWidth = 4; // offsets and references
    std::string out = "bplist00";
    std::vector<uint64_t> offsets;
    for (const auto& object : objects) {
        offsets.push_back(out.size());
        bool text = object.kind == BinaryPlistObject::Kind::text;
        uint64_t count = object.claimedCount.value_or(text ? object.text.size()
                                                      : object.kind == BinaryPlistObject::Kind::dictionary
                                                          ? object.references.size() / 2
                                                          : object.references.size());
        unsigned kind = text ? 0x5 : object.kind == BinaryPlistObject::Kind::array ? 0xA : 0xD;
        if (count < 15) {
            out += static_cast<char>(kind << 4 | count);
        } else {
            out += static_cast<char>(kind << 4 | 0xF);
            out += static_cast<char>(0x13); // an 8-byte integer follows
            appendBigEndian(out, count, 8);
        }
        if (text) out += object.text;
        for (uint64_t reference : object.references)
            appendBigEndian(out, reference, kWidth);
    }
    uint64_t table = out.size();
    for (uint64_t offset : offsets)
        appendBigEndian(out, offset, kWidth);
    out += std::string(6, '\0');
    out += static_cast<char>(kWidth);
    out += static_cast<char>(kWidth);
    appendBigEndian(out, objects.size(), 8);
    appendBigEndian(out, topObject, 8);
    appendBigEndian(out, table, 8);
    return out;
}

std::string deeplyNestedPlist(size_t depth, bool binary, const std::string& identifier) {
    if (!binary) {
        std::string xml = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<plist version=\"1.0\"><dict>"
                          "<key>CFBundleIdentifier</key><string>" +
                          identifier + "</string><key>Nest</key>";
        xml.reserve(xml.size() + depth * 15 + 32);
        for (size_t i = 0; i < depth; ++i)
            xml += "<array>";
        for (size_t i = 0; i < depth; ++i)
            xml += "</array>";
        return xml + "</dict></plist>\n";
    }
    using Kind = BinaryPlistObject::Kind;
    // 0: the dictionary, 1-2: its keys, 3: the identifier, 4...: the arrays.
    std::vector<BinaryPlistObject> objects = {{Kind::dictionary, "", {1, 2, 3, 4}, std::nullopt},
                                              {Kind::text, "CFBundleIdentifier", {}, std::nullopt},
                                              {Kind::text, "Nest", {}, std::nullopt},
                                              {Kind::text, identifier, {}, std::nullopt}};
    for (size_t i = 0; i < depth; ++i) {
        std::vector<uint64_t> inner;
        if (i + 1 < depth) inner.push_back(objects.size() + 1);
        objects.push_back({Kind::array, "", inner, std::nullopt});
    }
    return binaryPlist(objects);
}

MeasuredRun runMeasured(const Sandbox& sandbox, const std::vector<std::string>& arguments,
                        double timeoutSeconds, std::optional<uint64_t> fileSizeLimit) {
    std::vector<std::string> argv = {mivoraBinary()};
    argv.insert(argv.end(), arguments.begin(), arguments.end());
    return runMeasuredProgram(sandbox, argv, timeoutSeconds, fileSizeLimit);
}

MeasuredRun runMeasuredProgram(const Sandbox& sandbox, std::vector<std::string> argv, double timeoutSeconds,
                               std::optional<uint64_t> fileSizeLimit) {
    std::vector<std::string> environment = sandbox.runEnvironment();
    std::vector<char*> argvPointers, environmentPointers;
    for (auto& item : argv)
        argvPointers.push_back(item.data());
    argvPointers.push_back(nullptr);
    for (auto& item : environment)
        environmentPointers.push_back(item.data());
    environmentPointers.push_back(nullptr);
    const std::string outPath = sandbox.dir() + "/measured.out", errPath = sandbox.dir() + "/measured.err";

    MeasuredRun run;
    pid_t child = ::fork();
    if (child < 0) return run;
    if (child == 0) {
        int out = ::open(outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        int err = ::open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        if (out < 0 || err < 0 || ::dup2(out, 1) < 0 || ::dup2(err, 2) < 0 ||
            ::chdir(sandbox.dir().c_str()) != 0)
            ::_exit(127);
        if (fileSizeLimit) {
            struct rlimit limit {
                static_cast<rlim_t>(*fileSizeLimit), static_cast<rlim_t>(*fileSizeLimit)
            };
            if (::setrlimit(RLIMIT_FSIZE, &limit) != 0) ::_exit(127);
        }
        ::execve(argvPointers[0], argvPointers.data(), environmentPointers.data());
        ::_exit(127);
    }
    const auto start = std::chrono::steady_clock::now();
    auto deadline = start + std::chrono::duration<double>(timeoutSeconds);
    int status = 0;
    struct rusage usage {};
    for (;;) {
        pid_t done = ::wait4(child, &status, WNOHANG, &usage);
        if (done == child) break;
        if (std::chrono::steady_clock::now() > deadline) {
            ::kill(child, SIGKILL);
            ::wait4(child, &status, 0, &usage);
            run.result.timedOut = true;
            break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    run.result.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    run.result.out = platform::readFile(outPath, kTestReadLimit).value_or("");
    run.result.err = platform::readFile(errPath, kTestReadLimit).value_or("");
    run.peakKilobytes = usage.ru_maxrss;
    run.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    return run;
}

} // namespace mivora::testing
