// Processor identification, the class decision with its override, and the routine table.
#include "encoderTestSupport.h"
#include "jpeg/mcuFetch.h"
#include "jpeg/processorInfo.h"
#include "jpeg/routineTable.h"
#include "util/processorFeatures.h"

#include <gtest/gtest.h>

#include <cstring>
#include <optional>
#include <string>
#include <vector>

using namespace enc_test;

namespace {

CpuidLeaves leavesFor(std::uint32_t family, std::uint32_t features,
                      std::uint32_t extendedFamily = 0) {
    CpuidLeaves leaves;
    leaves.available = true;
    leaves.maxLeaf = 1;
    leaves.leaf1Eax = (extendedFamily << 20) | (family << 8) | (0x3u << 4) | 0x2u;
    leaves.leaf1Edx = features;
    return leaves;
}

constexpr std::uint32_t kMmx = kFeatureMmx;
constexpr std::uint32_t kSse = kFeatureSse;
constexpr std::uint32_t kSse2 = kFeatureSse2;

struct ClassCase {
    const char* name;
    CpuidLeaves leaves;
    int expectedClass;
};

TEST(ProcessorClass, FollowsTheFamilyAndFeatureTable) {
    CpuidLeaves noCpuid;
    CpuidLeaves onlyLeaf0 = leavesFor(6, kMmx | kSse | kSse2);
    onlyLeaf0.maxLeaf = 0;
    const std::vector<ClassCase> cases = {
        {"no CPUID", noCpuid, 0},
        {"leaf 1 not reported", onlyLeaf0, 0},
        {"family 4", leavesFor(4, kMmx | kSse | kSse2), 0},
        {"family 5 without MMX", leavesFor(5, 0), 1},
        {"family 5 with MMX", leavesFor(5, kMmx), 3},
        {"family 6 without MMX", leavesFor(6, kSse), 2},
        {"family 6 with MMX", leavesFor(6, kMmx), 4},
        {"family 6 with MMX and SSE", leavesFor(6, kMmx | kSse | kSse2), 5},
        {"family 15 without SSE2", leavesFor(15, kMmx | kSse), 0},
        {"family 15 with SSE2", leavesFor(15, kMmx | kSse | kSse2), 6},
        {"base family 15 of a newer processor", leavesFor(15, kMmx | kSse | kSse2, 10), 6},
        {"family 7", leavesFor(7, kMmx | kSse | kSse2), 0},
    };
    for (const ClassCase& c : cases) {
        EXPECT_EQ(decideProcessorClass(c.leaves, std::nullopt), c.expectedClass) << c.name;
    }
}

TEST(ProcessorInfo, DecodesTheCpuidRegisters) {
    CpuidLeaves leaves = leavesFor(6, kMmx | kFeatureTimeStamp);
    leaves.leaf0Ebx = 0x756E6547; // "Genu"
    leaves.leaf0Edx = 0x49656E69; // "ineI"
    leaves.leaf0Ecx = 0x6C65746E; // "ntel"
    leaves.leaf1Eax = 0x00002695; // type 2, family 6, model 9, stepping 5
    leaves.leaf1Ebx = 0x12345607;
    const ProcessorInfo info = processorInfoFromCpuid(leaves);
    EXPECT_STREQ(info.vendor, "GenuineIntel");
    EXPECT_EQ(info.processorType, 2);
    EXPECT_EQ(info.family, 6);
    EXPECT_EQ(info.model, 9);
    EXPECT_EQ(info.stepping, 5);
    EXPECT_EQ(info.brandIndex, 7);
    EXPECT_EQ(info.featureFlags, kMmx | kFeatureTimeStamp);

    const ProcessorInfo none = processorInfoFromCpuid(CpuidLeaves{});
    EXPECT_STREQ(none.vendor, "            ");
    EXPECT_EQ(none.family, 0);
    EXPECT_EQ(none.featureFlags, 0u);
}

struct OverrideCase {
    const char* text;
    std::optional<int> value;
};

TEST(ProcessorClassOverride, AcceptsOnlyAnIntegerFrom0To6) {
    const std::vector<OverrideCase> cases = {
        {"0", 0},
        {"3", 3},
        {"6", 6},
        {"06", 6},
        {"7", std::nullopt},
        {"-1", std::nullopt},
        {"+2", std::nullopt},
        {"2x", std::nullopt},
        {" 2", std::nullopt},
        {"2 ", std::nullopt},
        {"", std::nullopt},
        {"x", std::nullopt},
        {"99999999999", std::nullopt},
        {nullptr, std::nullopt},
    };
    for (const OverrideCase& c : cases) {
        EXPECT_EQ(parseProcessorClassOverride(c.text), c.value) << (c.text ? c.text : "(null)");
    }
}

TEST(ProcessorClassOverride, WinsOverTheProcessorWhenValid) {
    const CpuidLeaves modern = leavesFor(15, kMmx | kSse | kSse2);
    EXPECT_EQ(decideProcessorClass(modern, parseProcessorClassOverride("0")), 0);
    EXPECT_EQ(decideProcessorClass(modern, parseProcessorClassOverride("4")), 4);
    EXPECT_EQ(decideProcessorClass(CpuidLeaves{}, parseProcessorClassOverride("5")), 5);
    EXPECT_EQ(decideProcessorClass(modern, parseProcessorClassOverride("7")), 6);
    EXPECT_EQ(decideProcessorClass(modern, parseProcessorClassOverride("-1")), 6);
    EXPECT_EQ(decideProcessorClass(leavesFor(5, 0), parseProcessorClassOverride("1x")), 1);
}

TEST(ProcessorClassOverride, RegistryValuesOutsideZeroToSixAreIgnored) {
    struct RegistryCase {
        std::uint32_t value;
        std::optional<int> forced;
    };
    const RegistryCase cases[] = {
        {0, 0},
        {3, 3},
        {6, 6},
        {7, std::nullopt},
        {0xFFFFFFFFu, std::nullopt},
        {0x80000000u, std::nullopt},
        {0x100u, std::nullopt},
        {0x00000103u, std::nullopt},
    };
    const CpuidLeaves modern = leavesFor(15, kMmx | kSse | kSse2);
    for (const RegistryCase& c : cases) {
        EXPECT_EQ(processorClassFromRegistryValue(c.value), c.forced) << c.value;
        EXPECT_EQ(decideProcessorClass(modern, processorClassFromRegistryValue(c.value)),
                  c.forced.value_or(6))
            << c.value;
    }
}

TEST(ProcessorClassOverride, EnvironmentVariableReachesJpegInitialize) {
    const int natural = decideProcessorClass(readCpuidLeaves(), std::nullopt);
    for (const char* value : {"0", "2", "3", "6"}) {
        EXPECT_EQ(newRecord(value)->state.processorClass, value[0] - '0') << value;
    }
    for (const char* value : {"7", "-1", "3 "}) {
        EXPECT_EQ(newRecord(value)->state.processorClass, natural) << value;
    }
}

constexpr KernelSet kAllSets[] = {KernelSet::Plain, KernelSet::VectorPortable, KernelSet::Sse2,
                                  KernelSet::Avx2, KernelSet::Avx512};

TEST(RoutineTable, PlainClassesGetThePlainSetAndTheOthersTheWidestVectorSet) {
    const KernelSet widest = kernelSetAvailable(KernelSet::Avx512) ? KernelSet::Avx512
                             : kernelSetAvailable(KernelSet::Avx2) ? KernelSet::Avx2
                             : kernelSetAvailable(KernelSet::Sse2) ? KernelSet::Sse2
                                                                   : KernelSet::VectorPortable;
    const ScopedKernelSet noLimit(nullptr);
    for (int processorClass = 0; processorClass <= 6; ++processorClass) {
        SCOPED_TRACE(processorClass);
        const KernelSet set = processorClass >= 3 ? widest : KernelSet::Plain;
        EXPECT_EQ(kernelSetForClass(processorClass), set);
        // Every slot the same (the record holds routine pointers only).
        const RoutineTable table = routinesForClass(processorClass);
        const RoutineTable expected = *routinesForSet(set);
        EXPECT_EQ(std::memcmp(&table, &expected, sizeof table), 0);
    }
    EXPECT_EQ(routinesForClass(0).encodeBlock, &encodeBlockPlain);
    EXPECT_EQ(routinesForClass(6).writeBytes, &writeBytesVector);
}

TEST(RoutineTable, TheEntryRefusesOnlyTheSetsThisProcessorLacks) {
    EXPECT_TRUE(kernelSetAvailable(KernelSet::Plain));
    EXPECT_TRUE(kernelSetAvailable(KernelSet::VectorPortable));
#if defined(__SSE2__)
    EXPECT_TRUE(kernelSetAvailable(KernelSet::Sse2));
#endif
    EXPECT_EQ(kernelSetAvailable(KernelSet::Avx2), processorHasAvx2());
    EXPECT_EQ(kernelSetAvailable(KernelSet::Avx512), processorHasAvx512());
    // Every processor with AVX-512 F and BW has AVX2.
    if (processorHasAvx512()) {
        EXPECT_TRUE(processorHasAvx2());
    }
    // VBMI counts only on top of AVX-512 F and BW.
    if (processorHasAvx512Vbmi()) {
        EXPECT_TRUE(processorHasAvx512());
    }
    for (const KernelSet set : kAllSets) {
        const std::optional<RoutineTable> table = routinesForSet(set);
        ASSERT_EQ(table.has_value(), kernelSetAvailable(set)) << static_cast<int>(set);
        if (table) {
            EXPECT_NE(table->forwardDct, nullptr);
            EXPECT_NE(table->encodeBlock, nullptr);
            EXPECT_EQ(table->fetchMcu, table->fetchMcuRgbx);
        }
    }
}

// The stream of an image encoded with the class-6 record whose table is filled with `set`.
Bytes encodeWithSet(const RgbxImage& image, KernelSet set) {
    Record p = newRecord("6");
    p->state.routines = *routinesForSet(set);
    describe(*p, image);
    Bytes buffer(1024 + static_cast<std::size_t>(image.width) * image.height * 8);
    p->outputBuffer = buffer.data();
    p->outputBufferSize = static_cast<std::int32_t>(buffer.size());
    EXPECT_EQ(jpegWrite(p.get(), JPEG_WRITE_BUFFER_IMAGE), JPEG_SUCCESS);
    buffer.resize(static_cast<std::size_t>(p->outputBufferSize));
    return buffer;
}

// Every vector set writes the portable set's bytes, and the plain set those of class 0, for
// images with whole and partial MCUs.
TEST(RoutineTable, EveryKernelSetWritesTheBytesOfItsRoutineSet) {
    const RgbxImage images[] = {makeImage(64, 64, 0, randomPixels(5)),
                                makeImage(37, 23, 3, photoLike(37, 23, 9)),
                                makeImage(9, 17, 0, randomPixels(8))};
    for (const RgbxImage& image : images) {
        SCOPED_TRACE(image.width);
        const Bytes vector = encodeWithSet(image, KernelSet::VectorPortable);
        EXPECT_EQ(encodeWithSet(image, KernelSet::Plain), encodeToMemory(image, "0").bytes);
        for (const KernelSet set : {KernelSet::Sse2, KernelSet::Avx2, KernelSet::Avx512}) {
            if (kernelSetAvailable(set)) {
                EXPECT_EQ(encodeWithSet(image, set), vector) << static_cast<int>(set);
            }
        }
    }
    if (!kernelSetAvailable(KernelSet::Avx2) || !kernelSetAvailable(KernelSet::Avx512)) {
        GTEST_SKIP() << "compared without the AVX2 or AVX-512 set, which this processor lacks";
    }
}

TEST(KernelSetLimit, NamesOnlyTheVectorSets) {
    struct Case {
        const char* text;
        std::optional<KernelSet> limit;
    };
    const Case cases[] = {
        {"portable", KernelSet::VectorPortable},
        {"sse2", KernelSet::Sse2},
        {"avx2", KernelSet::Avx2},
        {"avx512", KernelSet::Avx512},
        {nullptr, std::nullopt},
        {"", std::nullopt},
        {"plain", std::nullopt},
        {"AVX2", std::nullopt},
        {"avx2 ", std::nullopt},
        {"avx", std::nullopt},
        {"avx5120", std::nullopt},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(parseKernelSetLimit(c.text), c.limit) << (c.text ? c.text : "(none)");
    }
}

// A limit takes the widest available vector set no wider than itself (the limit's own set
// where it is available), and leaves the plain classes alone.
TEST(KernelSetLimit, CapsTheVectorSetOfTheVectorClasses) {
    struct Case {
        KernelSet limit;
        std::vector<KernelSet> narrowerFirst; // the sets it may give, narrowest first
    };
    const Case cases[] = {
        {KernelSet::VectorPortable, {KernelSet::VectorPortable}},
        {KernelSet::Sse2, {KernelSet::VectorPortable, KernelSet::Sse2}},
        {KernelSet::Avx2, {KernelSet::VectorPortable, KernelSet::Sse2, KernelSet::Avx2}},
        {KernelSet::Avx512,
         {KernelSet::VectorPortable, KernelSet::Sse2, KernelSet::Avx2, KernelSet::Avx512}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(static_cast<int>(c.limit));
        KernelSet expected = KernelSet::VectorPortable;
        for (const KernelSet set : c.narrowerFirst) {
            if (kernelSetAvailable(set)) {
                expected = set;
            }
        }
        for (int processorClass = 0; processorClass <= 6; ++processorClass) {
            EXPECT_EQ(kernelSetForClass(processorClass, c.limit),
                      processorClass >= 3 ? expected : KernelSet::Plain)
                << processorClass;
        }
    }
    EXPECT_EQ(kernelSetForClass(6, std::nullopt), kernelSetForClass(6, KernelSet::Avx512));
}

// The environment's limit reaches the routine table of jpegInitialize; an unknown value is
// ignored.
TEST(KernelSetLimit, EnvironmentVariableReachesJpegInitialize) {
    struct Case {
        const char* processorClass;
        const char* kernels;
        KernelSet expected;
    };
    // What each limit leaves where the processor or the build lacks a set (SSE2 too, off x86).
    const KernelSet widest = kernelSetForClass(6, std::nullopt);
    const KernelSet avx2OrNarrower = kernelSetForClass(6, KernelSet::Avx2);
    const KernelSet sse2OrNarrower = kernelSetForClass(6, KernelSet::Sse2);
    const Case cases[] = {
        {"6", "portable", KernelSet::VectorPortable},
        {"6", "sse2", sse2OrNarrower},
        {"3", "avx2", avx2OrNarrower},
        {"6", "avx512", widest},
        {"6", "bogus", widest},
        {"6", nullptr, widest},
        {"0", "avx2", KernelSet::Plain},
        {"2", "sse2", KernelSet::Plain},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.processorClass) + " " + (c.kernels ? c.kernels : "(none)"));
        const ScopedKernelSet kernels(c.kernels);
        const Record p = newRecord(c.processorClass);
        const RoutineTable expected = *routinesForSet(c.expected);
        EXPECT_EQ(std::memcmp(&p->state.routines, &expected, sizeof expected), 0);
    }
}

// The plain and the vector transforms differ in the last bit for some coefficients, so the
// routine set is visible in the output of a textured image.
TEST(RoutineTable, RoutineSetsGiveDifferentStreamsForTexturedImages) {
    const RgbxImage image = makeImage(64, 64, 0, randomPixels(17));
    EXPECT_NE(encodeToMemory(image, "0").bytes, encodeToMemory(image, "6").bytes);
}

} // namespace
