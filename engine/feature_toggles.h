#pragma once
// The four process-wide feature switches, 0 for off and 1 for on. The toggle boxes write
// them; the patch rules read them while the window thread waits for the worker, so they
// are never used by two threads at once.

extern unsigned char g_bWidescreen;      // starts on
extern unsigned char g_bCameraDistance;  // starts off
extern unsigned char g_bFieldOfView;     // starts off
extern unsigned char g_bFps60;           // starts off
