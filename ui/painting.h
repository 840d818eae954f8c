#pragma once
// Everything the program draws itself. The functions draw into any device context, so
// they work the same on the window and on a bitmap.

#include <windows.h>

// The edge band, the steel-blue field and the panels of the screen `screenState` shows.
// Returns false when a brush could not be made; what was drawn up to then stays.
bool PaintMainWindow(HDC hdc, const RECT& client, int screenState);

// A toggle box: a frame-coloured border, and an inner square when `on`.
bool DrawToggleBox(HDC hdc, RECT box, bool on);

// The flat frame of an edit box, over the box's whole window rectangle.
bool DrawEditFrame(HDC hdc, RECT window);

// The Apply and Exit buttons: a plate in a frame that is thick at the right and bottom
// when released and even when pressed, with the caption centred on the plate.
void DrawPlateButton(HDC hdc, RECT button, bool pressed, const char* caption);

// The close button of the title bar: a cross, black, or frame-coloured while pressed.
void DrawCloseButton(HDC hdc, RECT button, bool pressed);

// The two brushes handed to the controls for their backgrounds. Made at first use and kept
// for the life of the process; null only when the system cannot make them.
HBRUSH PanelBrush();
HBRUSH BackgroundBrush();
