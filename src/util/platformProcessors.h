// How many processors this process may use at once, as the system limits it: the affinity mask
// (every processor group on Windows) and, on Linux, the CPU quota of the process's control
// group. Part of the platform layer (see platformFile.h); nothing here throws.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace platform {

// The processors the process may run on at once: those of its affinity, fewer when a Linux
// control group's CPU quota allows fewer (a quota of 1.5 processors counts as 2). The standard
// library's count where the system tells nothing more; never below 1.
int usableProcessors();

// ---- The text of Linux control-group files, read without the system (tests feed them) ----

// A cgroup v2 cpu.max value, "max 100000" or "200000 100000" (quota and period in
// microseconds): the processors the quota allows, rounded up. Nothing for "max" (no limit) and
// for any text that is not such a value.
std::optional<int> processorsFromCpuMax(std::string_view text);

// The cgroup v1 values of cpu.cfs_quota_us and cpu.cfs_period_us: as above; a quota of -1 is
// no limit.
std::optional<int> processorsFromCfsQuota(std::string_view quota, std::string_view period);

// The process's control groups from the text of /proc/self/cgroup: the v2 group (the line
// "0::/path") and the v1 group of the hierarchy with the cpu controller (a line
// "N:cpu,cpuacct:/path") with that hierarchy's controller list. Paths are absolute; a path
// that climbs ("..") is read as the root.
struct ControlGroups {
    std::optional<std::string> unified;
    std::optional<std::string> cpu;
    std::string cpuControllers; // "cpu,cpuacct": the hierarchy's folder under /sys/fs/cgroup
};
ControlGroups controlGroupsFromText(std::string_view text);

} // namespace platform
