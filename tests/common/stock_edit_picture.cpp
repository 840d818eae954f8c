#include "stock_edit_picture.h"

namespace {

HBRUSH g_background = nullptr;
COLORREF g_backgroundColour = CLR_INVALID;

// Gives its edit control the colours the program's window gives its boxes.
LRESULT CALLBACK HolderProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_CTLCOLOREDIT) {
        HDC hdc = reinterpret_cast<HDC>(wParam);
        SetTextColor(hdc, RGB(0, 0, 0));
        SetBkMode(hdc, TRANSPARENT);
        return reinterpret_cast<LRESULT>(g_background);
    }
    return DefWindowProcA(hwnd, message, wParam, lParam);
}

const char* HolderClass() {
    static const char* const name = [] {
        WNDCLASSA windowClass = {};
        windowClass.lpfnWndProc = HolderProc;
        windowClass.hInstance = GetModuleHandleA(nullptr);
        windowClass.lpszClassName = "VelmoraTestEditHolder";
        windowClass.hCursor = LoadCursor(nullptr, IDC_ARROW);
        RegisterClassA(&windowClass);
        return windowClass.lpszClassName;
    }();
    return name;
}

void Pump() {
    MSG msg;
    while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
        TranslateMessage(&msg);
        DispatchMessageA(&msg);
    }
}

}  // namespace

std::vector<COLORREF> StockEditPicture(const EditShape& shape, const char* text,
                                       COLORREF background) {
    if (g_backgroundColour != background) {
        if (g_background != nullptr) DeleteObject(g_background);
        g_background = CreateSolidBrush(background);
        g_backgroundColour = background;
    }
    // Shown without taking the focus or activation from the window under test.
    HWND holder = CreateWindowExA(WS_EX_TOOLWINDOW | WS_EX_NOACTIVATE, HolderClass(), "",
                                  WS_POPUP, 0, 0, shape.width, shape.height, nullptr, nullptr,
                                  GetModuleHandleA(nullptr), nullptr);
    HWND edit = CreateWindowExA(shape.exStyle, "Edit", text,
                                (shape.style & ~WS_POPUP) | WS_CHILD | WS_VISIBLE, 0, 0,
                                shape.width, shape.height, holder, nullptr,
                                GetModuleHandleA(nullptr), nullptr);
    SendMessageA(edit, WM_SETFONT, reinterpret_cast<WPARAM>(shape.font), TRUE);
    SetWindowTextA(edit, text);
    ShowWindow(holder, SW_SHOWNOACTIVATE);
    UpdateWindow(holder);
    Pump();

    std::vector<COLORREF> pixels;
    RECT client;
    GetClientRect(edit, &client);
    HDC hdc = GetDC(edit);
    for (int y = 0; y < client.bottom; ++y)
        for (int x = 0; x < client.right; ++x) pixels.push_back(GetPixel(hdc, x, y));
    ReleaseDC(edit, hdc);
    DestroyWindow(holder);
    Pump();
    return pixels;
}

EditShape ShapeOf(HWND edit) {
    RECT rect;
    GetWindowRect(edit, &rect);
    return {static_cast<DWORD>(GetWindowLongPtrA(edit, GWL_STYLE)),
            static_cast<DWORD>(GetWindowLongPtrA(edit, GWL_EXSTYLE)), rect.right - rect.left,
            rect.bottom - rect.top, nullptr};
}

int DifferentPixels(const std::vector<COLORREF>& a, const std::vector<COLORREF>& b) {
    if (a.size() != b.size()) return -1;
    int different = 0;
    for (size_t i = 0; i < a.size(); ++i) different += a[i] != b[i];
    return different;
}
