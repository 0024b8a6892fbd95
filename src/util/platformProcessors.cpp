// The processor count of platformProcessors.h: the affinity mask on Linux and Windows, the
// control-group quota on Linux, the standard library's count elsewhere.
#ifdef _WIN32
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#endif

#include "util/platformProcessors.h"

#include <algorithm>
#include <climits>
#include <cstdint>
#include <exception>
#include <new>
#include <thread>
#include <vector>

#ifdef _WIN32
#include <bit>
#include <windows.h>
#elif defined(__linux__)
#include <cerrno>
#include <fstream>
#include <iterator>
#include <memory>
#include <sched.h>
#endif

namespace platform {

namespace {

constexpr std::string_view kBlanks = " \t\r\n";

std::string_view trimmed(std::string_view text) {
    const std::size_t first = text.find_first_not_of(kBlanks);
    if (first == std::string_view::npos) {
        return {};
    }
    return text.substr(first, text.find_last_not_of(kBlanks) - first + 1);
}

// A whole number of decimal digits only, up to 10^18; nothing otherwise.
std::optional<std::uint64_t> wholeNumber(std::string_view text) {
    if (text.empty() || text.size() > 18) {
        return std::nullopt;
    }
    std::uint64_t value = 0;
    for (const char c : text) {
        if (c < '0' || c > '9') {
            return std::nullopt;
        }
        value = value * 10 + static_cast<std::uint64_t>(c - '0');
    }
    return value;
}

// The processors a quota of `quota` microseconds in every `period` allows, rounded up.
std::optional<int> processorsFromQuota(std::optional<std::uint64_t> quota,
                                       std::optional<std::uint64_t> period) {
    if (!quota || !period || *quota == 0 || *period == 0) {
        return std::nullopt;
    }
    const std::uint64_t processors = *quota / *period + (*quota % *period != 0 ? 1 : 0);
    return static_cast<int>(std::min<std::uint64_t>(processors, INT_MAX));
}

} // namespace

std::optional<int> processorsFromCpuMax(std::string_view text) {
    text = trimmed(text);
    const std::size_t blank = text.find_first_of(kBlanks);
    if (blank == std::string_view::npos) {
        return std::nullopt;
    }
    const std::string_view quota = text.substr(0, blank);
    const std::string_view period = trimmed(text.substr(blank));
    if (quota == "max" || period.find_first_of(kBlanks) != std::string_view::npos) {
        return std::nullopt;
    }
    return processorsFromQuota(wholeNumber(quota), wholeNumber(period));
}

std::optional<int> processorsFromCfsQuota(std::string_view quota, std::string_view period) {
    return processorsFromQuota(wholeNumber(trimmed(quota)), wholeNumber(trimmed(period)));
}

ControlGroups controlGroupsFromText(std::string_view text) {
    ControlGroups groups;
    while (!text.empty()) {
        const std::size_t end = std::min(text.find('\n'), text.size());
        const std::string_view line = text.substr(0, end);
        text.remove_prefix(std::min(end + 1, text.size()));
        // hierarchy-ID:controller-list:path; the path itself may hold colons.
        const std::size_t first = line.find(':');
        const std::size_t second =
            first == std::string_view::npos ? first : line.find(':', first + 1);
        if (second == std::string_view::npos || second + 1 >= line.size() ||
            line[second + 1] != '/') {
            continue;
        }
        const std::string_view id = line.substr(0, first);
        const std::string_view controllers = line.substr(first + 1, second - first - 1);
        std::string path(line.substr(second + 1));
        if (path.find("/..") != std::string::npos) {
            path = "/";
        }
        if (id == "0" && controllers.empty()) {
            groups.unified = path;
            continue;
        }
        for (std::string_view rest = controllers; !rest.empty();) {
            const std::size_t comma = std::min(rest.find(','), rest.size());
            if (rest.substr(0, comma) == "cpu") {
                groups.cpu = path;
                groups.cpuControllers = std::string(controllers);
                break;
            }
            rest.remove_prefix(std::min(comma + 1, rest.size()));
        }
    }
    return groups;
}

namespace {

#if defined(_WIN32)

// GetProcAddress gives a generic function pointer; the detour through void* keeps GCC's
// function-cast warning quiet for this intended conversion.
template <typename Function> Function lookUp(HMODULE library, const char* name) {
    return reinterpret_cast<Function>(reinterpret_cast<void*>(GetProcAddress(library, name)));
}

// The processors of the process's affinity. A process in one processor group runs on its
// affinity mask there; one that spans several groups (the default from Windows 11 on) on every
// active processor of those groups. The group functions are looked up, so that the program
// also runs where they are missing (the mask alone counts there). 0 when nothing is known.
int affinityProcessors() {
    using GroupAffinity = BOOL(WINAPI*)(HANDLE, PUSHORT, PUSHORT);
    using ActiveCount = DWORD(WINAPI*)(WORD);
    const HMODULE kernel = GetModuleHandleA("kernel32.dll");
    const auto groupAffinity =
        kernel != nullptr ? lookUp<GroupAffinity>(kernel, "GetProcessGroupAffinity") : nullptr;
    const auto activeCount =
        kernel != nullptr ? lookUp<ActiveCount>(kernel, "GetActiveProcessorCount") : nullptr;
    std::vector<USHORT> groups;
    if (groupAffinity != nullptr && activeCount != nullptr) {
        USHORT count = 0;
        groupAffinity(GetCurrentProcess(), &count, nullptr); // fails, giving the group count
        try {
            groups.resize(count);
        } catch (const std::bad_alloc&) {
            groups.clear();
        }
        if (groups.empty() || !groupAffinity(GetCurrentProcess(), &count, groups.data())) {
            groups.clear();
        }
        groups.resize(std::min<std::size_t>(groups.size(), count));
    }
    if (groups.size() > 1) {
        int processors = 0;
        for (const USHORT group : groups) {
            processors += static_cast<int>(activeCount(group));
        }
        return processors;
    }
    DWORD_PTR processMask = 0;
    DWORD_PTR systemMask = 0;
    if (GetProcessAffinityMask(GetCurrentProcess(), &processMask, &systemMask) &&
        processMask != 0) {
        return std::popcount(processMask);
    }
    return groups.size() == 1 ? static_cast<int>(activeCount(groups.front())) : 0;
}

int quotaProcessors() {
    return INT_MAX;
}

#elif defined(__linux__)

// The processors of the affinity mask, in a set large enough for the system's processor
// numbers (the set grows until the system takes it). 0 when nothing is known.
int affinityProcessors() {
    struct FreeSet {
        void operator()(cpu_set_t* set) const { CPU_FREE(set); }
    };
    for (int processors = 1024; processors <= (1 << 22); processors *= 2) {
        const std::unique_ptr<cpu_set_t, FreeSet> set(CPU_ALLOC(processors));
        if (set == nullptr) {
            return 0;
        }
        const std::size_t size = CPU_ALLOC_SIZE(processors);
        CPU_ZERO_S(size, set.get());
        if (sched_getaffinity(0, size, set.get()) == 0) {
            return CPU_COUNT_S(size, set.get());
        }
        if (errno != EINVAL) {
            return 0;
        }
    }
    return 0;
}

// The text of a small system file, or nothing when it cannot be read.
std::optional<std::string> fileText(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    if (!file) {
        return std::nullopt;
    }
    std::string text;
    constexpr std::size_t kMostBytes = 1 << 16;
    text.resize(kMostBytes);
    file.read(text.data(), static_cast<std::streamsize>(kMostBytes));
    text.resize(static_cast<std::size_t>(file.gcount()));
    return text;
}

// The smallest limit `limitIn` finds in the group at `path` under `root` and in every group
// above it: a group's processes are held to the quotas of all its ancestors too. The root
// folder itself is read last (a container sees its own group there).
template <typename LimitIn>
int smallestLimitUp(const std::string& root, std::string path, LimitIn limitIn) {
    int smallest = INT_MAX;
    for (;;) {
        while (path.size() > 1 && path.back() == '/') {
            path.pop_back();
        }
        const std::string folder = root + (path == "/" ? std::string() : path);
        if (const std::optional<int> limit = limitIn(folder)) {
            smallest = std::min(smallest, *limit);
        }
        if (path.size() <= 1) {
            return smallest;
        }
        path.erase(std::max<std::size_t>(path.rfind('/'), 1));
    }
}

// The least processors the CPU quotas of the process's control groups allow (v2 cpu.max, then
// the v1 cpu controller's CFS quota); INT_MAX without a quota.
int quotaProcessors() {
    const std::optional<std::string> self = fileText("/proc/self/cgroup");
    if (!self) {
        return INT_MAX;
    }
    const ControlGroups groups = controlGroupsFromText(*self);
    const std::string base = "/sys/fs/cgroup";
    int smallest = INT_MAX;
    if (groups.unified) {
        smallest = smallestLimitUp(base, *groups.unified, [](const std::string& folder) {
            const std::optional<std::string> text = fileText(folder + "/cpu.max");
            return text ? processorsFromCpuMax(*text) : std::nullopt;
        });
    }
    if (groups.cpu) {
        const auto cfsLimit = [](const std::string& folder) {
            const std::optional<std::string> quota = fileText(folder + "/cpu.cfs_quota_us");
            const std::optional<std::string> period = fileText(folder + "/cpu.cfs_period_us");
            return quota && period ? processorsFromCfsQuota(*quota, *period) : std::nullopt;
        };
        // The hierarchy is mounted at its controller list ("cpu,cpuacct"), mostly with a
        // link named "cpu" beside it; a list of "cpu" alone is read once.
        smallest = std::min(
            smallest, smallestLimitUp(base + "/" + groups.cpuControllers, *groups.cpu, cfsLimit));
        if (groups.cpuControllers != "cpu") {
            smallest = std::min(smallest, smallestLimitUp(base + "/cpu", *groups.cpu, cfsLimit));
        }
    }
    return smallest;
}

#else

int affinityProcessors() {
    return 0;
}

int quotaProcessors() {
    return INT_MAX;
}

#endif

} // namespace

int usableProcessors() {
    int processors = 0;
    try {
        processors = affinityProcessors();
        if (processors <= 0) {
            processors =
                static_cast<int>(std::min<unsigned>(std::thread::hardware_concurrency(), INT_MAX));
        }
        processors = std::min(processors, quotaProcessors());
    } catch (const std::exception&) {
        // No memory for a file's text: the count found so far stands.
    }
    return std::max(processors, 1);
}

} // namespace platform
