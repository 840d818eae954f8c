#pragma once
// The window's three colours. Everything the program draws itself uses these.

#include <windows.h>

// winuser.h names a system colour index COLOR_BACKGROUND; here the name is the palette's.
#undef COLOR_BACKGROUND

const COLORREF COLOR_FRAME = RGB(87, 114, 144);        // steel blue: field, frames, marks
const COLORREF COLOR_BACKGROUND = RGB(184, 190, 202);  // grey blue: edge band, plates, edits
const COLORREF COLOR_PANEL = RGB(175, 207, 206);       // pale cyan: panels and labels
const COLORREF COLOR_TEXT = RGB(0, 0, 0);
