#pragma once
// The dialog procedure of the main window. It answers 1 for a message it handled, -1 after
// a control could not be made, a brush for the control-colour messages and 0 for what it
// leaves to the dialog manager; it never calls a default procedure itself.

#include <windows.h>

INT_PTR CALLBACK MainDialogProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);
