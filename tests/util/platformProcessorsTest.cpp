// The processors the process may use: the control-group texts it is limited by, read from
// strings, and the count itself under an affinity of one processor.
#include "util/platformProcessors.h"
#include "support/printAsName.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <thread>

#if defined(__linux__)
#include <sched.h>
#endif

namespace {

struct CpuMaxCase {
    const char* name;
    std::string text;
    std::optional<int> processors;
};
PRINT_CASE_AS_NAME(CpuMaxCase)

const CpuMaxCase kCpuMaxCases[] = {
    {"NoLimit", "max 100000\n", std::nullopt},
    {"TwoWhole", "200000 100000\n", 2},
    {"OneAndAHalfRoundsUp", "150000 100000\n", 2},
    {"LessThanOne", "50000 100000\n", 1},
    {"OtherPeriod", "600000 50000", 12},
    {"BlanksAround", "  300000\t100000 \r\n", 3},
    {"HugeQuotaIsCapped", "999999999999999999 1", 2147483647},
    {"Empty", "", std::nullopt},
    {"QuotaAlone", "200000", std::nullopt},
    {"ZeroPeriod", "200000 0", std::nullopt},
    {"ZeroQuota", "0 100000", std::nullopt},
    {"NegativeQuota", "-1 100000", std::nullopt},
    {"ThreeFields", "200000 100000 5", std::nullopt},
    {"Letters", "abc def", std::nullopt},
    {"TooManyDigits", "1234567890123456789 100000", std::nullopt},
    {"NulInside", std::string("2000\0 100000", 12), std::nullopt},
    {"Binary", "\xff\xfe\x01 \x80", std::nullopt},
};

class CpuMaxTest : public ::testing::TestWithParam<CpuMaxCase> {};

TEST_P(CpuMaxTest, GivesTheProcessorsOfTheQuota) {
    EXPECT_EQ(platform::processorsFromCpuMax(GetParam().text), GetParam().processors);
}

INSTANTIATE_TEST_SUITE_P(Texts, CpuMaxTest, ::testing::ValuesIn(kCpuMaxCases),
                         [](const ::testing::TestParamInfo<CpuMaxCase>& info) {
                             return std::string(info.param.name);
                         });

TEST(CfsQuotaTest, GivesTheProcessorsOfTheQuota) {
    struct Case {
        const char* quota;
        const char* period;
        std::optional<int> processors;
    };
    const Case cases[] = {
        {"-1\n", "100000\n", std::nullopt},
        {"200000\n", "100000\n", 2},
        {"250000", "100000", 3},
        {"50000\n", "100000\n", 1},
        {"-2\n", "100000\n", std::nullopt},
        {"200000\n", "0\n", std::nullopt},
        {"", "100000", std::nullopt},
        {"200000", "", std::nullopt},
        {"2e5", "100000", std::nullopt},
        {"200000 1", "100000", std::nullopt},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(platform::processorsFromCfsQuota(c.quota, c.period), c.processors)
            << "quota \"" << c.quota << "\", period \"" << c.period << '"';
    }
}

TEST(ControlGroupsTest, FindsTheUnifiedAndTheCpuGroups) {
    struct Case {
        const char* name;
        std::string text;
        std::optional<std::string> unified;
        std::optional<std::string> cpu;
        std::string cpuControllers;
    };
    const Case cases[] = {
        {"UnifiedOnly", "0::/user.slice/session-2.scope\n", "/user.slice/session-2.scope",
         std::nullopt, ""},
        {"Hybrid",
         "12:pids:/\n4:cpu,cpuacct:/docker/abc\n3:cpuset:/x\n2:cpuacct:/y\n1:name=systemd:/\n"
         "0::/\n",
         "/", "/docker/abc", "cpu,cpuacct"},
        {"CpuLast", "5:cpuacct,cpu:/a/b", std::nullopt, "/a/b", "cpuacct,cpu"},
        {"OnlyLookalikes", "3:cpuset:/a\n2:cpuacct:/b\n", std::nullopt, std::nullopt, ""},
        {"ColonInPath", "0::/a:b/c\n", "/a:b/c", std::nullopt, ""},
        {"ClimbingPathIsTheRoot", "0::/../../x\n", "/", std::nullopt, ""},
        {"Malformed", "garbage\n0:\n0::\n0::relative\n::::\n\n", std::nullopt, std::nullopt, ""},
        {"Empty", "", std::nullopt, std::nullopt, ""},
    };
    for (const Case& c : cases) {
        const platform::ControlGroups groups = platform::controlGroupsFromText(c.text);
        EXPECT_EQ(groups.unified, c.unified) << c.name;
        EXPECT_EQ(groups.cpu, c.cpu) << c.name;
        EXPECT_EQ(groups.cpuControllers, c.cpuControllers) << c.name;
    }
}

TEST(UsableProcessorsTest, AtLeastOneAndNoMoreThanTheMachineHas) {
    const int processors = platform::usableProcessors();
    EXPECT_GE(processors, 1);
    if (const unsigned machine = std::thread::hardware_concurrency(); machine > 0) {
        EXPECT_LE(processors, static_cast<int>(machine));
    }
}

#if defined(__linux__)

// Restores the thread's affinity when it ends.
class AffinityRestore {
public:
    AffinityRestore() { saved_ = sched_getaffinity(0, sizeof mask_, &mask_) == 0; }
    ~AffinityRestore() {
        if (saved_) {
            sched_setaffinity(0, sizeof mask_, &mask_);
        }
    }
    AffinityRestore(const AffinityRestore&) = delete;
    AffinityRestore& operator=(const AffinityRestore&) = delete;
    bool saved() const { return saved_; }
    const cpu_set_t& mask() const { return mask_; }

private:
    cpu_set_t mask_{};
    bool saved_ = false;
};

// As `taskset -c N` does: the process pinned to one processor may use one, and to two at most
// two.
TEST(UsableProcessorsTest, FollowsTheAffinity) {
    const AffinityRestore restore;
    if (!restore.saved()) {
        GTEST_SKIP() << "sched_getaffinity is not available here";
    }
    int allowed[2] = {-1, -1};
    int found = 0;
    for (int cpu = 0; cpu < CPU_SETSIZE && found < 2; ++cpu) {
        if (CPU_ISSET(cpu, &restore.mask())) {
            allowed[found++] = cpu;
        }
    }
    ASSERT_GE(found, 1);
    cpu_set_t one;
    CPU_ZERO(&one);
    CPU_SET(allowed[0], &one);
    if (sched_setaffinity(0, sizeof one, &one) != 0) {
        GTEST_SKIP() << "sched_setaffinity is refused here";
    }
    EXPECT_EQ(platform::usableProcessors(), 1);
    if (found == 2) {
        cpu_set_t two = one;
        CPU_SET(allowed[1], &two);
        ASSERT_EQ(sched_setaffinity(0, sizeof two, &two), 0);
        const int processors = platform::usableProcessors();
        EXPECT_GE(processors, 1);
        EXPECT_LE(processors, 2);
    }
}

#endif

} // namespace
