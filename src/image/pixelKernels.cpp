// The choice of the bitmap conversion's pixel kernels.
#include "image/pixelKernels.h"

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
    }
    return std::nullopt;
}

const DibKernels& dibKernels() {
    static const DibKernels kernels = *dibKernelsFor(kWidestPixelKernelSet);
    return kernels;
}
