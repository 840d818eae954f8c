#pragma once
// The screen after the job: the result text and Exit, in the place of the input screen.

#include <windows.h>

#include "patch_job.h"

// Returns 1, or -1 when a control of the result screen could not be made.
INT_PTR BuildResultScreen(HWND hwnd, const PatchJob& job);
