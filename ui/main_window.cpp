#include "main_window.h"

#include "main_dialog.h"
#include "patch_job.h"
#include "resource_ids.h"
#include "system_dlls.h"
#include "ui_globals.h"

POINT MainWindowOrigin(int screenWidth, int screenHeight) {
    // Truncating division: on a screen smaller than the window the window reaches past
    // both edges evenly.
    POINT origin;
    origin.x = (screenWidth - MAIN_WINDOW_WIDTH) / 2;
    origin.y = (screenHeight - MAIN_WINDOW_HEIGHT) / 2 + 1;
    return origin;
}

HWND CreateMainWindow(HINSTANCE instance, int showCommand) {
    // Set first: the input screen is built inside CreateDialogParamA and needs it.
    g_hInstance = instance;
    g_hMainWindow = CreateDialogParamA(g_hInstance, MAKEINTRESOURCEA(IDD_MAIN), nullptr,
                                       MainDialogProc, 0);
    if (g_hMainWindow == nullptr) return nullptr;

    const LONG_PTR style = GetWindowLongPtrA(g_hMainWindow, GWL_STYLE);
    SetWindowLongPtrA(g_hMainWindow, GWL_STYLE, style & ~(WS_CAPTION | WS_SYSMENU));
    const POINT origin =
        MainWindowOrigin(GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN));
    MoveWindow(g_hMainWindow, origin.x, origin.y, MAIN_WINDOW_WIDTH, MAIN_WINDOW_HEIGHT, TRUE);
    ShowWindow(g_hMainWindow, showCommand);
    InvalidateRect(g_hMainWindow, nullptr, TRUE);
    UpdateWindow(g_hMainWindow);
    // Loads the common controls library. Every control here is a classic one, so nothing on
    // the screen changes. comctl32 is no Known DLL: imported, it would be searched for in the
    // program's folder first, so it comes by its full path in the system folder, and stays.
    const HMODULE commonControls = LoadSystemDll("comctl32.dll");
    if (commonControls != nullptr) {
        const auto initCommonControls = reinterpret_cast<void(WINAPI*)()>(
            reinterpret_cast<void*>(GetProcAddress(commonControls, "InitCommonControls")));
        if (initCommonControls != nullptr) initCommonControls();
    }
    return g_hMainWindow;
}

int RunMessageLoop() {
    // No dialog-message filtering: Tab and Enter reach the focused control as keys.
    MSG msg = {};
    while (GetMessageA(&msg, nullptr, 0, 0)) {
        TranslateMessage(&msg);
        DispatchMessageA(&msg);
    }
    delete g_pPatchJob;
    g_pPatchJob = nullptr;
    return static_cast<int>(msg.wParam);
}
