#pragma once
// What the controls tell screen readers and other assistive technology. The toggle boxes
// are empty statics and the buttons draw themselves, so the system's own description of
// them says nothing (no name, no checked state) or the wrong thing (an edit box is named
// after the static before it). Each control's WM_GETOBJECT is answered with an object that
// gives its name, role and state; nothing on the screen and no window text changes.
//
// oleacc.dll, oleaut32.dll and ole32.dll are loaded from the system folder the first time
// assistive technology asks. Where one of them is missing, the question is left to the
// control's own procedure, which answers as it always would.

#include <windows.h>

// The answer to WM_GETOBJECT for a control of the main window, or 0 when this request is
// not one to answer here (another object than the control's client area, a control with
// nothing to add, no oleacc): the control's own procedure then answers it.
LRESULT AnswerAccessibleObject(HWND control, WPARAM wParam, LPARAM lParam);

// Tells assistive technology that the toggle box has just been switched on or off.
void AnnounceToggleChange(HWND box);
// Tells assistive technology that the result text has come to show what it shows now.
void AnnounceResultText(HWND text);
