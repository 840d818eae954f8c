// The input screen as it is built: each control's kind, place, look and text, the fonts,
// and what happens when the font or a control cannot be had.

#include <windows.h>

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "input_screen.h"
#include "subclass.h"
#include "ui_globals.h"
#include "ui_harness.h"

namespace {

const DWORD STATIC_STYLE = 0x50010100;  // child, visible, tab stop, notify, left
const DWORD EDIT_STYLE = 0x50810000;    // child, visible, border, tab stop
const DWORD BUTTON_STYLE = 0x5001000B;  // child, visible, tab stop, owner-drawn

struct ExpectedControl {
    HWND* handle;
    const char* className;
    int x, y, width, height;
    int id;
    DWORD style;
    DWORD exStyle;
    const char* text;
    int fontHeight;  // 0: the control has no font of its own
    WNDPROC subclass;
    bool messageOwned;  // a failure message for this control is owned by the main window
};

const ExpectedControl INPUT_CONTROLS[] = {
    {&g_hToggleCamera, "Static", 18, 35, 25, 25, 101, STATIC_STYLE, 0, "", 0, ToggleBoxProc, true},
    {&g_hToggleFov, "Static", 18, 132, 25, 25, 102, STATIC_STYLE, 0, "", 0, ToggleBoxProc, false},
    {&g_hToggleWidescreen, "Static", 310, 35, 25, 25, 103, STATIC_STYLE, 0, "", 0, ToggleBoxProc,
     false},
    {&g_hToggleFps, "Static", 18, 250, 25, 25, 104, STATIC_STYLE, 0, "", 0, ToggleBoxProc, false},
    {&g_hLabelCamera, "Static", 68, 35, 220, 40, 108, STATIC_STYLE, 0,
     "Camera distance from Siona; default game value is 1536", -15, nullptr, false},
    {&g_hLabelFov, "Static", 68, 132, 220, 60, 109, STATIC_STYLE, 0,
     "Field Of View (FOV); enter screen resolution WIDTH used in game setup", -15, nullptr, false},
    {&g_hLabelWidescreen, "Static", 360, 35, 180, 53, 110, STATIC_STYLE, 0,
     "Widescreen aspect\r\nratio default game value is 4:3", -15, nullptr, false},
    {&g_hLabelDisplay, "Static", 367, 92, 125, 70, 111, STATIC_STYLE, 0,
     "Display width\r\n\r\nDisplay height", -15, nullptr, false},
    {&g_hLabelFps, "Static", 68, 250, 130, 45, 117, STATIC_STYLE, 0, "Unlock 60 FPS\r\nVL23 Only",
     -15, nullptr, false},
    {&g_hEditCamera, "Edit", 75, 78, 65, 32, 104, EDIT_STYLE, WS_EX_CLIENTEDGE, "1536", -15,
     EditBoxProc, false},
    {&g_hEditFov, "Edit", 75, 195, 65, 32, 105, EDIT_STYLE, WS_EX_CLIENTEDGE, "undef", -15,
     EditBoxProc, false},
    {&g_hEditDisplayWidth, "Edit", 495, 83, 45, 32, 106, EDIT_STYLE, WS_EX_CLIENTEDGE, "16", -15,
     EditBoxProc, false},
    {&g_hEditDisplayHeight, "Edit", 495, 122, 45, 32, 107, EDIT_STYLE, WS_EX_CLIENTEDGE, "9", -15,
     EditBoxProc, false},
    {&g_hApplyButton, "Button", 436, 233, 107, 42, 112, BUTTON_STYLE, 0, "", -15,
     AccessibleControlProc, false},
    {&g_hTitle, "Static", 13, 4, 250, 17, 110, STATIC_STYLE, 0, "Widescreen Velmora 2345 v1.7.8",
     -13, TitleStripProc, false},
    {&g_hCloseButton, "Button", 546, 3, 16, 16, 115, BUTTON_STYLE, 0, "", 0, AccessibleControlProc,
     true},
};
const int CONTROL_COUNT = 16;

std::string Describe(const ExpectedControl& want) {
    return std::string(want.className) + " " + std::to_string(want.id) + " \"" + want.text + "\"";
}

using InputScreen = MainWindowTest;

TEST_F(InputScreen, HasTheSixteenControlsInOrderAsLaidOut) {
    const std::vector<HWND> children = ChildrenOf(window_);
    ASSERT_EQ(children.size(), static_cast<size_t>(CONTROL_COUNT));
    for (int i = 0; i < CONTROL_COUNT; ++i) {
        const ExpectedControl& want = INPUT_CONTROLS[i];
        SCOPED_TRACE(Describe(want));
        HWND control = *want.handle;
        EXPECT_EQ(children[i], control) << "creation order";
        EXPECT_EQ(ClassOf(control), want.className);
        const RECT rect = RectInParent(control);
        EXPECT_EQ(rect.left, want.x);
        EXPECT_EQ(rect.top, want.y);
        EXPECT_EQ(rect.right - rect.left, want.width);
        EXPECT_EQ(rect.bottom - rect.top, want.height);
        EXPECT_EQ(GetDlgCtrlID(control), want.id);
        EXPECT_EQ(static_cast<DWORD>(GetWindowLongPtrA(control, GWL_STYLE)), want.style);
        EXPECT_EQ(static_cast<DWORD>(GetWindowLongPtrA(control, GWL_EXSTYLE)), want.exStyle);
        EXPECT_EQ(TextOf(control), want.text);

        HFONT font = reinterpret_cast<HFONT>(SendMessageA(control, WM_GETFONT, 0, 0));
        if (want.fontHeight == 0) {
            EXPECT_EQ(font, nullptr);
        } else {
            LOGFONTA logFont = {};
            ASSERT_EQ(GetObjectA(font, sizeof logFont, &logFont), static_cast<int>(sizeof logFont));
            EXPECT_STREQ(logFont.lfFaceName, "Exo 2 Light");
            EXPECT_EQ(logFont.lfHeight, want.fontHeight);
            EXPECT_EQ(logFont.lfWeight, FW_BOLD);
            EXPECT_EQ(logFont.lfCharSet, ANSI_CHARSET);
        }

        // A subclassed control runs our procedure and keeps the stock one in its slot.
        const LONG_PTR stock = static_cast<LONG_PTR>(GetClassLongPtrA(control, GCLP_WNDPROC));
        if (want.subclass != nullptr) {
            EXPECT_EQ(GetWindowLongPtrA(control, GWLP_WNDPROC),
                      reinterpret_cast<LONG_PTR>(want.subclass));
            EXPECT_EQ(GetWindowLongPtrA(control, GWLP_USERDATA), stock);
        } else {
            EXPECT_EQ(GetWindowLongPtrA(control, GWLP_WNDPROC), stock);
            EXPECT_EQ(GetWindowLongPtrA(control, GWLP_USERDATA), 0);
        }
    }
    EXPECT_TRUE(g_shownMessages.empty());
}

// The face asked for is the one drawn with: the font resource was registered, since no
// font of that name is installed on the system.
TEST_F(InputScreen, DrawsItsTextsInTheEmbeddedFont) {
    EXPECT_NE(g_hEmbeddedFont, nullptr);
    for (HWND control : {g_hLabelCamera, g_hEditFov, g_hApplyButton, g_hTitle}) {
        HFONT font = reinterpret_cast<HFONT>(SendMessageA(control, WM_GETFONT, 0, 0));
        HDC hdc = GetDC(control);
        HGDIOBJ old = SelectObject(hdc, font);
        char face[LF_FACESIZE] = {};
        GetTextFaceA(hdc, LF_FACESIZE, face);
        SelectObject(hdc, old);
        ReleaseDC(control, hdc);
        EXPECT_STREQ(face, "Exo 2 Light") << ClassOf(control);
    }
}

class InputScreenFailure : public MainWindowTest {
protected:
    bool OpensWindowInSetUp() const override { return false; }
};

TEST_F(InputScreenFailure, MissingFontResourceIsPassedOverSilently) {
    MissFontResource();
    OpenWindow();
    EXPECT_TRUE(g_shownMessages.empty());
    EXPECT_EQ(g_hEmbeddedFont, nullptr);
    EXPECT_EQ(ChildrenOf(window_).size(), static_cast<size_t>(CONTROL_COUNT));
}

// A resource that is there but is no font: registration fails, the user is told once, and
// the screen is built all the same.
TEST_F(InputScreenFailure, FontThatCannotBeRegisteredIsReportedAndTheScreenBuilt) {
    FindOtherResourceAsFont(MAKEINTRESOURCEA(1), MAKEINTRESOURCEA(24));  // the manifest
    OpenWindow();
    ASSERT_EQ(g_shownMessages.size(), 1u);
    EXPECT_EQ(g_shownMessages[0].owner, window_);
    EXPECT_EQ(g_shownMessages[0].text, L"Font add fails");
    EXPECT_EQ(g_shownMessages[0].caption, L"Error");
    EXPECT_EQ(g_shownMessages[0].type, static_cast<UINT>(MB_OK));
    EXPECT_EQ(ChildrenOf(window_).size(), static_cast<size_t>(CONTROL_COUNT));
}

class ControlCreationFailure : public InputScreenFailure,
                               public ::testing::WithParamInterface<int> {};

// Whichever control is refused, the user reads the class's message in Russian, the build
// stops there (WM_INITDIALOG answers -1), and the window shows what was made before.
TEST_P(ControlCreationFailure, ReportsTheClassStopsAndKeepsTheControlsBefore) {
    const int failing = GetParam();
    const ExpectedControl& want = INPUT_CONTROLS[failing];
    SCOPED_TRACE(Describe(want));
    int occurrence = 1;  // 104 and 110 are each used twice
    for (int i = 0; i < failing; ++i) {
        occurrence += INPUT_CONTROLS[i].id == want.id &&
                      std::strcmp(INPUT_CONTROLS[i].className, want.className) == 0;
    }
    FailControlCreation(want.className, want.id, occurrence);
    MessageSpy spy;
    OpenWindow();

    ASSERT_EQ(g_shownMessages.size(), 1u);
    const ShownMessage& shown = g_shownMessages[0];
    const std::wstring expected =
        std::strcmp(want.className, "Static") == 0 ? L"Static создать не удалось"
        : std::strcmp(want.className, "Edit") == 0 ? L"Edit создать не удалось"
                                                   : L"Button создать не удалось";
    EXPECT_EQ(shown.text, expected);
    EXPECT_EQ(shown.caption, L"Info");
    EXPECT_EQ(shown.type, static_cast<UINT>(MB_OK));
    EXPECT_EQ(shown.owner, want.messageOwned ? window_ : nullptr);

    int initResults = 0;
    for (const SeenMessage& seen : spy.Sent()) {
        if (seen.window == window_ && seen.message == WM_INITDIALOG) {
            ++initResults;
            EXPECT_EQ(seen.result, -1);
        }
    }
    EXPECT_EQ(initResults, 1);

    const std::vector<HWND> children = ChildrenOf(window_);
    ASSERT_EQ(children.size(), static_cast<size_t>(failing));
    for (int i = 0; i < CONTROL_COUNT; ++i) {
        if (i < failing) {
            EXPECT_EQ(children[i], *INPUT_CONTROLS[i].handle);
        } else {
            EXPECT_EQ(*INPUT_CONTROLS[i].handle, nullptr) << Describe(INPUT_CONTROLS[i]);
        }
    }
    // The window still comes up, placed and shown.
    RECT rect;
    GetWindowRect(window_, &rect);
    EXPECT_EQ(rect.left, 227);
    EXPECT_EQ(rect.right - rect.left, 570);
    EXPECT_TRUE(IsWindowVisible(window_));
}

INSTANTIATE_TEST_SUITE_P(EachControl, ControlCreationFailure, ::testing::Range(0, CONTROL_COUNT),
                         [](const ::testing::TestParamInfo<int>& info) {
                             const ExpectedControl& want = INPUT_CONTROLS[info.param];
                             return "Row" + std::to_string(info.param + 1) + want.className +
                                    std::to_string(want.id);
                         });

}  // namespace
