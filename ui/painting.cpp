#include "painting.h"

#include <cstring>

#include "palette.h"
#include "scoped_gdi.h"
#include "ui_globals.h"

namespace {

struct Panel {
    POINT vertices[6];
    int count;
};

// Rectangles with one corner cut away, under each group of controls of the input screen.
const Panel INPUT_PANELS[] = {
    {{{11, 28}, {298, 28}, {298, 120}, {51, 120}, {51, 68}, {11, 68}}, 6},        // camera
    {{{11, 125}, {298, 125}, {298, 238}, {51, 238}, {51, 165}, {11, 165}}, 6},    // FOV
    {{{11, 243}, {225, 243}, {225, 295}, {51, 295}, {51, 283}, {11, 283}}, 6},    // 60 FPS
    {{{303, 28}, {558, 28}, {558, 165}, {345, 165}, {345, 68}, {303, 68}}, 6},    // widescreen
    {{{250, 250}, {380, 250}, {380, 190}, {558, 190}, {558, 295}, {250, 295}}, 6},  // Apply
};

const Panel RESULT_PANELS[] = {
    {{{53, 50}, {358, 50}, {358, 192}, {53, 192}}, 4},      // result text
    {{{403, 221}, {558, 221}, {558, 288}, {403, 288}}, 4},  // Exit
};

bool FillSolid(HDC hdc, const RECT& rect, COLORREF color) {
    const ScopedGdiObj<HBRUSH> brush(CreateSolidBrush(color));
    if (!brush) return false;
    FillRect(hdc, &rect, brush.get());
    return true;
}

bool FillPanel(HDC hdc, const Panel& panel) {
    const ScopedGdiObj<HRGN> region(CreatePolygonRgn(panel.vertices, panel.count, ALTERNATE));
    const ScopedGdiObj<HBRUSH> brush(CreateSolidBrush(COLOR_PANEL));
    if (!brush) return false;
    if (region) FillRgn(hdc, region.get(), brush.get());
    return true;
}

template <size_t N>
bool FillPanels(HDC hdc, const Panel (&panels)[N]) {
    for (const Panel& panel : panels) {
        if (!FillPanel(hdc, panel)) return false;
    }
    return true;
}

}  // namespace

bool PaintMainWindow(HDC hdc, const RECT& client, int screenState) {
    if (!FillSolid(hdc, client, COLOR_BACKGROUND)) return false;
    RECT field = client;
    field.left = EDGE_WIDTH;
    field.top = TITLE_BAND_HEIGHT;
    field.right -= EDGE_WIDTH;
    field.bottom -= EDGE_WIDTH;
    if (!FillSolid(hdc, field, COLOR_FRAME)) return false;
    if (screenState == SCREEN_INPUT) return FillPanels(hdc, INPUT_PANELS);
    if (screenState == SCREEN_RESULT) return FillPanels(hdc, RESULT_PANELS);
    return true;
}

bool DrawToggleBox(HDC hdc, RECT box, bool on) {
    if (!FillSolid(hdc, box, COLOR_FRAME)) return false;
    InflateRect(&box, -3, -3);
    if (!FillSolid(hdc, box, COLOR_BACKGROUND)) return false;
    if (!on) return true;
    InflateRect(&box, -3, -3);
    return FillSolid(hdc, box, COLOR_FRAME);
}

bool DrawEditFrame(HDC hdc, RECT window) {
    return FillSolid(hdc, window, COLOR_FRAME);
}

void DrawPlateButton(HDC hdc, RECT button, bool pressed, const char* caption) {
    FillSolid(hdc, button, COLOR_FRAME);
    // Released, the frame is thin at the top and left and thick at the right and bottom,
    // like a raised plate; pressed, it is even and the plate sinks by one pixel.
    if (pressed) {
        InflateRect(&button, -4, -4);
    } else {
        button.left += 2;
        button.top += 2;
        button.right -= 6;
        button.bottom -= 6;
    }
    FillSolid(hdc, button, COLOR_BACKGROUND);

    const int oldMode = SetBkMode(hdc, TRANSPARENT);
    const COLORREF oldColor = SetTextColor(hdc, COLOR_TEXT);
    const int length = static_cast<int>(std::strlen(caption));
    SIZE extent = {0, 0};
    GetTextExtentPoint32A(hdc, caption, length, &extent);
    // Centred on the plate's right and bottom edges alone: pressing moves the caption one
    // pixel right and down along with the plate.
    const int x = button.right / 2 - extent.cx / 2;
    const int y = button.bottom / 2 - extent.cy / 2;
    TextOutA(hdc, x, y, caption, length);
    SetTextColor(hdc, oldColor);
    SetBkMode(hdc, oldMode);
}

void DrawCloseButton(HDC hdc, RECT button, bool pressed) {
    FillSolid(hdc, button, COLOR_BACKGROUND);
    const ScopedGdiObj<HPEN> pen(CreatePen(PS_SOLID, 2, pressed ? COLOR_FRAME : COLOR_TEXT));
    const ScopedSelect selected(hdc, pen.get());
    // LineTo leaves its end point out, so each stroke covers 5..10 of the 16x16 button.
    const int left = button.left;
    const int top = button.top;
    MoveToEx(hdc, left + 5, top + 5, nullptr);
    LineTo(hdc, left + 11, top + 11);
    MoveToEx(hdc, left + 11, top + 5, nullptr);
    LineTo(hdc, left + 5, top + 11);
}

HBRUSH PanelBrush() {
    static HBRUSH brush = nullptr;
    if (brush == nullptr) brush = CreateSolidBrush(COLOR_PANEL);
    return brush;
}

HBRUSH BackgroundBrush() {
    static HBRUSH brush = nullptr;
    if (brush == nullptr) brush = CreateSolidBrush(COLOR_BACKGROUND);
    return brush;
}
