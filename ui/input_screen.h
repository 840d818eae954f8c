#pragma once
// The first screen: four toggle boxes, their labels, four input fields, Apply, the title
// strip and the close button, built when the main window is created.

#include <windows.h>

// Registers the embedded font, then creates the sixteen controls. Returns 1 when all were
// made, -1 when one could not be (after telling the user); the ones made before stay.
INT_PTR BuildInputScreen(HWND hwnd);

// The handle AddFontMemResourceEx gave for the embedded font; null until it succeeded.
extern HANDLE g_hEmbeddedFont;
