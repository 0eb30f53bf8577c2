// How many threads the process may keep busy at once: not the machine's
// processor count, but what the process is allowed to run on (its CPU affinity
// mask, as `taskset` sets it) and what its control groups let it spend (a CPU
// quota, as container runtimes and systemd set it). Threads beyond that only
// wait for their turn, and each one still costs its start and its memory.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace mivora::platform {

// The processors of the affinity mask, lowered to the cgroup CPU quota rounded
// up; at least 1. Computed once, on first use.
size_t usableProcessorCount();

// How many threads `work` units are worth when one thread pays for itself only
// over `workPerThread` of them: between 1 and usableProcessorCount().
size_t threadsWorthStarting(size_t work, size_t workPerThread);

// The tightest CPU quota, in processors (1.5 for "150000 100000"), of the
// control group the process runs in and of its ancestors, from cgroup v2
// `cpu.max` and cgroup v1 `cpu.cfs_quota_us` / `cpu.cfs_period_us`. The files
// are looked up below `root` ("/" for the running system): the process's groups
// in proc/self/cgroup, the cgroup file systems in proc/self/mountinfo. Nothing
// when no group sets a quota or none can be read.
std::optional<double> cgroupCPUQuota(const std::string& root = "/");

// One quota file's value in processors: "max 100000" and "-1" are no quota.
std::optional<double> cgroupV2Quota(std::string_view cpuMax);
std::optional<double> cgroupV1Quota(std::string_view quota, std::string_view period);

} // namespace mivora::platform
