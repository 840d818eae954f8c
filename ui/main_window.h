#pragma once
// The life of the main window: its creation, placement and message loop.

#include <windows.h>

// Creates the main window from the empty template (the input screen is built during the
// creation), makes it a borderless 570 x 305 window one pixel below the centre of the
// screen, shows it and paints it. Returns null when the window could not be created.
HWND CreateMainWindow(HINSTANCE instance, int showCommand);

// Serves the window until it is destroyed, then frees the patch job, if there is one.
// Returns the process exit code: the code given to PostQuitMessage, 0.
int RunMessageLoop();

// Where the window goes on a screen of the given size: centred, one pixel low.
POINT MainWindowOrigin(int screenWidth, int screenHeight);
