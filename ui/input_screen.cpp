#include "input_screen.h"

#include "controls.h"
#include "resource_ids.h"
#include "subclass.h"
#include "system_calls.h"
#include "ui_globals.h"

HANDLE g_hEmbeddedFont = nullptr;

namespace {

enum FontKind { FONT_NONE, FONT_TEXT, FONT_TITLE };

struct ControlRow {
    ControlKind kind;
    const char* windowText;
    int x, y, width, height;
    int id;
    HWND* handle;
    WNDPROC subclass;
    FontKind font;
    const char* label;   // set after the font, so the label is laid out in it
    bool ownedMessage;   // whether a failure message is owned by the main window
};

// In creation order. The toggle boxes and the close button draw themselves and take no
// font; the default values of the input fields are given once, here.
const ControlRow INPUT_CONTROLS[] = {
    {CONTROL_STATIC, "", 18, 35, 25, 25, IDC_TOGGLE_CAMERA, &g_hToggleCamera, ToggleBoxProc,
     FONT_NONE, nullptr, true},
    {CONTROL_STATIC, "", 18, 132, 25, 25, IDC_TOGGLE_FOV, &g_hToggleFov, ToggleBoxProc,
     FONT_NONE, nullptr, false},
    {CONTROL_STATIC, "", 310, 35, 25, 25, IDC_TOGGLE_WIDESCREEN, &g_hToggleWidescreen,
     ToggleBoxProc, FONT_NONE, nullptr, false},
    {CONTROL_STATIC, "", 18, 250, 25, 25, IDC_TOGGLE_FPS, &g_hToggleFps, ToggleBoxProc,
     FONT_NONE, nullptr, false},
    {CONTROL_STATIC, "", 68, 35, 220, 40, IDC_LABEL_CAMERA, &g_hLabelCamera, nullptr, FONT_TEXT,
     "Camera distance from Siona; default game value is 1536", false},
    {CONTROL_STATIC, "", 68, 132, 220, 60, IDC_LABEL_FOV, &g_hLabelFov, nullptr, FONT_TEXT,
     "Field Of View (FOV); enter screen resolution WIDTH used in game setup", false},
    {CONTROL_STATIC, "", 360, 35, 180, 53, IDC_LABEL_WIDESCREEN, &g_hLabelWidescreen, nullptr,
     FONT_TEXT, "Widescreen aspect\r\nratio default game value is 4:3", false},
    {CONTROL_STATIC, "", 367, 92, 125, 70, IDC_LABEL_DISPLAY, &g_hLabelDisplay, nullptr,
     FONT_TEXT, "Display width\r\n\r\nDisplay height", false},
    {CONTROL_STATIC, "", 68, 250, 130, 45, IDC_LABEL_FPS, &g_hLabelFps, nullptr, FONT_TEXT,
     "Unlock 60 FPS\r\nVL23 Only", false},
    {CONTROL_EDIT, "1536", 75, 78, 65, 32, IDC_EDIT_CAMERA, &g_hEditCamera, EditBoxProc,
     FONT_TEXT, nullptr, false},
    {CONTROL_EDIT, "undef", 75, 195, 65, 32, IDC_EDIT_FOV, &g_hEditFov, EditBoxProc, FONT_TEXT,
     nullptr, false},
    {CONTROL_EDIT, "16", 495, 83, 45, 32, IDC_EDIT_DISPLAY_WIDTH, &g_hEditDisplayWidth,
     EditBoxProc, FONT_TEXT, nullptr, false},
    {CONTROL_EDIT, "9", 495, 122, 45, 32, IDC_EDIT_DISPLAY_HEIGHT, &g_hEditDisplayHeight,
     EditBoxProc, FONT_TEXT, nullptr, false},
    {CONTROL_BUTTON, "", 436, 233, 107, 42, IDC_APPLY, &g_hApplyButton, AccessibleControlProc,
     FONT_TEXT, nullptr, false},
    {CONTROL_STATIC, "", 13, 4, 250, 17, IDC_TITLE, &g_hTitle, TitleStripProc, FONT_TITLE,
     "Widescreen Velmora 2345 v1.7.8", false},
    {CONTROL_BUTTON, "", 546, 3, 16, 16, IDC_CLOSE, &g_hCloseButton, AccessibleControlProc,
     FONT_NONE, nullptr, true},
};

// A missing font resource is not an error: the font mapper then picks a look-alike.
void RegisterEmbeddedFont(HWND hwnd) {
    HRSRC found = g_pfnFindResourceA(g_hInstance, MAKEINTRESOURCEA(IDR_FONT), IDR_FONT_TYPE);
    if (found == nullptr) return;
    void* bytes = LockResource(LoadResource(g_hInstance, found));
    const DWORD size = SizeofResource(g_hInstance, found);
    DWORD fontCount = 0;
    g_hEmbeddedFont = AddFontMemResourceEx(bytes, size, nullptr, &fontCount);
    if (g_hEmbeddedFont == nullptr) g_pfnMessageBoxA(hwnd, "Font add fails", "Error", MB_OK);
}

// The fonts are made when the first control that needs them is, and then kept.
HFONT FontFor(FontKind kind) {
    if (kind == FONT_TEXT) {
        if (g_hTextFont == nullptr) g_hTextFont = CreateWindowFont(-15);
        return g_hTextFont;
    }
    if (g_hTitleFont == nullptr) g_hTitleFont = CreateWindowFont(-13);
    return g_hTitleFont;
}

}  // namespace

INT_PTR BuildInputScreen(HWND hwnd) {
    RegisterEmbeddedFont(hwnd);
    for (const ControlRow& row : INPUT_CONTROLS) {
        HWND control = CreateControl(row.kind, hwnd, row.windowText, row.x, row.y, row.width,
                                     row.height, row.id);
        *row.handle = control;
        if (control == nullptr) {
            ReportControlFailure(row.ownedMessage ? hwnd : nullptr, row.kind);
            return -1;
        }
        if (row.subclass != nullptr) InstallSubclass(control, row.subclass);
        if (row.font != FONT_NONE) {
            SendMessageA(control, WM_SETFONT, reinterpret_cast<WPARAM>(FontFor(row.font)), TRUE);
        }
        if (row.label != nullptr) {
            SendMessageA(control, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(row.label));
        }
    }
    return 1;
}
