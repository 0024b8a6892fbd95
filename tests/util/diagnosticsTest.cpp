#include "util/diagnostics.h"

#include <gtest/gtest.h>
#include <unistd.h>

namespace {

// The reports write to standard output; inside the dying child it is pointed at standard
// error, which the death-test machinery captures and matches. Status -1 reaches us as 255.
void toStderr() {
    ::dup2(2, 1);
}

TEST(DiagnosticsDeathTest, AssertWritesItsLineAndEndsWithStatusMinusOne) {
    EXPECT_EXIT(
        {
            toStderr();
            reportAssert("src/vx2Image/QimImg", 331);
        },
        ::testing::ExitedWithCode(255), "^VX2 ASSERT violation in src/vx2Image/QimImg line 331\n$");
}

TEST(DiagnosticsDeathTest, NegativeLineNumbersKeepTheirSign) {
    EXPECT_EXIT(
        {
            toStderr();
            reportAssert("src/util/binaryFile", -7);
        },
        ::testing::ExitedWithCode(255), "^VX2 ASSERT violation in src/util/binaryFile line -7\n$");
}

TEST(DiagnosticsDeathTest, ErrorWritesFileLineAndMessage) {
    EXPECT_EXIT(
        {
            toStderr();
            reportError("src/vx2Image/QimImg", 350, "Couldn't allocate memory");
        },
        ::testing::ExitedWithCode(255),
        "^VX2 ERROR in src/vx2Image/QimImg line 350: Couldn't allocate memory\n$");
}

TEST(DiagnosticsDeathTest, AssertMacroReportsOnlyAFailedCondition) {
    VX2_ASSERT(1 + 1 == 2, "src/util/binaryFile", 27);
    EXPECT_EXIT(
        {
            toStderr();
            VX2_ASSERT(1 + 1 == 3, "src/util/binaryFile", 27);
        },
        ::testing::ExitedWithCode(255), "^VX2 ASSERT violation in src/util/binaryFile line 27\n$");
}

} // namespace
