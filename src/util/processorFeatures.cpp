// The instruction sets beyond the build's baseline that this processor and system run, read
// once with CPUID and XGETBV. Three CPUID leaves only: under a hypervisor each CPUID may trap,
// and the compiler's own detection (which reads many more) is a measurable share of the
// start-up of a small picture.
#include "util/processorFeatures.h"

#if defined(QMJPEG_AVX2_ROUTINES)
#include <cpuid.h>
#endif

#include <cstdint>

namespace {

struct Features {
    bool avx2 = false;
    bool avx512 = false;
    bool avx512Vbmi = false;
};

#if defined(QMJPEG_AVX2_ROUTINES)
// The register state the system saves (XCR0); only valid where CPUID shows OSXSAVE.
std::uint64_t enabledStates() {
    std::uint32_t low = 0;
    std::uint32_t high = 0;
    __asm__ volatile("xgetbv" : "=a"(low), "=d"(high) : "c"(0));
    return (std::uint64_t{high} << 32) | low;
}

// A set counts only where the system saves its registers too: AVX2 needs the XMM and YMM
// state enabled, AVX-512 the opmask and ZMM states as well.
Features detect() {
    Features features;
    unsigned eax = 0;
    unsigned ebx = 0;
    unsigned ecx = 0;
    unsigned edx = 0;
    __cpuid(0, eax, ebx, ecx, edx);
    const unsigned maxLeaf = eax;
    if (maxLeaf < 7) {
        return features;
    }
    __cpuid(1, eax, ebx, ecx, edx);
    constexpr unsigned kOsXsave = 1u << 27;
    constexpr unsigned kAvx = 1u << 28;
    if ((ecx & kOsXsave) == 0 || (ecx & kAvx) == 0) {
        return features;
    }
    const std::uint64_t states = enabledStates();
    constexpr std::uint64_t kYmmStates = 0x6;  // XMM, YMM
    constexpr std::uint64_t kZmmStates = 0xE6; // XMM, YMM, opmask, ZMM 0-15 upper, ZMM 16-31
    if ((states & kYmmStates) != kYmmStates) {
        return features;
    }
    __cpuid_count(7, 0, eax, ebx, ecx, edx);
    features.avx2 = (ebx & (1u << 5)) != 0;
#if defined(QMJPEG_AVX512_ROUTINES)
    const bool avx512fBw = (ebx & (1u << 16)) != 0 && (ebx & (1u << 30)) != 0;
    features.avx512 = features.avx2 && avx512fBw && (states & kZmmStates) == kZmmStates;
    features.avx512Vbmi = features.avx512 && (ecx & (1u << 1)) != 0;
#endif
    return features;
}
#else
Features detect() {
    return {};
}
#endif

const Features& features() {
    static const Features detected = detect();
    return detected;
}

} // namespace

bool processorHasAvx2() {
    return features().avx2;
}

bool processorHasAvx512() {
    return features().avx512;
}

bool processorHasAvx512Vbmi() {
    return features().avx512Vbmi;
}
