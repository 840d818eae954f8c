#pragma once
// The colours the window must show, written out here rather than taken from the program's
// own palette: a wrong constant in the program is then a difference the tests can see.

#include <windows.h>

const COLORREF FRAME = RGB(87, 114, 144);        // steel blue, 9466455
const COLORREF BACKGROUND = RGB(184, 190, 202);  // grey blue, 13287096
const COLORREF PANEL = RGB(175, 207, 206);       // pale cyan, 13553583
const COLORREF BLACK = RGB(0, 0, 0);
