#include "platform/parallel_work_capacity.h"

#include "platform/file_reading.h"

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <sched.h>
#include <thread>
#include <vector>

namespace mivora::platform {

namespace {

std::vector<std::string_view> fields(std::string_view line, char separator) {
    std::vector<std::string_view> parts;
    for (size_t start = 0;;) {
        size_t end = line.find(separator, start);
        parts.push_back(line.substr(start, end == std::string_view::npos ? line.npos : end - start));
        if (end == std::string_view::npos) return parts;
        start = end + 1;
    }
}

std::vector<std::string_view> lines(std::string_view text) {
    std::vector<std::string_view> all = fields(text, '\n');
    if (!all.empty() && all.back().empty()) all.pop_back();
    return all;
}

std::string_view trimmed(std::string_view text) {
    while (!text.empty() && (text.back() == '\n' || text.back() == ' ' || text.back() == '\t'))
        text.remove_suffix(1);
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t'))
        text.remove_prefix(1);
    return text;
}

std::optional<long long> wholeNumber(std::string_view text) {
    text = trimmed(text);
    long long value = 0;
    auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc() || end != text.data() + text.size()) return std::nullopt;
    return value;
}

std::optional<double> quota(long long microseconds, long long period) {
    if (microseconds <= 0 || period <= 0) return std::nullopt;
    return static_cast<double>(microseconds) / static_cast<double>(period);
}

// mountinfo writes blanks, tabs, newlines and backslashes in paths as octal escapes ("\\040").
std::string unescaped(std::string_view text) {
    const auto octal = [](char c) { return c >= '0' && c <= '7'; };
    std::string out;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\\' && i + 3 < text.size() && octal(text[i + 1]) && octal(text[i + 2]) &&
            octal(text[i + 3])) {
            out +=
                static_cast<char>((text[i + 1] - '0') * 64 + (text[i + 2] - '0') * 8 + (text[i + 3] - '0'));
            i += 3;
        } else {
            out += text[i];
        }
    }
    return out;
}

bool hasItem(std::string_view list, std::string_view item) {
    for (std::string_view part : fields(list, ','))
        if (part == item) return true;
    return false;
}

// A cgroup file system the process can see: where it is mounted, and which
// group of the hierarchy that mount shows at its top.
struct CgroupMount {
    std::string mountPoint, root;
    bool v2;
};

std::vector<CgroupMount> cgroupMounts(std::string_view mountInfo) {
    std::vector<CgroupMount> mounts;
    for (std::string_view line : lines(mountInfo)) {
        // "<id> <parent> <major:minor> <root> <mount point> <options> [optional...] - <type> <source> <super
        // options>"
        std::vector<std::string_view> parts = fields(line, ' ');
        auto dash = std::find(parts.begin(), parts.end(), "-");
        if (parts.size() < 5 || dash == parts.end() || parts.end() - dash < 4) continue;
        const std::string_view type = dash[1], superOptions = dash[3];
        if (type == "cgroup2")
            mounts.push_back({unescaped(parts[4]), unescaped(parts[3]), true});
        else if (type == "cgroup" && hasItem(superOptions, "cpu"))
            mounts.push_back({unescaped(parts[4]), unescaped(parts[3]), false});
    }
    return mounts;
}

// The folders of a group and of each of its ancestors up to the mount's top,
// innermost first; nothing when the group lies outside what the mount shows.
std::vector<std::string> groupFolders(const std::string& root, const CgroupMount& mount,
                                      std::string_view group) {
    std::string_view top = mount.root;
    if (top != "/") {
        if (group.substr(0, top.size()) != top || (group.size() > top.size() && group[top.size()] != '/'))
            return {};
        group.remove_prefix(top.size());
    }
    std::string base = root == "/" ? std::string() : root;
    if (!base.empty() && base.back() == '/') base.pop_back();
    base += mount.mountPoint;
    std::vector<std::string> folders;
    std::string relative(group);
    while (!relative.empty() && relative.back() == '/')
        relative.pop_back();
    for (;;) {
        folders.push_back(base + relative);
        if (relative.empty()) return folders;
        relative.resize(relative.rfind('/'));
    }
}

