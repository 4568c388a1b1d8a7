// The history entry's heading, built for a fixed moment.

#include "HistoryItem.h"

#include <gtest/gtest.h>

#include <clocale>
#include <cstdlib>
#include <ctime>
#include <limits>

namespace {

class SenderHistoryItem : public ::testing::Test {
protected:
    void SetUp() override {
        ::setenv("TZ", "UTC0", 1);
        ::tzset();
        std::setlocale(LC_ALL, "C");
    }
    void TearDown() override {
        ::unsetenv("TZ");
        ::tzset();
    }
};

TEST_F(SenderHistoryItem, HeadingIsFollowedByTheLocaleDateAndTimeInBrackets) {
    const auto item = tarnsdk::MakeHistoryItem("Calibration", {"a", "b"}, "", 0);
    ASSERT_NE(item, nullptr);
    EXPECT_EQ(item->heading, L"Calibration (Thu Jan  1 00:00:00 1970)");
    EXPECT_EQ(item->note, L"");
    ASSERT_EQ(item->lines.GetSize(), 2);
    EXPECT_EQ(item->lines[0], L"a");
    EXPECT_EQ(item->lines[1], L"b");
}

TEST_F(SenderHistoryItem, NoteIsWidenedAndCutAtAZeroByte) {
    using namespace std::string_literals;
    const auto item = tarnsdk::MakeHistoryItem("Check"s, {"x\0y"s}, "done\0hidden"s, 86400);
    ASSERT_NE(item, nullptr);
    EXPECT_EQ(item->heading, L"Check (Fri Jan  2 00:00:00 1970)");
    EXPECT_EQ(item->note, L"done");
    EXPECT_EQ(item->lines[0], L"x");
}

// A moment whose local time cannot be worked out gives no entry (and no exception).
TEST_F(SenderHistoryItem, NoEntryWhenTheLocalTimeCannotBeDetermined) {
    CString text = L"unchanged";
    EXPECT_FALSE(tarnsdk::LocalTimeText(std::numeric_limits<std::time_t>::max(), text));
    EXPECT_EQ(text, L"unchanged");
    EXPECT_EQ(tarnsdk::MakeHistoryItem("Calibration", {}, "", std::numeric_limits<std::time_t>::max()),
              nullptr);
}

} // namespace
