#pragma once
// What a stock edit control shows for a text: the picture against which the tests hold the
// program's own edit boxes, drawn by the system's edit control and not by the program.

#include <windows.h>

#include <vector>

struct EditShape {
    DWORD style, exStyle;  // as the program's box has them
    int width, height;     // its outer size
    HFONT font;            // the font it draws its text in
};

// The client area of a stock edit control of `shape` holding `text`, black on `background`,
// row by row, as drawn in a window of this process's own at the screen's top left corner.
std::vector<COLORREF> StockEditPicture(const EditShape& shape, const char* text,
                                       COLORREF background);

// The style, extended style and size of an edit box (of this process or another); the font
// is left for the caller, since a font handle holds only in its own process.
EditShape ShapeOf(HWND edit);

// How many pixels two pictures of the same size differ in; -1 when their sizes differ.
int DifferentPixels(const std::vector<COLORREF>& a, const std::vector<COLORREF>& b);
