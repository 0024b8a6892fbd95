// The choice of the bitmap conversion's pixel kernels.
#include "image/pixelKernels.h"

#include "util/processorFeatures.h"
#include "util/vectorLimit.h"

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
    case PixelKernelSet::Avx512:
        // The bitmap conversion has no AVX-512 forms: the AVX2 ones.
        if (processorHasAvx512Vbmi()) {
            return dibKernelsFor(PixelKernelSet::Avx2);
        }
        return std::nullopt;
    }
    return std::nullopt;
}

PixelKernelSet widestPixelKernelSet() {
    const VectorLimit limit = vectorLimitFromEnvironment().value_or(VectorLimit::Avx512);
    if (limit >= VectorLimit::Avx512 && processorHasAvx512Vbmi()) {
        return PixelKernelSet::Avx512;
    }
    if (limit >= VectorLimit::Avx2 && processorHasAvx2()) {
        return PixelKernelSet::Avx2;
    }
    return limit == VectorLimit::Portable ? PixelKernelSet::Plain : kWidestPixelKernelSet;
}

const DibKernels& dibKernels() {
    static const DibKernels kernels = *dibKernelsFor(widestPixelKernelSet());
    return kernels;
}
