// Processor identification and the class decision.
#include "jpeg/processorInfo.h"

#include <cstdlib>

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
    if (text == nullptr || *text == '\0') {
        return std::nullopt;
    }
    int value = 0;
    for (const char* p = text; *p != '\0'; ++p) {
        if (*p < '0' || *p > '9') {
            return std::nullopt;
        }
        value = value * 10 + (*p - '0');
        if (value > 6) {
            return std::nullopt;
        }
    }
    return value;
}

int decideProcessorClass(const CpuidLeaves& leaves, const char* overrideText) {
    if (const std::optional<int> forced = parseProcessorClassOverride(overrideText)) {
        return *forced;
    }
    return processorClassFromInfo(processorInfoFromCpuid(leaves));
}

const ProcessorInfo& processorInfo() {
    return gProcessorInfo;
}

int detectProcessorClass() {
    const CpuidLeaves leaves = readCpuidLeaves();
    gProcessorInfo = processorInfoFromCpuid(leaves);
    return decideProcessorClass(leaves, std::getenv(kProcessorClassVariable));
}
