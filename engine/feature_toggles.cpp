#include "feature_toggles.h"

unsigned char g_bWidescreen = 1;
unsigned char g_bCameraDistance = 0;
unsigned char g_bFieldOfView = 0;
unsigned char g_bFps60 = 0;
