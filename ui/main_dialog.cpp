#include "main_dialog.h"

#include "input_screen.h"
#include "painting.h"
#include "palette.h"
#include "apply_action.h"
#include "subclass.h"
#include "ui_globals.h"

namespace {

INT_PTR OnCommand(HWND hwnd, WPARAM wParam) {
    switch (LOWORD(wParam)) {
    case IDC_APPLY:
        return RunApply(hwnd);
    case IDC_EXIT:
    case IDC_CLOSE:
        DestroyWindow(hwnd);
        return 1;
    }
    // Everything else, the 104 shared by the 60 FPS box and the camera field included.
    return 1;
}

INT_PTR OnPaint(HWND hwnd) {
    PAINTSTRUCT ps;
    HDC hdc = BeginPaint(hwnd, &ps);
    RECT client;
    GetClientRect(hwnd, &client);
    // The whole face is painted every time, whatever part needs it.
    const bool painted = PaintMainWindow(hdc, client, g_screenState);
    EndPaint(hwnd, &ps);
    return painted ? 1 : 0;
}

INT_PTR OnCtlColorEdit(HDC hdc) {
    HBRUSH brush = BackgroundBrush();
    if (brush == nullptr) return 0;
    SetTextColor(hdc, COLOR_TEXT);
    SetBkMode(hdc, TRANSPARENT);
    return reinterpret_cast<INT_PTR>(brush);
}

// Told apart by handle: the title strip shares its identifier with a label but sits on
// the title bar, not on a panel.
INT_PTR OnCtlColorStatic(HDC hdc, HWND control) {
    const bool onPanel = control == g_hLabelCamera || control == g_hLabelFov ||
                         control == g_hLabelWidescreen || control == g_hLabelDisplay ||
                         control == g_hResultText || control == g_hLabelFps;
    if (!onPanel) return OnCtlColorEdit(hdc);
    HBRUSH brush = PanelBrush();
    if (brush == nullptr) return 0;
    SetTextColor(hdc, COLOR_TEXT);
    SetBkMode(hdc, TRANSPARENT);
    return reinterpret_cast<INT_PTR>(brush);
}

INT_PTR OnDrawItem(WPARAM wParam, const DRAWITEMSTRUCT& item) {
    // Only the pressed state shows; focus is never drawn.
    const bool pressed = (item.itemState & ODS_SELECTED) != 0;
    switch (LOWORD(wParam)) {
    case IDC_APPLY:
        DrawPlateButton(item.hDC, item.rcItem, pressed, "Apply");
        break;
    case IDC_EXIT:
        DrawPlateButton(item.hDC, item.rcItem, pressed, "Exit");
        break;
    case IDC_CLOSE:
        DrawCloseButton(item.hDC, item.rcItem, pressed);
        break;
    }
    return 1;
}

INT_PTR OnLButtonDown(LPARAM lParam) {
    DragIfInTitleBand(lParam);
    return 1;
}

}  // namespace

INT_PTR CALLBACK MainDialogProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_INITDIALOG:
        return BuildInputScreen(hwnd);
    case WM_COMMAND:
        return OnCommand(hwnd, wParam);
    case WM_PAINT:
        return OnPaint(hwnd);
    case WM_CTLCOLORSTATIC:
        return OnCtlColorStatic(reinterpret_cast<HDC>(wParam), reinterpret_cast<HWND>(lParam));
    case WM_CTLCOLOREDIT:
        return OnCtlColorEdit(reinterpret_cast<HDC>(wParam));
    case WM_DRAWITEM:
        return OnDrawItem(wParam, *reinterpret_cast<const DRAWITEMSTRUCT*>(lParam));
    case WM_LBUTTONDOWN:
        return OnLButtonDown(lParam);
    case WM_CLOSE:
        DestroyWindow(hwnd);
        return 1;
    case WM_DESTROY:
        PostQuitMessage(0);
        return 1;
    }
    return 0;
}
