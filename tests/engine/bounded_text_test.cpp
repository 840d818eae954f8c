// The bounded copies every result and failure text is built with. On Windows they stand in
// for msvcrt's, whose formatter leaves a text that exactly fills the buffer unterminated.
#include "bounded_text.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

namespace {

TEST(BoundedText, CopyTakesWhatFitsAndEmptiesTheBufferOtherwise) {
    struct Case {
        const char* source;
        int result;
        const char* text;
    };
    const Case cases[] = {
        {"", 0, ""},
        {"abcdefg", 0, "abcdefg"},  // 7 characters and the terminator: exactly full
        {"abcdefgh", ERANGE, ""},
        {"abcdefghijklmnop", ERANGE, ""},
    };
    for (const Case& c : cases) {
        char buffer[8];
        std::memset(buffer, 'x', sizeof buffer);
        EXPECT_EQ(strcpy_s(buffer, c.source), c.result) << c.source;
        EXPECT_STREQ(buffer, c.text) << c.source;
    }
}

TEST(BoundedText, AppendTakesWhatFitsAndEmptiesTheBufferOtherwise) {
    struct Case {
        const char* start;
        const char* tail;
        int result;
        const char* text;
    };
    const Case cases[] = {
        {"vlmr3", ".bak", 0, "vlmr3.bak"},
        {"vlmr3.ex", "e", 0, "vlmr3.exe"},  // exactly full
        {"vlmr3.exe", "", 0, "vlmr3.exe"},
        {"vlmr3.exe", "x", ERANGE, ""},
        {"", "0123456789", ERANGE, ""},
    };
    for (const Case& c : cases) {
        char buffer[10];
        std::memset(buffer, 'x', sizeof buffer);
        ASSERT_EQ(strcpy_s(buffer, c.start), 0);
        EXPECT_EQ(strcat_s(buffer, c.tail), c.result) << c.start << " + " << c.tail;
        EXPECT_STREQ(buffer, c.text) << c.start << " + " << c.tail;
    }
    // A buffer without a terminator is not appended to.
    char unterminated[4] = {'a', 'b', 'c', 'd'};
    EXPECT_EQ(strcat_s(unterminated, "e"), ERANGE);
    EXPECT_EQ(unterminated[0], '\0');
}

TEST(BoundedText, FormatGivesTheWholeTextOrAnEmptyOne) {
    char buffer[12];
    EXPECT_EQ(sprintf_s(buffer, "Done %s!", "Vlmr2"), 11);  // exactly full
    EXPECT_STREQ(buffer, "Done Vlmr2!");
    EXPECT_EQ(sprintf_s(buffer, "Done %s!", "vlmr3.exe"), -1);
    EXPECT_STREQ(buffer, "");
    EXPECT_EQ(sprintf_s(buffer, "Done %s!", "PCVlmr5.exe"), -1);
    EXPECT_STREQ(buffer, "");
    EXPECT_EQ(sprintf_s(buffer, "%s%s", "ab", "cd"), 4);
    EXPECT_STREQ(buffer, "abcd");
    EXPECT_EQ(sprintf_s(buffer, "plain"), 5);
    EXPECT_STREQ(buffer, "plain");
}

// One character past the buffer: the case in which msvcrt's _snprintf writes every byte and
// no terminator.
TEST(BoundedText, FormatThatFillsTheBufferExactlyIsRefused) {
    char buffer[12];
    std::memset(buffer, 'x', sizeof buffer);
    EXPECT_EQ(sprintf_s(buffer, "%s", "0123456789ab"), -1);
    EXPECT_EQ(buffer[0], '\0');
}

}  // namespace
