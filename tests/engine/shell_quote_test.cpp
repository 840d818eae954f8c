// The one path quoter, as each platform's shell reads it: natively the paste test runs the
// shells themselves (tests/cli/paste_test.cpp); here the quoted forms, and on Windows what the
// program's own reading of its command line gives back.
#include <gtest/gtest.h>

#include <string>

#include "platform.h"

#ifdef _WIN32
#include <windows.h>
#include <shellapi.h>
#endif

namespace {

std::string Quote(const std::string& text) {
    char out[512];
    EXPECT_TRUE(platform::QuoteForShell(text.c_str(), out));
    return out;
}

struct Case {
    const char* text;
    const char* quoted;
};

#ifdef _WIN32

// cmd's quoting: each " that cmd counts switches & | < > ^ between plain and live. Outside
// quotes a ^ makes the next character plain, a quote included.
bool CmdKeepsEverythingQuoted(const std::string& line) {
    bool inside = false;
    for (size_t i = 0; i < line.size(); ++i) {
        const char c = line[i];
        if (!inside && c == '^') {
            ++i;
        } else if (c == '"') {
            inside = !inside;
        } else if (!inside && std::string("&|<>()").find(c) != std::string::npos) {
            return false;
        }
    }
    return !inside;
}

// What the program's argv reading makes of the word, with cmd's ^ already taken out.
std::string ReadBack(const std::string& quoted) {
    std::string line;
    for (size_t i = 0; i < quoted.size(); ++i) {
        if (quoted[i] == '^') ++i;
        line += quoted[i];
    }
    const std::wstring wide(line.begin(), line.end());
    int count = 0;
    LPWSTR* words = CommandLineToArgvW((L"program.exe " + wide).c_str(), &count);
    std::string back = count == 2 ? std::string(words[1], words[1] + wcslen(words[1])) : "<" + std::to_string(count) + " words>";
    LocalFree(words);
    return back;
}

const Case CASES[] = {
    {"C:\\Games\\Velmora 3", "\"C:\\Games\\Velmora 3\""},
    {"C:\\Games\\Velmora 3\\", "\"C:\\Games\\Velmora 3\\\\\""},
    {"C:\\", "\"C:\\\\\""},
    {"C:\\a\\\\\\", "\"C:\\a\\\\\\\\\\\\\""},
    {"a&b|c", "\"a&b|c\""},
    {"a\"b & calc", "\"a\"\\^\"\"b & calc\""},
    {"a\\\"b", "\"a\\\\\"\\^\"\"b\""},
    {"\"", "\"\"\\^\"\"\""},
    {"line\nbreak", "\"line?break\""},
};

TEST(ShellQuote, CmdKeepsItWholeAndTheProgramReadsTheNameBack) {
    for (const Case& c : CASES) {
        SCOPED_TRACE(c.text);
        const std::string quoted = Quote(c.text);
        EXPECT_EQ(quoted, c.quoted);
        EXPECT_TRUE(CmdKeepsEverythingQuoted("velmora-patch.exe --dir " + quoted + " --fps"));
        std::string expected = c.text;
        for (char& ch : expected) {
            if (ch == '\n') ch = '?';
        }
        EXPECT_EQ(ReadBack(quoted), expected) << quoted;
    }
}

#else

const Case CASES[] = {
    {"/games/Velmora 3", "'/games/Velmora 3'"},
    {"it's", "'it'\\''s'"},
    {"x$(touch /tmp/PWNED)`id`!", "'x$(touch /tmp/PWNED)`id`!'"},
    {"a\nb", "'a'$'\\n''b'"},
    {"tab\t\x1B[2J", "'tab'$'\\t'''$'\\x1B''[2J'"},
    {"caf\xC3\xA9", "'caf\xC3\xA9'"},
    // A C1 control and a byte that is no UTF-8 would reach the terminal as they are.
    {"c1\xC2\x9B" "x", "'c1'$'\\xC2'''$'\\x9B''x'"},
    {"bad\xFF", "'bad'$'\\xFF'''"},
};

TEST(ShellQuote, SingleQuotesAndWhatIsNoCharacterShownSo) {
    for (const Case& c : CASES) EXPECT_EQ(Quote(c.text), c.quoted) << c.text;
}

#endif

TEST(ShellQuote, WhatDoesNotFitIsEmptyNeverCut) {
    char small[8];
    EXPECT_FALSE(platform::QuoteForShell("a long folder name", small));
    EXPECT_STREQ(small, "");
}

}  // namespace
