// The choice of the bitmap conversion's pixel kernels.
#include "image/pixelKernels.h"

#include "util/processorFeatures.h"

namespace {

std::int64_t packNone(const std::uint8_t*, std::uint8_t*, std::int64_t) {
    return 0;
}

} // namespace

std::optional<DibKernels> dibKernelsFor(PixelKernelSet set) {
    switch (set) {
    case PixelKernelSet::Plain:
        return DibKernels{packNone, packNone, packNone};
    case PixelKernelSet::Sse2:
#if defined(__SSE2__)
        return DibKernels{packBgr24Sse2, packBgr24SwappedSse2, packBgra32SwappedSse2};
#else
        return std::nullopt;
#endif
    case PixelKernelSet::Avx2:
#if defined(QMJPEG_AVX2_ROUTINES)
        if (processorHasAvx2()) {
            return DibKernels{packBgr24Avx2, packBgr24SwappedAvx2, packBgra32SwappedAvx2};
        }
#endif
        return std::nullopt;
    }
    return std::nullopt;
}

PixelKernelSet widestPixelKernelSet() {
    return processorHasAvx2() ? PixelKernelSet::Avx2 : kWidestPixelKernelSet;
}

const DibKernels& dibKernels() {
    static const DibKernels kernels = *dibKernelsFor(widestPixelKernelSet());
    return kernels;
}
