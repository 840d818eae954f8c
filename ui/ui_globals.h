#pragma once
// Window state shared by the handlers of the main window. Everything here is used on the
// window thread only.

#include <windows.h>

#include "rule_table.h"

struct PatchJob;

// Child-window identifiers. 104 and 110 are each given to two controls, so controls are
// always told apart by their handles; only Apply, Exit and close are acted upon by id.
enum ControlId {
    IDC_TOGGLE_CAMERA = 101,
    IDC_TOGGLE_FOV = 102,
    IDC_TOGGLE_WIDESCREEN = 103,
    IDC_TOGGLE_FPS = 104,
    IDC_EDIT_CAMERA = 104,
    IDC_EDIT_FOV = 105,
    IDC_EDIT_DISPLAY_WIDTH = 106,
    IDC_EDIT_DISPLAY_HEIGHT = 107,
    IDC_LABEL_CAMERA = 108,
    IDC_LABEL_FOV = 109,
    IDC_LABEL_WIDESCREEN = 110,
    IDC_TITLE = 110,
    IDC_LABEL_DISPLAY = 111,
    IDC_APPLY = 112,
    IDC_EXIT = 114,
    IDC_CLOSE = 115,
    IDC_RESULT = 116,
    IDC_LABEL_FPS = 117,
};

// The fixed size of the borderless main window; client and window coordinates agree.
enum { MAIN_WINDOW_WIDTH = 570, MAIN_WINDOW_HEIGHT = 305 };

// The grey-blue band along the edge: the title bar at the top, by which the window is
// dragged, and a thin rim on the other three sides.
enum { TITLE_BAND_HEIGHT = 22, EDGE_WIDTH = 5 };

// Which screen the main window shows; the painting follows it.
enum { SCREEN_INPUT = 0, SCREEN_RESULT = 1 };

extern HINSTANCE g_hInstance;
extern HWND g_hMainWindow;  // still null while WM_INITDIALOG builds the input screen
extern PatchJob* g_pPatchJob;  // the run's one job; freed by the entry after the loop
extern int g_screenState;

// The feature toggles, one per rule, 0 for off and 1 for on: what the toggle boxes show and
// switch, and what Apply asks of the job. They start as the rule table says (widescreen on,
// the others off); ResetFeatureToggles puts them back so.
extern unsigned char g_bFeatureToggles[RULE_COUNT];
void ResetFeatureToggles();

// One handle per control. A handle keeps its value after its control is destroyed.
extern HWND g_hToggleCamera, g_hToggleFov, g_hToggleWidescreen, g_hToggleFps;
extern HWND g_hLabelCamera, g_hLabelFov, g_hLabelWidescreen, g_hLabelDisplay, g_hLabelFps;
extern HWND g_hEditCamera, g_hEditFov, g_hEditDisplayWidth, g_hEditDisplayHeight;
extern HWND g_hApplyButton, g_hExitButton, g_hResultText, g_hTitle, g_hCloseButton;

// Fonts made once and kept for the life of the process; the controls only borrow them.
extern HFONT g_hTextFont, g_hTitleFont, g_hResultFont;
