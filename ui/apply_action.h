#pragma once
// The Apply action: the typed values become a patch job, the worker carries it out on a
// thread of its own, and the input screen gives way to the result text and Exit.

#include <windows.h>

#include "patch_job.h"

// Returns 1, or -1 when a control of the result screen could not be made.
INT_PTR RunApply(HWND hwnd);
