#pragma once
// What the window's face must show at chosen points: the edge band, the field, and the
// panels with their cut corners, on each screen. The points lie clear of every control,
// so the same table holds for a bitmap painted alone and for the live window.

#include <windows.h>

#include <vector>

#include "window_colours.h"

struct FacePoint {
    int x, y;
    COLORREF input;   // on the input screen
    COLORREF result;  // on the result screen
    const char* where;
};

inline std::vector<FacePoint> FacePoints() {
    const COLORREF B = BACKGROUND, F = FRAME, P = PANEL;
    return {
        {0, 0, B, B, "band, top left corner"},
        {569, 304, B, B, "band, bottom right corner"},
        {300, 21, B, B, "title bar, last row"},
        {4, 150, B, B, "left rim"},
        {565, 150, B, B, "right rim"},
        {300, 300, B, B, "bottom rim"},
        {5, 22, F, F, "field, top left corner"},
        {564, 299, F, F, "field, bottom right corner"},
        {299, 50, F, P, "field right of the camera panel"},
        {60, 122, F, P, "field between the camera and FOV panels"},
        {12, 29, P, F, "camera panel, top left"},
        {297, 119, P, P, "camera panel, bottom right"},
        {50, 67, P, F, "camera panel, inner corner of the cut"},
        {30, 100, F, F, "camera panel, cut corner"},
        {52, 110, P, F, "camera panel beside the cut"},
        {12, 126, P, F, "FOV panel, top left"},
        {30, 200, F, F, "FOV panel, cut corner"},
        {52, 237, P, F, "FOV panel, bottom left beside the cut"},
        {12, 244, P, F, "60 FPS panel, top left"},
        {30, 290, F, F, "60 FPS panel, cut corner"},
        {224, 294, P, F, "60 FPS panel, bottom right"},
        {304, 29, P, F, "widescreen panel, top left"},
        {320, 100, F, P, "widescreen panel, cut corner"},
        {346, 164, P, P, "widescreen panel beside the cut"},
        {557, 164, P, F, "widescreen panel, bottom right"},
        {300, 220, F, F, "Apply panel, cut corner"},
        {251, 251, P, F, "Apply panel, left part"},
        {381, 191, P, F, "Apply panel, top right part"},
        {557, 294, P, F, "Apply panel, bottom right"},
        {54, 51, P, P, "result panel, top left"},
        {357, 191, F, P, "result panel, bottom right"},
        {358, 192, F, F, "just outside the result panel"},
        {404, 222, P, P, "Exit panel, top left"},
        {557, 287, P, P, "Exit panel, bottom right"},
        {402, 230, P, F, "just left of the Exit panel"},
    };
}

// A toggle box of 25 x 25: a 3-pixel frame, a 3-pixel ring of background, and the inner
// 13 x 13 square in the frame colour when on.
inline COLORREF ToggleBoxColourAt(int x, int y, bool on) {
    const int ring = x < y ? x : y;
    const int farEdge = 24 - (x > y ? x : y);
    const int depth = ring < farEdge ? ring : farEdge;
    if (depth < 3) return FRAME;
    if (depth < 6) return BACKGROUND;
    return on ? FRAME : BACKGROUND;
}
