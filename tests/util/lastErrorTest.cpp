#include "util/lastError.h"

#include <gtest/gtest.h>
#include <string>

namespace {

class LastErrorTest : public ::testing::Test {
protected:
    void SetUp() override { clearLastError(); }
    void TearDown() override { clearLastError(); }
};

TEST_F(LastErrorTest, StartsEmptyAfterClear) {
    EXPECT_EQ(lastError().code, 0);
    EXPECT_STREQ(lastError().message, "");
}

TEST_F(LastErrorTest, FirstErrorOfARunWins) {
    setLastError(2, "Image file is not a DIB, or cannot be read.");
    setLastError(4, "missing.bmp");
    EXPECT_EQ(lastError().code, 2);
    EXPECT_STREQ(lastError().message, "Image file is not a DIB, or cannot be read.");
}

TEST_F(LastErrorTest, LongMessagesAreCutAt255Characters) {
    const std::string text(300, 'x');
    setLastError(1, text);
    EXPECT_EQ(std::string(lastError().message), text.substr(0, 255));
}

TEST_F(LastErrorTest, MessageOfExactly255CharactersIsKeptWhole) {
    const std::string text(255, 'y');
    setLastError(1, text);
    EXPECT_EQ(std::string(lastError().message), text);
}

TEST_F(LastErrorTest, ClearAllowsANewFirstError) {
    setLastError(1, "first");
    clearLastError();
    setLastError(5, "second");
    EXPECT_EQ(lastError().code, 5);
    EXPECT_STREQ(lastError().message, "second");
}

} // namespace
