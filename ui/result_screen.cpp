#include "result_screen.h"

#include "controls.h"
#include "result_text.h"
#include "ui_globals.h"

INT_PTR BuildResultScreen(HWND hwnd, const PatchJob& job) {
    if (g_hResultFont == nullptr) g_hResultFont = CreateWindowFont(-15);
    const WPARAM font = reinterpret_cast<WPARAM>(g_hResultFont);

    g_hExitButton = CreateControl(CONTROL_BUTTON, hwnd, "", 436, 233, 107, 42, IDC_EXIT);
    if (g_hExitButton == nullptr) {
        ReportControlFailure(nullptr, CONTROL_BUTTON);
        return -1;
    }
    SendMessageA(g_hExitButton, WM_SETFONT, font, TRUE);

    char BuffTemp[256];
    FormatResultText(job, BuffTemp);
    // Six lines of the embedded font (17 pixels each at this size) fit the 120 rows whole.
    g_hResultText = CreateControl(CONTROL_STATIC, hwnd, "", 73, 60, 280, 120, IDC_RESULT);
    if (g_hResultText == nullptr) {
        ReportControlFailure(nullptr, CONTROL_STATIC);
        return -1;
    }
    SendMessageA(g_hResultText, WM_SETFONT, font, TRUE);
    SendMessageA(g_hResultText, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(BuffTemp));

    g_screenState = SCREEN_RESULT;
    InvalidateRect(hwnd, nullptr, TRUE);
    return 1;
}
