// The kernel sets and the choice among them: the one place that asks which routines this
// build has and which of them the processor runs.
#include "jpeg/routineTable.h"

#include "jpeg/mcuFetch.h"
#include "util/processorFeatures.h"

#include <cstdlib>

namespace {

// The quantiser and the block coder of a set without a fused form, one after the other.
template <QuantizeBlockFn kQuantize, EncodeBlockFn kEncode>
int quantizeThenEncode(OutputStream* stream, const HuffmanCodeTable* dcTable,
                       const HuffmanCodeTable* acTable, std::int16_t* dcPredictor,
                       std::int16_t* block, const std::uint16_t* reciprocals) {
    kQuantize(block, reciprocals);
    return kEncode(stream, dcTable, acTable, dcPredictor, block);
}

constexpr RoutineTable kPlainRoutines = {
    fetchMcuRgbxPlain,    forwardDctPlain,
    quantizeBlockPlain,   encodeBlockPlain,
    startOutputPlain,     writeBytesPlain,
    pendingBitsPlain,     fetchMcuRgbxPlain,
    fetchMcuLayoutsPlain, quantizeThenEncode<quantizeBlockPlain, encodeBlockPlain>};

constexpr RoutineTable kVectorPortableRoutines = {
    fetchMcuRgbxPlain,         forwardDctSse2Portable,
    quantizeBlockSse2Portable, encodeBlockVector,
    startOutputVector,         writeBytesVector,
    pendingBitsVector,         fetchMcuRgbxPlain,
    fetchMcuLayoutsPlain,      quantizeThenEncode<quantizeBlockSse2Portable, encodeBlockVector>};

#if defined(__SSE2__)
constexpr RoutineTable kSse2Routines = {
    fetchMcuRgbxSse2,    forwardDctSse2,
    quantizeBlockSse2,   encodeBlockVector,
    startOutputVector,   writeBytesVector,
    pendingBitsVector,   fetchMcuRgbxSse2,
    fetchMcuLayoutsSse2, quantizeThenEncode<quantizeBlockSse2, encodeBlockVector>};
#endif

#if defined(__SSE2__) && defined(QMJPEG_AVX2_ROUTINES)
constexpr RoutineTable kAvx2Routines = {
    fetchMcuRgbxAvx2,    forwardDctAvx2,         quantizeBlockAvx2, encodeBlockAvx2,
    startOutputVector,   writeBytesVector,       pendingBitsVector, fetchMcuRgbxAvx2,
    fetchMcuLayoutsSse2, quantizeEncodeBlockAvx2};
#endif

#if defined(__SSE2__) && defined(QMJPEG_AVX512_ROUTINES)
constexpr RoutineTable kAvx512Routines = {
    fetchMcuRgbxAvx2,    forwardDctAvx512,         quantizeBlockAvx2, encodeBlockAvx512,
    startOutputVector,   writeBytesVector,         pendingBitsVector, fetchMcuRgbxAvx2,
    fetchMcuLayoutsSse2, quantizeEncodeBlockAvx512};
#endif

// The vector sets from the widest to the narrowest.
constexpr KernelSet kVectorSetsWidestFirst[] = {KernelSet::Avx512, KernelSet::Avx2, KernelSet::Sse2,
                                                KernelSet::VectorPortable};

} // namespace

bool kernelSetAvailable(KernelSet set) {
    switch (set) {
    case KernelSet::Plain:
    case KernelSet::VectorPortable:
        return true;
    case KernelSet::Sse2:
#if defined(__SSE2__)
        return true;
#else
        return false;
#endif
    case KernelSet::Avx2:
#if defined(__SSE2__) && defined(QMJPEG_AVX2_ROUTINES)
        return processorHasAvx2();
#else
        return false;
#endif
    case KernelSet::Avx512:
#if defined(__SSE2__) && defined(QMJPEG_AVX512_ROUTINES)
        return processorHasAvx512();
#else
        return false;
#endif
    }
    return false;
}

std::optional<KernelSet> parseKernelSetLimit(const char* text) {
    const std::optional<VectorLimit> limit = parseVectorLimit(text);
    if (!limit) {
        return std::nullopt;
    }
    switch (*limit) {
    case VectorLimit::Portable:
        return KernelSet::VectorPortable;
    case VectorLimit::Sse2:
        return KernelSet::Sse2;
    case VectorLimit::Avx2:
        return KernelSet::Avx2;
    case VectorLimit::Avx512:
        return KernelSet::Avx512;
    }
    return std::nullopt;
}

KernelSet kernelSetForClass(int processorClass, std::optional<KernelSet> limit) {
    if (processorClass < 3 || processorClass > 6) {
        return KernelSet::Plain;
    }
    for (const KernelSet set : kVectorSetsWidestFirst) {
        if ((!limit || set <= *limit) && kernelSetAvailable(set)) {
            return set;
        }
    }
    return KernelSet::VectorPortable;
}

KernelSet kernelSetForClass(int processorClass) {
    return kernelSetForClass(processorClass, parseKernelSetLimit(std::getenv(kKernelSetVariable)));
}

std::optional<RoutineTable> routinesForSet(KernelSet set) {
    if (!kernelSetAvailable(set)) {
        return std::nullopt;
    }
    switch (set) {
    case KernelSet::Plain:
        return kPlainRoutines;
    case KernelSet::VectorPortable:
        return kVectorPortableRoutines;
#if defined(__SSE2__)
    case KernelSet::Sse2:
        return kSse2Routines;
#endif
#if defined(__SSE2__) && defined(QMJPEG_AVX2_ROUTINES)
    case KernelSet::Avx2:
        return kAvx2Routines;
#endif
#if defined(__SSE2__) && defined(QMJPEG_AVX512_ROUTINES)
    case KernelSet::Avx512:
        return kAvx512Routines;
#endif
    default:
        return std::nullopt;
    }
}

RoutineTable routinesForClass(int processorClass) {
    return *routinesForSet(kernelSetForClass(processorClass));
}
