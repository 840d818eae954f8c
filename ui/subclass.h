#pragma once
// The replaced window procedures of the toggle boxes, the edit boxes and the title strip,
// and the dragging of the captionless main window.

#include <windows.h>

LRESULT CALLBACK ToggleBoxProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);
LRESULT CALLBACK EditBoxProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);
LRESULT CALLBACK TitleStripProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);
// The buttons and the result text, which need no other subclass, get this one to describe
// themselves to assistive technology.
LRESULT CALLBACK AccessibleControlProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);

// Whether the feature of this toggle box is switched on; false for any other window.
bool IsToggleBoxOn(HWND box);

// Puts `proc` in front of the control's own procedure, which is kept in the control's
// user-data slot until WM_NCDESTROY puts it back.
void InstallSubclass(HWND control, WNDPROC proc);

// A press at (x, y) = lParam inside the top 22 rows starts a move of the main window with
// the mouse; the call returns when the move has ended.
void DragIfInTitleBand(LPARAM lParam);
