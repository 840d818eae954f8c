#pragma once
// The record through which the window hands the typed values to the patch worker and
// through which the worker hands back what it did.

#include <cstdint>

enum { PATCH_TEXT_SIZE = 256 };

struct PatchJob {
    float aspect_ratio;       // display width / height; 0.0: the widescreen rule does not run
    int16_t camera_distance;  // 0: the camera-distance rule does not run
    int32_t fov_width;        // screen width of the game's setup; 0: the FOV rule does not run
    char widescreen_status[PATCH_TEXT_SIZE];
    char camera_status[PATCH_TEXT_SIZE];
    char fov_status[PATCH_TEXT_SIZE];
    char fps_status[PATCH_TEXT_SIZE];
    char target_name[PATCH_TEXT_SIZE];  // empty: no candidate could be opened, nothing touched
    // Empty when the job finished. Otherwise it says, in words for the player, why it did
    // not: either nothing was changed, or the write-back failed and the backup holds the
    // previous contents. The status lines must then not be shown as a success.
    char failure_text[PATCH_TEXT_SIZE];
};

// The executables the worker probes, in order; the last one that opens is the target.
enum { TARGET_CANDIDATE_COUNT = 6, FPS_CANDIDATE_COUNT = 4 };
extern const char* const TARGET_CANDIDATES[TARGET_CANDIDATE_COUNT];
