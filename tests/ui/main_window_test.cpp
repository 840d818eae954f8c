// The main window as a whole: where it stands, what it is, and how the run ends.

#include <windows.h>

#include <gtest/gtest.h>

#include <string>

#include "main_window.h"
#include "ui_globals.h"
#include "ui_harness.h"

namespace {

struct OriginCase {
    int screenWidth, screenHeight;
    int x, y;
};

class MainWindowOriginTest : public ::testing::TestWithParam<OriginCase> {};

// Truncation toward zero matters on odd and on too small screens alike.
TEST_P(MainWindowOriginTest, IsCentredWithTruncatingDivisionAndOnePixelLow) {
    const OriginCase& c = GetParam();
    const POINT origin = MainWindowOrigin(c.screenWidth, c.screenHeight);
    EXPECT_EQ(origin.x, c.x);
    EXPECT_EQ(origin.y, c.y);
}

INSTANTIATE_TEST_SUITE_P(Screens, MainWindowOriginTest,
                         ::testing::Values(OriginCase{1024, 768, 227, 232},
                                           OriginCase{1920, 1080, 675, 388},
                                           OriginCase{1366, 768, 398, 232},
                                           OriginCase{570, 305, 0, 1},
                                           OriginCase{569, 304, 0, 1},
                                           OriginCase{565, 300, -2, -1}),
                         [](const ::testing::TestParamInfo<OriginCase>& info) {
                             return std::to_string(info.param.screenWidth) + "x" +
                                    std::to_string(info.param.screenHeight);
                         });

using MainWindow = MainWindowTest;

TEST_F(MainWindow, IsABorderlessPopupOnePixelBelowTheScreenCentre) {
    ASSERT_EQ(GetSystemMetrics(SM_CXSCREEN), SCREEN_WIDTH) << "the tests' virtual screen";
    ASSERT_EQ(GetSystemMetrics(SM_CYSCREEN), SCREEN_HEIGHT) << "the tests' virtual screen";
    RECT rect;
    GetWindowRect(window_, &rect);
    EXPECT_EQ(rect.left, 227);
    EXPECT_EQ(rect.top, 232);
    EXPECT_EQ(rect.right, 227 + 570);
    EXPECT_EQ(rect.bottom, 232 + 305);

    // No frame: the client area is the whole window.
    RECT client;
    GetClientRect(window_, &client);
    EXPECT_EQ(client.right, 570);
    EXPECT_EQ(client.bottom, 305);

    const LONG_PTR style = GetWindowLongPtrA(window_, GWL_STYLE);
    EXPECT_TRUE(style & WS_POPUP);
    EXPECT_TRUE(style & WS_VISIBLE);
    EXPECT_FALSE(style & (WS_CAPTION | WS_SYSMENU | WS_THICKFRAME));
    EXPECT_TRUE(GetWindowLongPtrA(window_, GWL_EXSTYLE) & WS_EX_APPWINDOW);
    EXPECT_EQ(TextOf(window_), "");
    EXPECT_EQ(g_hMainWindow, window_);
    EXPECT_TRUE(g_shownMessages.empty());
}

// Ends the message loop of a test that went wrong instead of hanging it.
void CALLBACK GiveUp(HWND, UINT, UINT_PTR, DWORD) { PostQuitMessage(99); }

int RunLoopWithDeadline() {
    const UINT_PTR deadline = SetTimer(nullptr, 0, 10000, GiveUp);
    const int code = RunMessageLoop();
    KillTimer(nullptr, deadline);
    return code;
}

TEST_F(MainWindow, CloseMessageEndsTheRunWithCodeZero) {
    PostMessageA(window_, WM_CLOSE, 0, 0);
    EXPECT_EQ(RunLoopWithDeadline(), 0);
    EXPECT_FALSE(IsWindow(window_));
    EXPECT_EQ(g_pPatchJob, nullptr);
}

TEST_F(MainWindow, CloseButtonEndsTheRunWithCodeZero) {
    const POINT close = CentreOf(g_hCloseButton);
    POINT at = close;
    ClientToScreen(window_, &at);
    // Queued before the loop runs: the loop itself serves the click.
    MoveMouseTo(at.x, at.y);
    LeftButton(true);
    LeftButton(false);
    EXPECT_EQ(RunLoopWithDeadline(), 0);
    EXPECT_FALSE(IsWindow(window_));
}

struct KeyboardOutcome {
    HWND focus = nullptr;
    std::string text;
    int screenState = -1;
    bool jobMade = true;
};
KeyboardOutcome g_keyboardOutcome;

void CALLBACK LookAndClose(HWND, UINT, UINT_PTR timer, DWORD) {
    KillTimer(nullptr, timer);
    g_keyboardOutcome.focus = GetFocus();
    g_keyboardOutcome.text = TextOf(g_hEditCamera);
    g_keyboardOutcome.screenState = g_screenState;
    g_keyboardOutcome.jobMade = g_pPatchJob != nullptr;
    DestroyWindow(g_hMainWindow);
}

// The loop does no dialog-message handling: Tab stays in the field that has the focus and
// Enter does not press Apply. Timer messages come after input, so the look is taken once
// the keys have been served by the loop itself.
TEST_F(MainWindow, LoopLeavesTabAndEnterToTheFocusedField) {
    const POINT edit = CentreOf(g_hEditCamera);
    ClickAt(window_, edit.x, edit.y);
    ASSERT_EQ(GetFocus(), g_hEditCamera);
    INPUT keys[6] = {};
    const WORD sequence[3] = {VK_TAB, VK_RETURN, '7'};
    for (int i = 0; i < 3; ++i) {
        keys[2 * i].type = keys[2 * i + 1].type = INPUT_KEYBOARD;
        keys[2 * i].ki.wVk = keys[2 * i + 1].ki.wVk = sequence[i];
        keys[2 * i + 1].ki.dwFlags = KEYEVENTF_KEYUP;
    }
    SendInput(6, keys, sizeof keys[0]);
    SetTimer(nullptr, 0, 300, LookAndClose);
    EXPECT_EQ(RunLoopWithDeadline(), 0);
    EXPECT_EQ(g_keyboardOutcome.focus, g_hEditCamera);
    EXPECT_NE(g_keyboardOutcome.text.find('7'), std::string::npos) << g_keyboardOutcome.text;
    EXPECT_EQ(g_keyboardOutcome.screenState, SCREEN_INPUT);
    EXPECT_FALSE(g_keyboardOutcome.jobMade);
}

class MainWindowWithoutTemplate : public MainWindowTest {
protected:
    bool OpensWindowInSetUp() const override { return false; }
};

// A module without the dialog template: no window, no message, nothing to serve.
TEST_F(MainWindowWithoutTemplate, GivesNoWindowAndNoMessage) {
    EXPECT_EQ(CreateMainWindow(GetModuleHandleA("ntdll.dll"), SW_SHOWNORMAL), nullptr);
    EXPECT_EQ(g_hMainWindow, nullptr);
    EXPECT_EQ(g_hToggleCamera, nullptr);
    EXPECT_TRUE(g_shownMessages.empty());
}

}  // namespace
