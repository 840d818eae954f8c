#include "subclass.h"

#include "accessibility.h"
#include "painting.h"
#include "scoped_gdi.h"
#include "ui_globals.h"

namespace {

WNDPROC PreviousProc(HWND hwnd) {
    return reinterpret_cast<WNDPROC>(GetWindowLongPtrA(hwnd, GWLP_USERDATA));
}

// The stock procedure goes back, and the slot is cleared, before the stock procedure sees
// WM_NCDESTROY, so nothing of ours runs on a window that is being torn down.
void RemoveSubclass(HWND hwnd, WNDPROC previous) {
    SetWindowLongPtrA(hwnd, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(previous));
    SetWindowLongPtrA(hwnd, GWLP_USERDATA, 0);
}

unsigned char* FeatureToggleOf(HWND box) {
    if (box == g_hToggleCamera) return &g_bFeatureToggles[RULE_CAMERA];
    if (box == g_hToggleFov) return &g_bFeatureToggles[RULE_FOV];
    if (box == g_hToggleWidescreen) return &g_bFeatureToggles[RULE_WIDESCREEN];
    if (box == g_hToggleFps) return &g_bFeatureToggles[RULE_FPS];
    return nullptr;
}

void OnToggleBoxClick(HWND box) {
    unsigned char* toggle = FeatureToggleOf(box);
    if (toggle == nullptr) return;
    *toggle = *toggle ? 0 : 1;
    RECT client;
    GetClientRect(box, &client);
    InvalidateRect(box, &client, TRUE);
    AnnounceToggleChange(box);
}

// Returns false when a brush could not be made; the paint has been ended either way.
bool OnToggleBoxPaint(HWND box) {
    PAINTSTRUCT ps;
    HDC hdc = BeginPaint(box, &ps);
    RECT client;
    GetClientRect(box, &client);
    const unsigned char* toggle = FeatureToggleOf(box);
    const bool painted = DrawToggleBox(hdc, client, toggle != nullptr && *toggle != 0);
    EndPaint(box, &ps);
    return painted;
}

// The stock sunken edge never shows: the band between the outer edge and the client area
// is painted flat in the frame colour. The client area is left out, so that a frame-only
// repaint (focus changes, activation) does not paint over the text.
void OnEditBoxNcPaint(HWND edit) {
    const ScopedWindowDC dc(edit);
    const HDC hdc = dc.get();
    RECT window;
    GetWindowRect(edit, &window);
    RECT client;
    GetClientRect(edit, &client);
    MapWindowPoints(edit, nullptr, reinterpret_cast<POINT*>(&client), 2);
    OffsetRect(&client, -window.left, -window.top);
    OffsetRect(&window, -window.left, -window.top);
    ExcludeClipRect(hdc, client.left, client.top, client.right, client.bottom);
    DrawEditFrame(hdc, window);
}

}  // namespace

bool IsToggleBoxOn(HWND box) {
    const unsigned char* toggle = FeatureToggleOf(box);
    return toggle != nullptr && *toggle != 0;
}

void InstallSubclass(HWND control, WNDPROC proc) {
    // The slot is filled first: the new procedure reads it on its very first message.
    const LONG_PTR previous = GetWindowLongPtrA(control, GWLP_WNDPROC);
    SetWindowLongPtrA(control, GWLP_USERDATA, previous);
    SetWindowLongPtrA(control, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(proc));
}

void DragIfInTitleBand(LPARAM lParam) {
    const POINT at = {static_cast<LONG>(LOWORD(lParam)), static_cast<LONG>(HIWORD(lParam))};
    const RECT band = {0, 0, MAIN_WINDOW_WIDTH, TITLE_BAND_HEIGHT};
    if (PtInRect(&band, at)) {
        SendMessageA(g_hMainWindow, WM_SYSCOMMAND, SC_MOVE | HTCAPTION, 0);
    }
}

LRESULT CALLBACK ToggleBoxProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    const WNDPROC previous = PreviousProc(hwnd);
    switch (message) {
    case WM_LBUTTONDOWN:
    case WM_LBUTTONDBLCLK:  // a quick second press is a press too
        OnToggleBoxClick(hwnd);
        break;
    case WM_PAINT:
        if (!OnToggleBoxPaint(hwnd)) return 0;
        break;
    case WM_GETOBJECT:
        if (const LRESULT answer = AnswerAccessibleObject(hwnd, wParam, lParam)) return answer;
        break;
    case WM_NCDESTROY:
        RemoveSubclass(hwnd, previous);
        break;
    }
    return CallWindowProcA(previous, hwnd, message, wParam, lParam);
}

LRESULT CALLBACK EditBoxProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    const WNDPROC previous = PreviousProc(hwnd);
    switch (message) {
    case WM_NCPAINT:
        OnEditBoxNcPaint(hwnd);
        return 0;
    case WM_GETOBJECT:
        if (const LRESULT answer = AnswerAccessibleObject(hwnd, wParam, lParam)) return answer;
        break;
    case WM_NCDESTROY:
        RemoveSubclass(hwnd, previous);
        break;
    }
    return CallWindowProcA(previous, hwnd, message, wParam, lParam);
}

LRESULT CALLBACK TitleStripProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    const WNDPROC previous = PreviousProc(hwnd);
    switch (message) {
    case WM_LBUTTONDOWN:
        // The strip lies wholly inside the band, so every press on it moves the window.
        DragIfInTitleBand(lParam);
        break;
    case WM_NCDESTROY:
        RemoveSubclass(hwnd, previous);
        break;
    }
    return CallWindowProcA(previous, hwnd, message, wParam, lParam);
}

LRESULT CALLBACK AccessibleControlProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    const WNDPROC previous = PreviousProc(hwnd);
    switch (message) {
    case WM_GETOBJECT:
        if (const LRESULT answer = AnswerAccessibleObject(hwnd, wParam, lParam)) return answer;
        break;
    case WM_NCDESTROY:
        RemoveSubclass(hwnd, previous);
        break;
    }
    return CallWindowProcA(previous, hwnd, message, wParam, lParam);
}