std::optional<double> lower(std::optional<double> a, std::optional<double> b) {
    if (!a) return b;
    if (!b) return a;
    return std::min(*a, *b);
}

size_t affinityProcessorCount() {
    // The mask may be wider than a cpu_set_t on machines with many processors.
    for (int processors = CPU_SETSIZE; processors <= (1 << 20); processors *= 2) {
        cpu_set_t* set = CPU_ALLOC(processors);
        if (set == nullptr) break;
        const size_t size = CPU_ALLOC_SIZE(processors);
        if (::sched_getaffinity(0, size, set) == 0) {
            const int count = CPU_COUNT_S(size, set);
            CPU_FREE(set);
            return count > 0 ? static_cast<size_t>(count) : 1;
        }
        CPU_FREE(set);
        if (errno != EINVAL) break;
    }
    return std::max(1u, std::thread::hardware_concurrency());
}

} // namespace

std::optional<double> cgroupV2Quota(std::string_view cpuMax) {
    std::vector<std::string_view> parts = fields(trimmed(cpuMax), ' ');
    if (parts.empty() || parts[0] == "max") return std::nullopt;
    auto microseconds = wholeNumber(parts[0]);
    auto period = parts.size() > 1 ? wholeNumber(parts[1]) : std::optional<long long>(100000);
    if (!microseconds || !period) return std::nullopt;
    return quota(*microseconds, *period);
}

std::optional<double> cgroupV1Quota(std::string_view quotaText, std::string_view periodText) {
    auto microseconds = wholeNumber(quotaText), period = wholeNumber(periodText);
    if (!microseconds || !period) return std::nullopt;
    return quota(*microseconds, *period);
}

std::optional<double> cgroupCPUQuota(const std::string& root) {
    const std::string base = root.empty() || root.back() != '/' ? root + "/" : root;
    auto groups = readFile(base + "proc/self/cgroup", read_limits::kernelTable);
    auto mountInfo = readFile(base + "proc/self/mountinfo", read_limits::kernelTable);
    if (!groups || !mountInfo) return std::nullopt;
    const std::vector<CgroupMount> mounts = cgroupMounts(*mountInfo);
    std::optional<double> tightest;
    for (std::string_view line : lines(*groups)) {
        // "<hierarchy id>:<controllers>:<group>"; v2 is "0::<group>".
        const size_t first = line.find(':'), second = line.find(':', first + 1);
        if (first == line.npos || second == line.npos) continue;
        const std::string_view controllers = line.substr(first + 1, second - first - 1);
        const std::string_view group = line.substr(second + 1);
        const bool v2 = line.substr(0, first) == "0" && controllers.empty();
        if (!v2 && !hasItem(controllers, "cpu")) continue;
        for (const CgroupMount& mount : mounts) {
            if (mount.v2 != v2) continue;
            for (const std::string& folder : groupFolders(base, mount, group)) {
                if (v2) {
                    if (auto cpuMax = readFile(folder + "/cpu.max", read_limits::kernelTable))
                        tightest = lower(tightest, cgroupV2Quota(*cpuMax));
                } else {
                    auto quotaText = readFile(folder + "/cpu.cfs_quota_us", read_limits::kernelTable);
                    auto periodText = readFile(folder + "/cpu.cfs_period_us", read_limits::kernelTable);
                    if (quotaText && periodText)
                        tightest = lower(tightest, cgroupV1Quota(*quotaText, *periodText));
                }
            }
        }
    }
    return tightest;
}

size_t usableProcessorCount() {
    static const size_t count = [] {
        size_t processors = affinityProcessorCount();
        if (auto quota = cgroupCPUQuota())
            processors = std::min(processors, std::max<size_t>(1, static_cast<size_t>(std::ceil(*quota))));
        return processors;
    }();
    return count;
}

size_t threadsWorthStarting(size_t work, size_t workPerThread) {
    const size_t worth = work / std::max<size_t>(workPerThread, 1);
    return worth <= 1 ? 1 : std::min(worth, usableProcessorCount());
}

} // namespace mivora::platform
