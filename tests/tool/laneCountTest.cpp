// The lanes of the -i run: the QMJPEG_THREADS value that forces them, and the processor count
// otherwise.
#include "tool/laneCount.h"
#include "jpeg/jpegRowSource.h"
#include "support/printAsName.h"
#include "support/scopedEnv.h"
#include "util/platformProcessors.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <optional>
#include <string>

namespace {

struct LaneTextCase {
    const char* name;
    const char* text;
    std::optional<int> lanes;
};
PRINT_CASE_AS_NAME(LaneTextCase)

const LaneTextCase kLaneTexts[] = {
    {"One", "1", 1},
    {"Sixteen", "16", 16},
    {"SixtyFour", "64", 64},
    {"LeadingZeros", "007", 7},
    {"Null", nullptr, std::nullopt},
    {"Empty", "", std::nullopt},
    {"Zero", "0", std::nullopt},
    {"SixtyFive", "65", std::nullopt},
    {"Overflowing", "99999999999999999999", std::nullopt},
    {"Negative", "-2", std::nullopt},
    {"TrailingLetter", "2x", std::nullopt},
    {"Letters", "abc", std::nullopt},
    {"LeadingBlank", " 4", std::nullopt},
    {"TrailingBlank", "4 ", std::nullopt},
    {"Hexadecimal", "0x8", std::nullopt},
};

class LaneTextTest : public ::testing::TestWithParam<LaneTextCase> {};

TEST_P(LaneTextTest, OnlyWholeNumbersFromOneToTheMostLanesCount) {
    EXPECT_EQ(parseLaneCount(GetParam().text), GetParam().lanes);
}

INSTANTIATE_TEST_SUITE_P(Values, LaneTextTest, ::testing::ValuesIn(kLaneTexts),
                         [](const ::testing::TestParamInfo<LaneTextCase>& info) {
                             return std::string(info.param.name);
                         });

TEST(LaneCountTest, AValidValueForcesTheLanesElseEachProcessorGetsOne) {
    struct Case {
        std::optional<int> forced;
        int processors;
        int lanes;
    };
    const Case cases[] = {
        {std::nullopt, 1, 1},
        {std::nullopt, 2, 2},
        {std::nullopt, 12, 12},
        {std::nullopt, 64, 64},
        {std::nullopt, 65, 64},
        {std::nullopt, 4096, 64},
        {std::nullopt, 0, 1},
        {std::nullopt, -3, 1},
        {1, 8, 1},
        {16, 2, 16},
        {64, 1, 64},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(decideLaneCount(c.forced, c.processors), c.lanes)
            << c.processors << " processors, forced " << c.forced.value_or(0);
    }
}

TEST(LaneCountTest, TheRunTakesTheVariableOrTheProcessors) {
    const int processors = std::min(platform::usableProcessors(), kMaxRowSourceLanes);
    for (const char* text : {"3", "64", "1"}) {
        testing_support::ScopedEnv variable(kLaneCountVariable, text);
        EXPECT_EQ(pipelineThreads(), std::stoi(text));
    }
    for (const char* text : {"0", "65", "abc", "", "-1", "2x"}) {
        testing_support::ScopedEnv variable(kLaneCountVariable, text);
        EXPECT_EQ(pipelineThreads(), processors) << '"' << text << '"';
    }
    testing_support::ScopedEnv unset(kLaneCountVariable, nullptr);
    EXPECT_EQ(pipelineThreads(), processors);
}

} // namespace
