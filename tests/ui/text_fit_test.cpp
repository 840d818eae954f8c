// Every text the window shows is drawn whole: laid out as its control lays it out, in the
// font the control really uses (the embedded one), it needs no more room than the control
// has. A line that does not fit is cut off by the control, and with it a word of a label or
// the result of one feature.

#include <windows.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "ui_globals.h"
#include "ui_harness.h"

namespace {

// The game executables the engine looks for; a result text names one of them.
const char* const GAME_NAMES[] = {"Vlmr2.exe", "v2plus.exe", "vlmr3.exe",
                                  "vm3plus.exe", "vlmr4.exe", "PCVlmr5.exe"};

// Every text the result box can show. "%s" stands for the name of the game's executable:
// such a text is tried with each of the six names.
const char* const RESULT_TEXTS[] = {
    "No Velmora 2345 files\r\nMaybe file is busy",
    "No Velmora 2345 files\r\nMaybe file is busy\r\nvlmr3.exe: access denied\r\n"
    "vm3plus.exe: cannot be opened\r\nPCVlmr5.exe: read-only\r\nRun this tool as administrator.",
    "No Velmora 2345 files\r\nMaybe file is busy\r\nv2plus.exe: in use\r\n"
    "vm3plus.exe: cannot be opened\r\nPCVlmr5.exe: access denied\r\nClose the game, then try again.",
    "Done %s!\r\n\r\nWidescreen correction OK\r\nCamera dist correction OK\r\n"
    "FOV correction OK\r\n60 FPS Unlock OK",
    "Done %s!\r\n\r\nWidescreen correction not used\r\nCamera dist correction not used\r\n"
    "FOV correction not used\r\nUnlock 60 FPS not used",
    "Nothing was changed!\r\n\r\nThe size of %s\r\ncould not be read.",
    "Nothing was changed!\r\n\r\n%s is 4 GiB\r\nor larger.",
    "Nothing was changed!\r\n\r\nNot enough memory\r\nto read %s.",
    "Nothing was changed!\r\n\r\n%s could not\r\nbe read whole.",
    "Nothing was changed!\r\n\r\nThe backup %s.bak\r\ncould not be written.",
    "Nothing was changed!\r\n\r\n%s could not be\r\nopened again: access denied\r\nRun this tool as administrator.",
    "Nothing was changed!\r\n\r\n%s could not be\r\nopened again: cannot be opened",
    "Nothing was changed!\r\n\r\n%s could not be\r\nopened again: in use\r\nClose the game, then try again.",
    "Nothing was changed!\r\n\r\nThe original copy\r\n%s.orig\r\ncould not be written.",
    "Writing %s failed!\r\n\r\n%s.bak holds\r\nthe previous contents:\r\n"
    "copy it back to restore\r\nthe game.",
};

// The result box holds six lines; a text of more would need a taller box.
const int RESULT_LINES_MAX = 6;

std::string WithName(const char* text, const char* name) {
    std::string out;
    for (const char* c = text; *c != '\0'; ++c) {
        if (c[0] == '%' && c[1] == 's') {
            out += name;
            ++c;
        } else {
            out += *c;
        }
    }
    return out;
}

int LineCount(const std::string& text) {
    int lines = 1;
    for (size_t at = text.find("\r\n"); at != std::string::npos; at = text.find("\r\n", at + 2))
        ++lines;
    return lines;
}

// Where a control draws its text: a static control the whole client area, an edit box its
// formatting rectangle (the client area less the margins that the font gives it).
RECT TextAreaOf(HWND control) {
    RECT area;
    GetClientRect(control, &area);
    if (ClassOf(control) == "Edit") SendMessageA(control, EM_GETRECT, 0, reinterpret_cast<LPARAM>(&area));
    return area;
}

struct Layout {
    int width, height;  // of the text as laid out
    int lineHeight;     // of the font
};

// Lays `text` out as a static control with SS_LEFT does, in the control's own font and at the
// width of its text area.
Layout Measure(HWND control, const std::string& text) {
    const RECT area = TextAreaOf(control);
    HDC dc = GetDC(control);
    HGDIOBJ previous = SelectObject(dc, reinterpret_cast<HFONT>(SendMessageA(control, WM_GETFONT, 0, 0)));
    TEXTMETRICA metrics = {};
    GetTextMetricsA(dc, &metrics);
    RECT needed = {0, 0, area.right - area.left, 0};
    DrawTextA(dc, text.c_str(), -1, &needed, DT_CALCRECT | DT_WORDBREAK | DT_EXPANDTABS | DT_NOPREFIX);
    SelectObject(dc, previous);
    ReleaseDC(control, dc);
    return {needed.right - needed.left, needed.bottom - needed.top, metrics.tmHeight};
}

// The text fits the control's text area; otherwise says by how many pixels it does not.
void ExpectFits(HWND control, const std::string& text, const char* what) {
    const RECT area = TextAreaOf(control);
    const int width = area.right - area.left, height = area.bottom - area.top;
    const Layout layout = Measure(control, text);
    EXPECT_LE(layout.height, height)
        << what << " \"" << text << "\": " << layout.height / layout.lineHeight << " lines of "
        << layout.lineHeight << " px, " << layout.height - height << " px too tall for " << width
        << " x " << height;
    EXPECT_LE(layout.width, width) << what << " \"" << text << "\": a word is "
                                   << layout.width - width << " px too wide for " << width;
}

using TextFit = MainWindowTest;

TEST_F(TextFit, EveryTextOfTheInputScreenIsWhole) {
    struct Control {
        HWND handle;
        const char* what;
    };
    const Control controls[] = {
        {g_hLabelCamera, "camera label"},       {g_hLabelFov, "field-of-view label"},
        {g_hLabelWidescreen, "widescreen label"}, {g_hLabelDisplay, "display label"},
        {g_hLabelFps, "60 FPS label"},          {g_hTitle, "title strip"},
        {g_hEditCamera, "camera field"},        {g_hEditFov, "field-of-view field"},
        {g_hEditDisplayWidth, "display width field"}, {g_hEditDisplayHeight, "display height field"},
    };
    for (const Control& c : controls) {
        ASSERT_NE(c.handle, nullptr) << c.what;
        const std::string text = TextOf(c.handle);
        EXPECT_FALSE(text.empty()) << c.what;
        ExpectFits(c.handle, text, c.what);
    }
}

TEST_F(TextFit, EveryResultTextIsWholeInTheResultBox) {
    // Apply in an empty folder: the result screen with the box, its size and its font.
    char temp[MAX_PATH], folder[MAX_PATH], previous[MAX_PATH];
    GetTempPathA(MAX_PATH, temp);
    GetCurrentDirectoryA(MAX_PATH, previous);
    std::snprintf(folder, sizeof folder, "%svelmora-fit-%lu", temp, GetCurrentProcessId());
    ASSERT_TRUE(CreateDirectoryA(folder, nullptr));
    ASSERT_TRUE(SetCurrentDirectoryA(folder));
    const POINT apply = CentreOf(g_hApplyButton);
    ClickAt(window_, apply.x, apply.y);
    SetCurrentDirectoryA(previous);
    RemoveDirectoryA(folder);
    ASSERT_EQ(g_screenState, SCREEN_RESULT);
    ASSERT_NE(g_hResultText, nullptr);

    const RECT box = RectInParent(g_hResultText);
    EXPECT_EQ(box.right - box.left, 280);
    EXPECT_EQ(box.bottom - box.top, 120);
    const Layout oneLine = Measure(g_hResultText, "Done");
    EXPECT_LE(RESULT_LINES_MAX * oneLine.lineHeight, 120)
        << "six lines of " << oneLine.lineHeight << " px";

    for (const char* text : RESULT_TEXTS) {
        EXPECT_LE(LineCount(text), RESULT_LINES_MAX) << text;
        for (const char* name : GAME_NAMES) {
            ExpectFits(g_hResultText, WithName(text, name), "result text");
            if (std::string(text).find("%s") == std::string::npos) break;
        }
    }
}

}  // namespace
