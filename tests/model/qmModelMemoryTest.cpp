// Memory taken by a loaded model stays in proportion to the file: records without any values
// cost 4 file bytes each, and their bookkeeping is sized once, without a growing array's slack;
// every allocation of a load together stays under five times the file's size and a fixed
// allowance, for files and for streams (which are held in full while they are decoded).
#include "model/qmModel.h"

#include "support/printAsName.h"

#include "allocationProbe.h"
#include "model/qmFileBuilder.h"
#include "support/pipeInput.h"
#include "support/testFiles.h"

#include <gtest/gtest.h>

namespace {

using qm_test::buildQmFile;
using qm_test::QmFileSpec;
using qm_test::QmRecordSpec;
using testing_support::PipeInput;
using testing_support::ScratchDir;
using testing_support::writeFile;

TEST(QmModelMemoryTest, EmptyRecordsTakeExactlyTheirBookkeeping) {
    for (std::uint32_t count : {1000u, 4097u}) {
        QmFileSpec spec;
        spec.records.resize(count);
        ScratchDir dir;
        const std::string path = dir.file("model.qm");
        writeFile(path, buildQmFile(spec));
        resetLargestAllocation();
        QmModel model;
        ASSERT_TRUE(loadQmFile(path, model)) << count;
        EXPECT_EQ(model.records.size(), count);
        EXPECT_EQ(largestAllocation(), count * sizeof(QmRecord)) << count;
    }
}

struct BoundCase {
    const char* name;
    std::array<std::size_t, 4> lengths; // values per part
    std::size_t records;
    bool throughPipe;
};
PRINT_CASE_AS_NAME(BoundCase)

class QmModelMemoryBoundTest : public ::testing::TestWithParam<BoundCase> {};

TEST_P(QmModelMemoryBoundTest, LoadAllocatesAtMostFiveTimesTheFileSize) {
    constexpr std::size_t kAllowance = std::size_t{2} << 20;
    const BoundCase& c = GetParam();
    QmFileSpec spec;
    QmRecordSpec record;
    for (int k = 0; k < 4; ++k) {
        spec.vectors[k].assign(c.lengths[k], 1000);
        record.parts[k].assign(c.lengths[k], -2000);
    }
    spec.records.assign(c.records, record);
    spec.imageFlag = 1;
    spec.image.assign(1000, 0xD8);
    const auto bytes = buildQmFile(spec);

    ScratchDir dir;
    const std::string path = dir.file("model.qm");
    writeFile(path, bytes);
    std::optional<PipeInput> pipe;
    if (c.throughPipe) {
        pipe.emplace(bytes);
    }
    QmModel model;
    resetLargestAllocation();
    ASSERT_TRUE(loadQmFile(c.throughPipe ? pipe->path() : path, model));
    const std::size_t allocated = totalAllocated();
    EXPECT_LE(allocated, 5 * bytes.size() + kAllowance)
        << allocated << " bytes allocated for a file of " << bytes.size();
    ASSERT_EQ(model.records.size(), c.records);
    EXPECT_EQ(model.imageBytes.size(), 1000u);
    if (c.records > 0 && model.recordStride() > 0) {
        EXPECT_EQ(model.part(c.records - 1, 0, 0).data[0], -2.0f);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Files, QmModelMemoryBoundTest,
    ::testing::Values(BoundCase{"emptyRecords", {0, 0, 0, 0}, 200000, false},
                      BoundCase{"emptyRecordsThroughAPipe", {0, 0, 0, 0}, 200000, true},
                      BoundCase{"smallRecords", {3, 1, 0, 2}, 50000, false},
                      BoundCase{"smallRecordsThroughAPipe", {3, 1, 0, 2}, 50000, true},
                      BoundCase{"largeRecords", {20000, 0, 30000, 1}, 20, false}),
    [](const auto& info) { return std::string(info.param.name); });

} // namespace
