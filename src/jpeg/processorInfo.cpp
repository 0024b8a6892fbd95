// Processor identification and the class decision.
#include "jpeg/processorInfo.h"

#include "util/decimalText.h"

#include <cstdlib>

#if defined(_WIN32)
#include <windows.h>
#endif

#if defined(__i386__) || defined(__x86_64__)
#include <cpuid.h>
#endif

namespace {

ProcessorInfo gProcessorInfo;

void putRegister(char* destination, std::uint32_t value) {
    for (int i = 0; i < 4; ++i) {
        destination[i] = static_cast<char>((value >> (8 * i)) & 0xFF);
    }
}

} // namespace

CpuidLeaves readCpuidLeaves() {
    CpuidLeaves leaves;
#if defined(__i386__) || defined(__x86_64__)
    unsigned eax = 0;
    unsigned ebx = 0;
    unsigned ecx = 0;
    unsigned edx = 0;
    if (__get_cpuid(0, &eax, &ebx, &ecx, &edx) == 0) {
        return leaves;
    }
    leaves.available = true;
    leaves.maxLeaf = eax;
    leaves.leaf0Ebx = ebx;
    leaves.leaf0Ecx = ecx;
    leaves.leaf0Edx = edx;
    if (eax >= 1 && __get_cpuid(1, &eax, &ebx, &ecx, &edx) != 0) {
        leaves.leaf1Eax = eax;
        leaves.leaf1Ebx = ebx;
        leaves.leaf1Edx = edx;
    }
#endif
    return leaves;
}

ProcessorInfo processorInfoFromCpuid(const CpuidLeaves& leaves) {
    ProcessorInfo info;
    if (!leaves.available) {
        return info;
    }
    putRegister(info.vendor, leaves.leaf0Ebx);
    putRegister(info.vendor + 4, leaves.leaf0Edx);
    putRegister(info.vendor + 8, leaves.leaf0Ecx);
    if (leaves.maxLeaf == 0) {
        return info;
    }
    info.brandIndex = static_cast<std::int32_t>(leaves.leaf1Ebx & 0xFF);
    info.processorType = static_cast<std::int32_t>((leaves.leaf1Eax >> 12) & 0x3);
    info.family = static_cast<std::int32_t>((leaves.leaf1Eax >> 8) & 0xF);
    info.model = static_cast<std::int32_t>((leaves.leaf1Eax >> 4) & 0xF);
    info.stepping = static_cast<std::int32_t>(leaves.leaf1Eax & 0xF);
    info.featureFlags = leaves.leaf1Edx;
    return info;
}

int processorClassFromInfo(const ProcessorInfo& info) {
    const bool mmx = (info.featureFlags & kFeatureMmx) != 0;
    const bool sse = (info.featureFlags & kFeatureSse) != 0;
    const bool sse2 = (info.featureFlags & kFeatureSse2) != 0;
    switch (info.family) {
    case 5:
        return mmx ? 3 : 1;
    case 6:
        if (!mmx) {
            return 2;
        }
        return sse ? 5 : 4;
    case 15:
        return sse2 ? 6 : 0;
    default:
        return 0;
    }
}

std::optional<int> parseProcessorClassOverride(const char* text) {
    return parseDecimalInRange(text, 0, 6);
}

std::optional<int> processorClassFromRegistryValue(std::uint32_t value) {
    const auto number = static_cast<std::int32_t>(value);
    if (number < 0 || number > 6) {
        return std::nullopt;
    }
    return number;
}

int decideProcessorClass(const CpuidLeaves& leaves, std::optional<int> forced) {
    if (forced) {
        return *forced;
    }
    return processorClassFromInfo(processorInfoFromCpuid(leaves));
}

#if defined(_WIN32)

namespace {

// GetProcAddress gives a generic function pointer; the detour through void* keeps GCC's
// function-cast warning quiet for this intended conversion.
template <typename Function> Function lookUp(HMODULE library, const char* name) {
    return reinterpret_cast<Function>(reinterpret_cast<void*>(GetProcAddress(library, name)));
}

} // namespace

// The registry library is loaded at run time and its three functions resolved; a missing
// library or function skips the override. Both builds read the 32-bit view of the key, where a
// 32-bit installer and the 32-bit build see it, so one setting serves both executables.
std::optional<int> platformProcessorClassOverride() {
    using OpenKey = LONG(WINAPI*)(HKEY, LPCSTR, DWORD, REGSAM, PHKEY);
    using QueryValue = LONG(WINAPI*)(HKEY, LPCSTR, LPDWORD, LPDWORD, LPBYTE, LPDWORD);
    using CloseKey = LONG(WINAPI*)(HKEY);
    struct Library {
        HMODULE handle = LoadLibraryA("advapi32");
        ~Library() {
            if (handle != nullptr) {
                FreeLibrary(handle);
            }
        }
    } library;
    if (library.handle == nullptr) {
        return std::nullopt;
    }
    const auto openKey = lookUp<OpenKey>(library.handle, "RegOpenKeyExA");
    const auto queryValue = lookUp<QueryValue>(library.handle, "RegQueryValueExA");
    const auto closeKey = lookUp<CloseKey>(library.handle, "RegCloseKey");
    if (openKey == nullptr || queryValue == nullptr || closeKey == nullptr) {
        return std::nullopt;
    }
    HKEY key = nullptr;
    if (openKey(HKEY_LOCAL_MACHINE, kProcessorClassRegistryKey, 0,
                KEY_QUERY_VALUE | KEY_WOW64_32KEY, &key) != ERROR_SUCCESS) {
        return std::nullopt;
    }
    DWORD value = 0;
    DWORD size = sizeof value;
    const LONG status = queryValue(key, kProcessorClassRegistryValue, nullptr, nullptr,
                                   reinterpret_cast<LPBYTE>(&value), &size);
    closeKey(key);
    if (status != ERROR_SUCCESS || size != sizeof value) {
        return std::nullopt;
    }
    return processorClassFromRegistryValue(value);
}

#else

std::optional<int> platformProcessorClassOverride() {
    return parseProcessorClassOverride(std::getenv(kProcessorClassVariable));
}

#endif

const ProcessorInfo& processorInfo() {
    return gProcessorInfo;
}

int detectProcessorClass() {
    const CpuidLeaves leaves = readCpuidLeaves();
    gProcessorInfo = processorInfoFromCpuid(leaves);
    return decideProcessorClass(leaves, platformProcessorClassOverride());
}
