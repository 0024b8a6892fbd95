#include "model/qmModel.h"
#include "util/lastError.h"

#include "allocationProbe.h"
#include "model/qmFileBuilder.h"
#include "support/pipeInput.h"
#include "support/testFiles.h"

#include <cmath>
#include <gtest/gtest.h>
#include <limits>

namespace {

using qm_test::buildQmFile;
using qm_test::QmFileSpec;
using qm_test::QmRecordSpec;
using testing_support::Bytes;
using testing_support::ScratchDir;
using testing_support::writeFile;

class QmModelTest : public ::testing::Test {
protected:
    void SetUp() override { clearLastError(); }
    void TearDown() override { clearLastError(); }

    bool load(const Bytes& bytes, QmModel& model) {
        writeFile(path, bytes);
        return loadQmFile(path, model);
    }

    ScratchDir dir;
    std::string path = dir.file("model.qm");
};

// A model that uses every field: headers, four vectors of different lengths, records, image.
QmFileSpec fullSpec() {
    QmFileSpec spec;
    spec.header0 = 0x11223344;
    spec.header1 = 7;
    spec.vectors = {{{1000, -1000, 1}, {-32768}, {}, {32767, 0}}};
    spec.records.push_back(QmRecordSpec{{{{3000, 0, 0}, {0}, {}, {0, 4000}}}, 0xDEADBEEF});
    spec.records.push_back(QmRecordSpec{{{{1, 2, 3}, {4}, {}, {5, 6}}}, 42});
    spec.imageFlag = 1;
    spec.image = {0xFF, 0xD8, 0xFF, 0xD9};
    return spec;
}

TEST_F(QmModelTest, LoadsEveryField) {
    QmModel model;
    ASSERT_TRUE(load(buildQmFile(fullSpec()), model));
    EXPECT_EQ(lastError().code, 0);
    EXPECT_EQ(model.header0, 0x11223344u);
    EXPECT_EQ(model.header1, 7u);
    const std::uint32_t lengths[4] = {3, 1, 0, 2};
    for (int k = 0; k < 4; ++k) {
        EXPECT_EQ(model.vectors[k].rows, lengths[k]);
        EXPECT_EQ(model.vectors[k].cols, 1u);
        EXPECT_EQ(model.vectors[k].data.size(), lengths[k]);
    }
    EXPECT_EQ(model.vectors[0].data[0], 1.0f);
    EXPECT_EQ(model.vectors[0].data[1], -1.0f);
    EXPECT_EQ(model.vectors[0].data[2], static_cast<float>(0.001));
    EXPECT_EQ(model.vectors[1].data[0], static_cast<float>(-32.768));
    EXPECT_EQ(model.vectors[3].data[0], static_cast<float>(32.767));
    ASSERT_EQ(model.records.size(), 2u);
    const QmRecord& first = model.records[0];
    EXPECT_EQ(first.value, 0xDEADBEEFu);
    for (int i = 0; i < 2; ++i) {
        for (int j = 0; j < 2; ++j) {
            EXPECT_EQ(model.part(0, i, j).rows, 1u);
            EXPECT_EQ(model.part(0, i, j).cols, lengths[2 * i + j]);
            EXPECT_EQ(model.part(0, i, j).data.size(), lengths[2 * i + j]);
        }
    }
    EXPECT_EQ(model.part(0, 0, 0).data[0], 3.0f);
    EXPECT_EQ(model.part(0, 1, 1).data[1], 4.0f);
    EXPECT_EQ(first.invSquaredNorm, 0.04f); // 1 / (3^2 + 4^2)
    EXPECT_EQ(model.records[1].value, 42u);
    EXPECT_EQ(model.imageBytes, (Bytes{0xFF, 0xD8, 0xFF, 0xD9}));
}

TEST_F(QmModelTest, StreamLoadsAsTheSameFileDoes) {
    const Bytes bytes = buildQmFile(fullSpec());
    QmModel fromFile;
    ASSERT_TRUE(load(bytes, fromFile));
    testing_support::PipeInput pipe(bytes);
    QmModel fromStream;
    ASSERT_TRUE(loadQmFile(pipe.path(), fromStream));
    EXPECT_EQ(fromStream.header0, fromFile.header0);
    EXPECT_EQ(fromStream.header1, fromFile.header1);
    for (int k = 0; k < 4; ++k) {
        EXPECT_EQ(fromStream.vectors[k].data, fromFile.vectors[k].data) << k;
    }
    ASSERT_EQ(fromStream.records.size(), fromFile.records.size());
    for (std::size_t r = 0; r < fromFile.records.size(); ++r) {
        EXPECT_EQ(fromStream.records[r].value, fromFile.records[r].value);
        EXPECT_EQ(fromStream.records[r].invSquaredNorm, fromFile.records[r].invSquaredNorm);
    }
    EXPECT_EQ(fromStream.coefficients, fromFile.coefficients);
    EXPECT_EQ(fromStream.imageBytes, fromFile.imageBytes);
}

TEST_F(QmModelTest, TruncatedStreamFailsWithCode1) {
    const Bytes whole = buildQmFile(fullSpec());
    testing_support::PipeInput pipe(Bytes(whole.begin(), whole.end() - 1));
    QmModel model;
    EXPECT_FALSE(loadQmFile(pipe.path(), model));
    EXPECT_EQ(lastError().code, 1);
    EXPECT_EQ(std::string(lastError().message), pipe.path());
}

TEST_F(QmModelTest, SumOfSquaresIsAccumulatedInSinglePrecision) {
    // 0.001^2 summed in single precision in file order, then 1 / total in single precision.
    QmFileSpec spec;
    spec.vectors = {{{0, 0, 0}, {0}, {0, 0}, {}}};
    spec.records.push_back(QmRecordSpec{{{{1, 1, 1}, {1}, {1, 1}, {}}}, 0});
    QmModel model;
    ASSERT_TRUE(load(buildQmFile(spec), model));
    const float v = static_cast<float>(0.001);
    float p00 = 0.0f;
    for (int i = 0; i < 3; ++i) {
        p00 = p00 + v * v;
    }
    float p10 = 0.0f;
    p10 = p10 + v * v;
    p10 = p10 + v * v;
    float total = 0.0f;
    total = total + p00;
    total = total + v * v;
    total = total + p10;
    EXPECT_EQ(model.records[0].invSquaredNorm, 1.0f / total);
}

TEST_F(QmModelTest, MinimalFileOf40BytesLoadsEmpty) {
    const Bytes bytes = buildQmFile(QmFileSpec{});
    ASSERT_EQ(bytes.size(), 40u);
    QmModel model;
    ASSERT_TRUE(load(bytes, model));
    for (const auto& v : model.vectors) {
        EXPECT_EQ(v.rows, 0u);
        EXPECT_EQ(v.cols, 1u);
        EXPECT_TRUE(v.data.empty());
    }
    EXPECT_TRUE(model.records.empty());
    EXPECT_TRUE(model.imageBytes.empty());
}

TEST_F(QmModelTest, ImageFlagOtherThanOneReadsNoImage) {
    QmFileSpec spec;
    spec.imageFlag = 2;
    spec.image = {1, 2, 3, 4, 5, 6, 7, 8};
    QmModel model;
    ASSERT_TRUE(load(buildQmFile(spec), model));
    EXPECT_TRUE(model.imageBytes.empty());
}

TEST_F(QmModelTest, ImageOfLengthZeroLoads) {
    QmFileSpec spec;
    spec.imageFlag = 1;
    QmModel model;
    ASSERT_TRUE(load(buildQmFile(spec), model));
    EXPECT_TRUE(model.imageBytes.empty());
}

TEST_F(QmModelTest, TrailingBytesAreIgnored) {
    QmFileSpec spec = fullSpec();
    spec.trailing = {9, 9, 9};
    QmModel model;
    ASSERT_TRUE(load(buildQmFile(spec), model));
    EXPECT_EQ(model.imageBytes.size(), 4u);
}

TEST_F(QmModelTest, EmptyOrZeroRecordsHaveInfiniteNormAndConsumeTheirValue) {
    QmFileSpec spec;
    for (std::uint32_t r = 0; r < 3; ++r) {
        spec.records.push_back(QmRecordSpec{{}, 100 + r});
    }
    QmModel model;
    ASSERT_TRUE(load(buildQmFile(spec), model));
    ASSERT_EQ(model.records.size(), 3u);
    for (std::uint32_t r = 0; r < 3; ++r) {
        EXPECT_EQ(model.records[r].invSquaredNorm, std::numeric_limits<float>::infinity());
        EXPECT_EQ(model.records[r].value, 100 + r);
    }

    QmFileSpec zeros;
    zeros.vectors = {{{5}, {}, {}, {}}};
    zeros.records.push_back(QmRecordSpec{{{{0}, {}, {}, {}}}, 1});
    QmModel zeroModel;
    ASSERT_TRUE(load(buildQmFile(zeros), zeroModel));
    EXPECT_TRUE(std::isinf(zeroModel.records[0].invSquaredNorm));
}

TEST_F(QmModelTest, ImageLongerThanTheFileFailsWithCode1) {
    QmFileSpec spec;
    spec.imageFlag = 1;
    Bytes bytes = buildQmFile(spec);
    bytes[40] = 10; // imageLength 10, no bytes follow
    QmModel model;
    EXPECT_FALSE(load(bytes, model));
    EXPECT_EQ(lastError().code, 1);
    EXPECT_EQ(std::string(lastError().message), path);
}

TEST_F(QmModelTest, EveryTruncationFailsCleanlyWithCode1) {
    const Bytes whole = buildQmFile(fullSpec());
    for (std::size_t length = 0; length < whole.size(); ++length) {
        clearLastError();
        QmModel model;
        EXPECT_FALSE(load(Bytes(whole.begin(), whole.begin() + length), model))
            << "prefix of " << length << " bytes";
        EXPECT_EQ(lastError().code, 1) << "prefix of " << length << " bytes";
        const std::string expected = length < 8 ? "" : path;
        EXPECT_EQ(std::string(lastError().message), expected) << length;
    }
}

struct LyingCount {
    const char* name;
    std::size_t offset; // where the 32-bit count lies
    std::uint32_t value;
};

class QmModelLyingCountTest : public QmModelTest,
                              public ::testing::WithParamInterface<LyingCount> {};

TEST_P(QmModelLyingCountTest, FailsAtOnceWithoutALargeAllocation) {
    QmFileSpec spec;
    spec.imageFlag = 1;
    Bytes bytes = buildQmFile(spec);
    bytes.resize(50, 0);
    const LyingCount& c = GetParam();
    for (int i = 0; i < 4; ++i) {
        bytes[c.offset + i] = static_cast<std::uint8_t>(c.value >> (8 * i));
    }
    writeFile(path, bytes);
    resetLargestAllocation();
    QmModel model;
    EXPECT_FALSE(loadQmFile(path, model));
    EXPECT_LT(largestAllocation(), std::size_t{1} << 20);
    EXPECT_EQ(lastError().code, 1);
    EXPECT_EQ(std::string(lastError().message), path);
}

INSTANTIATE_TEST_SUITE_P(Counts, QmModelLyingCountTest,
                         ::testing::Values(LyingCount{"imageLength1GiB", 40, 1u << 30},
                                           LyingCount{"imageLengthMax", 40, 0xFFFFFFFFu},
                                           LyingCount{"length0", 16, 0xFFFFFFFFu},
                                           LyingCount{"length3", 28, 0x40000000u},
                                           LyingCount{"recordCount", 32, 0xFFFFFFFFu}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(QmModelTest, MissingFileFailsWithCode4) {
    QmModel model;
    EXPECT_FALSE(loadQmFile(dir.file("absent.qm"), model));
    EXPECT_EQ(lastError().code, 4);
}

TEST_F(QmModelTest, NewerFormatDigitFailsWithCode4) {
    Bytes bytes = buildQmFile(QmFileSpec{});
    bytes[5] = '1';
    QmModel model;
    EXPECT_FALSE(load(bytes, model));
    EXPECT_EQ(lastError().code, 4);
}

TEST_F(QmModelTest, ReloadReplacesEarlierContent) {
    QmModel model;
    ASSERT_TRUE(load(buildQmFile(fullSpec()), model));
    ASSERT_TRUE(load(buildQmFile(QmFileSpec{}), model));
    EXPECT_TRUE(model.records.empty());
    EXPECT_TRUE(model.imageBytes.empty());
    EXPECT_TRUE(model.vectors[0].data.empty());
}

} // namespace
