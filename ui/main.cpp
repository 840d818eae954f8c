// Widescreen Velmora 2345: patches the game executable in the current folder so that the
// game renders widescreen, with the camera distance, field of view and frame-rate cap the
// player chooses. It takes no arguments and reads no settings.

#include <windows.h>

#include "main_window.h"
#include "system_dlls.h"

int WINAPI WinMain(HINSTANCE hInstance, HINSTANCE, LPSTR, int nCmdShow) {
    RestrictDllSearch();
    if (CreateMainWindow(hInstance, nCmdShow) == nullptr) return 0;
    return RunMessageLoop();
}
