#include "ui_globals.h"

HINSTANCE g_hInstance = nullptr;
HWND g_hMainWindow = nullptr;
PatchJob* g_pPatchJob = nullptr;
int g_screenState = SCREEN_INPUT;

unsigned char g_bFeatureToggles[RULE_COUNT];

void ResetFeatureToggles() {
    for (int rule = 0; rule < RULE_COUNT; ++rule) g_bFeatureToggles[rule] = RULE_TABLE[rule].onByDefault ? 1 : 0;
}

namespace {

// The rule table is constant data, there before any of this runs.
const struct StartingToggles {
    StartingToggles() { ResetFeatureToggles(); }
} STARTING_TOGGLES;

}  // namespace

HWND g_hToggleCamera = nullptr, g_hToggleFov = nullptr, g_hToggleWidescreen = nullptr,
     g_hToggleFps = nullptr;
HWND g_hLabelCamera = nullptr, g_hLabelFov = nullptr, g_hLabelWidescreen = nullptr,
     g_hLabelDisplay = nullptr, g_hLabelFps = nullptr;
HWND g_hEditCamera = nullptr, g_hEditFov = nullptr, g_hEditDisplayWidth = nullptr,
     g_hEditDisplayHeight = nullptr;
HWND g_hApplyButton = nullptr, g_hExitButton = nullptr, g_hResultText = nullptr,
     g_hTitle = nullptr, g_hCloseButton = nullptr;

HFONT g_hTextFont = nullptr, g_hTitleFont = nullptr, g_hResultFont = nullptr;
