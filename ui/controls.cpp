#include "controls.h"

#include <iterator>

#include "system_calls.h"
#include "ui_globals.h"

namespace {

struct ControlClass {
    const char* className;
    DWORD exStyle;
    DWORD style;
    // "<class> could not be created" in Russian, as Windows-1251 bytes.
    const char* failureText1251;
};

// SS_NOTIFY lets the toggle boxes and the title strip see mouse presses. The edit boxes
// have neither ES_AUTOHSCROLL nor ES_NUMBER: typing stops at the visible width, and any
// characters are accepted and checked on Apply. The buttons draw themselves.
const ControlClass CONTROL_CLASSES[] = {
    {"Static", 0, WS_CHILD | WS_VISIBLE | WS_TABSTOP | SS_NOTIFY | SS_LEFT,
     "Static \xF1\xEE\xE7\xE4\xE0\xF2\xFC \xED\xE5 \xF3\xE4\xE0\xEB\xEE\xF1\xFC"},
    {"Edit", WS_EX_CLIENTEDGE, WS_CHILD | WS_VISIBLE | WS_BORDER | WS_TABSTOP,
     "Edit \xF1\xEE\xE7\xE4\xE0\xF2\xFC \xED\xE5 \xF3\xE4\xE0\xEB\xEE\xF1\xFC"},
    {"Button", 0, WS_CHILD | WS_VISIBLE | WS_TABSTOP | BS_OWNERDRAW,
     "Button \xF1\xEE\xE7\xE4\xE0\xF2\xFC \xED\xE5 \xF3\xE4\xE0\xEB\xEE\xF1\xFC"},
};

}  // namespace

HWND CreateControl(ControlKind kind, HWND parent, const char* text, int x, int y, int width,
                   int height, int id) {
    const ControlClass& c = CONTROL_CLASSES[kind];
    return g_pfnCreateWindowExA(c.exStyle, c.className, text, c.style, x, y, width, height,
                                parent, reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)),
                                g_hInstance, nullptr);
}

void ReportControlFailure(HWND owner, ControlKind kind) {
    // The texts are kept in code page 1251 and converted here, so that the Russian words
    // read correctly whatever the system's ANSI code page is.
    wchar_t text[256] = {};
    MultiByteToWideChar(1251, 0, CONTROL_CLASSES[kind].failureText1251, -1, text,
                        static_cast<int>(std::size(text)));
    g_pfnMessageBoxW(owner, text, L"Info", MB_OK);
}

HFONT CreateWindowFont(int height) {
    return CreateFontA(height, 0, 0, 0, FW_BOLD, 0, 0, 0, ANSI_CHARSET, OUT_DEFAULT_PRECIS,
                       CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY, DEFAULT_PITCH | FF_DONTCARE,
                       "Exo 2 Light");
}
