// The first-failure record that the bit writers and the marker output share, and the marker
// output's promise that nothing is written after a failure.
#include "entropyTestSupport.h"

#include "support/printAsName.h"

#include "jpeg/jpegStatus.h"
#include "jpeg/markerWriter.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using namespace entropy_test;

struct FailureCase {
    const char* name;
    std::vector<int> recorded;
    int expected;
};
PRINT_CASE_AS_NAME(FailureCase)

class FirstFailureTest : public ::testing::TestWithParam<FailureCase> {};

TEST_P(FirstFailureTest, KeepsTheFirstFailureOfTheSequence) {
    FirstFailure failure;
    for (const int status : GetParam().recorded) {
        failure.record(status);
    }
    EXPECT_EQ(failure.status(), GetParam().expected);
    EXPECT_EQ(failure.ok(), GetParam().expected == JPEG_SUCCESS);
}

INSTANTIATE_TEST_SUITE_P(
    Sequences, FirstFailureTest,
    ::testing::Values(FailureCase{"NothingRecorded", {}, JPEG_SUCCESS},
                      FailureCase{"SuccessesOnly", {JPEG_SUCCESS, JPEG_SUCCESS}, JPEG_SUCCESS},
                      FailureCase{"FailureAfterSuccesses",
                                  {JPEG_SUCCESS, JPEG_ERR_BUFFER_TOO_SMALL, JPEG_SUCCESS},
                                  JPEG_ERR_BUFFER_TOO_SMALL},
                      FailureCase{
                          "LaterFailuresDoNotReplaceIt",
                          {JPEG_ERR_FILE, JPEG_ERR_BAD_HUFFMAN_TABLE, JPEG_ERR_BUFFER_TOO_SMALL},
                          JPEG_ERR_FILE}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(MarkerOutput, WritesNothingAfterItsFirstFailure) {
    for (const BitOutputSet* set : {&kPlainSet, &kVectorSet}) {
        SCOPED_TRACE(set->name);
        auto stream = newStream();
        std::vector<std::uint8_t> memory(5, 0xA5);
        set->startOutput(stream.get(), memory.data(), static_cast<std::int32_t>(memory.size()));
        MarkerOutput out(set->writeBytes, stream.get());
        writeSoi(out);
        ASSERT_TRUE(out.ok());
        writeDri(out, 1); // six bytes do not fit
        EXPECT_EQ(out.status(), JPEG_ERR_BUFFER_TOO_SMALL);
        out.fail(JPEG_ERR_BAD_HUFFMAN_TABLE);
        writeEoi(out); // would fit, but the sequence has failed
        out.flush();
        EXPECT_EQ(out.status(), JPEG_ERR_BUFFER_TOO_SMALL);
        EXPECT_EQ(stream->byteCount, 2);
        EXPECT_EQ(memory, (std::vector<std::uint8_t>{0xFF, 0xD8, 0xA5, 0xA5, 0xA5}));
    }
}

} // namespace
