// Memory taken by a loaded model stays in proportion to the file: records without any values
// cost 4 file bytes each, and their bookkeeping is sized once, without a growing array's slack.
#include "model/qmModel.h"

#include "allocationProbe.h"
#include "model/qmFileBuilder.h"
#include "support/testFiles.h"

#include <gtest/gtest.h>

namespace {

using qm_test::buildQmFile;
using qm_test::QmFileSpec;
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

} // namespace
