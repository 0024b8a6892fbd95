// The kernel sets and the choice among them: the one place that asks which routines this
// build has and which of them the processor runs.
#include "jpeg/routineTable.h"

#include "jpeg/mcuFetch.h"
#include "util/processorFeatures.h"

namespace {

constexpr RoutineTable kPlainRoutines = {.fetchMcu = fetchMcuRgbxPlain,
                                         .forwardDct = forwardDctPlain,
                                         .quantizeBlock = quantizeBlockPlain,
                                         .encodeBlock = encodeBlockPlain,
                                         .startOutput = startOutputPlain,
                                         .writeBytes = writeBytesPlain,
                                         .pendingBits = pendingBitsPlain,
                                         .fetchMcuRgbx = fetchMcuRgbxPlain,
                                         .fetchMcuLayouts = fetchMcuLayoutsPlain};

constexpr RoutineTable kVectorPortableRoutines = {.fetchMcu = fetchMcuRgbxPlain,
                                                  .forwardDct = forwardDctSse2Portable,
                                                  .quantizeBlock = quantizeBlockSse2Portable,
                                                  .encodeBlock = encodeBlockVector,
                                                  .startOutput = startOutputVector,
                                                  .writeBytes = writeBytesVector,
                                                  .pendingBits = pendingBitsVector,
                                                  .fetchMcuRgbx = fetchMcuRgbxPlain,
                                                  .fetchMcuLayouts = fetchMcuLayoutsPlain};

#if defined(__SSE2__)
constexpr RoutineTable kSse2Routines = {.fetchMcu = fetchMcuRgbxSse2,
                                        .forwardDct = forwardDctSse2,
                                        .quantizeBlock = quantizeBlockSse2,
                                        .encodeBlock = encodeBlockVector,
                                        .startOutput = startOutputVector,
                                        .writeBytes = writeBytesVector,
                                        .pendingBits = pendingBitsVector,
                                        .fetchMcuRgbx = fetchMcuRgbxSse2,
                                        .fetchMcuLayouts = fetchMcuLayoutsSse2};
#endif

#if defined(__SSE2__) && defined(QMJPEG_AVX2_ROUTINES)
constexpr RoutineTable kAvx2Routines = {.fetchMcu = fetchMcuRgbxAvx2,
                                        .forwardDct = forwardDctAvx2,
                                        .quantizeBlock = quantizeBlockAvx2,
                                        .encodeBlock = encodeBlockAvx2,
                                        .startOutput = startOutputVector,
                                        .writeBytes = writeBytesVector,
                                        .pendingBits = pendingBitsVector,
                                        .fetchMcuRgbx = fetchMcuRgbxAvx2,
                                        .fetchMcuLayouts = fetchMcuLayoutsSse2,
                                        .quantizeEncodeBlock = quantizeEncodeBlockAvx2};
#endif

#if defined(__SSE2__) && defined(QMJPEG_AVX512_ROUTINES)
constexpr RoutineTable kAvx512Routines = {.fetchMcu = fetchMcuRgbxAvx2,
                                          .forwardDct = forwardDctAvx512,
                                          .quantizeBlock = quantizeBlockAvx2,
                                          .encodeBlock = encodeBlockAvx512,
                                          .startOutput = startOutputVector,
                                          .writeBytes = writeBytesVector,
                                          .pendingBits = pendingBitsVector,
                                          .fetchMcuRgbx = fetchMcuRgbxAvx2,
                                          .fetchMcuLayouts = fetchMcuLayoutsSse2,
                                          .quantizeEncodeBlock = quantizeEncodeBlockAvx512};
#endif

// The vector sets from the widest to the narrowest.
constexpr KernelSet kVectorSetsWidestFirst[] = {KernelSet::Avx512, KernelSet::Avx2, KernelSet::Sse2,
                                                KernelSet::VectorPortable};

// The widest vector set a limit leaves.
std::optional<KernelSet> kernelSetLimitOf(std::optional<VectorLimit> limit) {
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

void replaceTransforms(RoutineTable& table, ForwardDctFn dct, QuantizeBlockFn quantize) {
    table.forwardDct = dct;
    table.quantizeBlock = quantize;
    table.quantizeEncodeBlock = nullptr;
}

std::optional<KernelSet> parseKernelSetLimit(const char* text) {
    return kernelSetLimitOf(parseVectorLimit(text));
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
    return kernelSetForClass(processorClass, kernelSetLimitOf(vectorLimitFromEnvironment()));
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
