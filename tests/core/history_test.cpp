#include <gtest/gtest.h>

#include <string>

#include "zentra/history.h"

using namespace zentra;

namespace {

CStringArray Numbered(int count) {
    CStringArray entries;
    for (int i = 1; i <= count; ++i) entries.push_back(L"cmd " + std::to_wstring(i));
    return entries;
}

}  // namespace

TEST(HistoryBuffer, AddTrimsAndIgnoresBlankText) {
    CSQLBuffer buffer;
    EXPECT_EQ(buffer.GetCommandCount(), 0);
    EXPECT_EQ(buffer.GetCurrentCommandIndex(), -1);

    buffer.Add(L"  \t select 1 \r\n", 1);
    ASSERT_EQ(buffer.GetCommandCount(), 1);
    EXPECT_EQ(buffer.GetCommandText(0), L"select 1");

    buffer.Add(L"", 1);
    buffer.Add(L" \t\r\n ", 1);
    buffer.Add(nullptr, 1);
    EXPECT_EQ(buffer.GetCommandCount(), 1);
    EXPECT_EQ(buffer.GetCurrentCommandIndex(), 0);  // left as GetCommandText set it
}

TEST(HistoryBuffer, CapacityDropsOldestAndZeroMeansUnbounded) {
    CSQLBuffer buffer;
    for (int i = 1; i <= 20; ++i) buffer.Add((L"cmd " + std::to_wstring(i)).c_str(), 1);
    EXPECT_EQ(buffer.GetCommandCount(), 20);
    buffer.Add(L"cmd 21", 1);
    ASSERT_EQ(buffer.GetCommandCount(), 20);
    EXPECT_EQ(buffer.GetCommandText(0), L"cmd 2");
    EXPECT_EQ(buffer.GetCommandText(19), L"cmd 21");

    // Shrinking keeps the newest entries.
    buffer.SetBufferSize(5);
    ASSERT_EQ(buffer.GetCommandCount(), 5);
    EXPECT_EQ(buffer.GetCommandText(0), L"cmd 17");
    EXPECT_EQ(buffer.GetCommandText(4), L"cmd 21");

    // A unique add of an existing entry while full does not drop another one.
    buffer.Add(L"cmd 18", 1);
    ASSERT_EQ(buffer.GetCommandCount(), 5);
    EXPECT_EQ(buffer.GetCommandText(0), L"cmd 17");
    EXPECT_EQ(buffer.GetCommandText(4), L"cmd 18");

    for (int size : {0, -3}) {
        CSQLBuffer unbounded(size);
        for (int i = 0; i < 100; ++i) unbounded.Add((L"q" + std::to_wstring(i)).c_str(), 0);
        EXPECT_EQ(unbounded.GetCommandCount(), 100);
        unbounded.SetBufferSize(0);
        EXPECT_EQ(unbounded.GetCommandCount(), 100);
    }

    CSQLBuffer one(1);
    one.Add(L"a", 0);
    one.Add(L"b", 0);
    ASSERT_EQ(one.GetCommandCount(), 1);
    EXPECT_EQ(one.GetCommandText(0), L"b");
}

TEST(HistoryBuffer, UniqueMovesAnEqualEntryToTheEnd) {
    CSQLBuffer buffer;
    for (const wchar_t* text : {L"a", L"b", L"c", L"dup", L"e"}) buffer.Add(text, 1);
    buffer.Add(L"dup", 1);
    ASSERT_EQ(buffer.GetCommandCount(), 5);
    EXPECT_EQ(buffer.GetCommandText(3), L"e");
    EXPECT_EQ(buffer.GetCommandText(4), L"dup");

    buffer.Add(L"  e ", 1);  // compared after trimming
    EXPECT_EQ(buffer.GetCommandCount(), 5);
    EXPECT_EQ(buffer.GetCommandText(4), L"e");

    buffer.Add(L"DUP", 1);  // letter case matters
    EXPECT_EQ(buffer.GetCommandCount(), 6);

    buffer.Add(L"a", 0);  // not unique: both copies stay
    ASSERT_EQ(buffer.GetCommandCount(), 7);
    EXPECT_EQ(buffer.GetCommandText(0), L"a");
    EXPECT_EQ(buffer.GetCommandText(6), L"a");
}

TEST(HistoryBuffer, CurrentIndexFollowsAddAndReads) {
    CSQLBuffer buffer;
    buffer.Add(L"one", 1);
    buffer.Add(L"two", 1);
    buffer.Add(L"three", 1);
    EXPECT_EQ(buffer.GetCurrentCommandIndex(), 3);
    EXPECT_EQ(buffer.GetCommandText(1), L"two");
    EXPECT_EQ(buffer.GetCurrentCommandIndex(), 1);

    // Out of range: an empty text, and the index is still taken.
    EXPECT_EQ(buffer.GetCommandText(3), L"");
    EXPECT_EQ(buffer.GetCurrentCommandIndex(), 3);
    EXPECT_EQ(buffer.GetCommandText(-1), L"");
    EXPECT_EQ(buffer.GetCurrentCommandIndex(), -1);
    EXPECT_EQ(buffer.GetCommandCount(), 3);
}

TEST(HistoryBuffer, SetAndGetCommandArray) {
    CSQLBuffer buffer;
    buffer.Add(L"old", 1);
    EXPECT_EQ(buffer.GetCurrentCommandIndex(), 1);

    const CStringArray many = Numbered(25);
    buffer.SetCommandArray(&many);
    ASSERT_EQ(buffer.GetCommandCount(), 20);
    EXPECT_EQ(buffer.GetCommandText(0), L"cmd 1");  // the first given entries are kept
    EXPECT_EQ(buffer.GetCommandText(19), L"cmd 20");

    const CStringArray few = Numbered(3);
    buffer.GetCommandText(2);
    buffer.SetCommandArray(&few);
    EXPECT_EQ(*buffer.GetCommandArray(), few);
    EXPECT_EQ(buffer.GetCurrentCommandIndex(), 2);  // not changed by loading

    // Loading the buffer's own array leaves it as it is.
    buffer.SetCommandArray(buffer.GetCommandArray());
    EXPECT_EQ(*buffer.GetCommandArray(), few);

    // The array handed out is the live one.
    buffer.GetCommandArray()->push_back(L"cmd 4");
    EXPECT_EQ(buffer.GetCommandCount(), 4);

    buffer.SetCommandArray(nullptr);
    EXPECT_EQ(buffer.GetCommandCount(), 0);

    CSQLBuffer unbounded(0);
    unbounded.SetCommandArray(&many);
    EXPECT_EQ(unbounded.GetCommandCount(), 25);
}
