#pragma once
// The three kinds of child control the window is built from, their creation and the
// message shown when one cannot be made.

#include <windows.h>

enum ControlKind { CONTROL_STATIC, CONTROL_EDIT, CONTROL_BUTTON };

// Creates a visible child of `parent` with the kind's class, styles and the given text,
// place and identifier. Returns null when the system refuses.
HWND CreateControl(ControlKind kind, HWND parent, const char* text, int x, int y, int width,
                   int height, int id);

// Tells the user that a control of `kind` could not be made, in a box titled "Info".
void ReportControlFailure(HWND owner, ControlKind kind);

// The text font (height -15) and the title font (height -13), both bold "Exo 2 Light".
HFONT CreateWindowFont(int height);
