#pragma once
// Turns the four texts of the input screen into the job's values, refusing input that
// would write garbage into the game.

#include "patch_job.h"

enum InputField {
    INPUT_OK,
    INPUT_DISPLAY_WIDTH,
    INPUT_DISPLAY_HEIGHT,
    INPUT_CAMERA_DISTANCE,
    INPUT_FIELD_OF_VIEW,
};

struct InputTexts {
    const char* displayWidth;
    const char* displayHeight;
    const char* cameraDistance;
    const char* fieldOfView;
};

// Checks the fields of the features that are switched on (the feature toggles). On
// success fills aspect_ratio, camera_distance and fov_width of `job` and returns INPUT_OK.
// Otherwise returns the first bad field, leaves `job` untouched and writes into `message`
// a text for the player that names the field and the values it accepts.
InputField FillJobValues(const InputTexts& texts, PatchJob* job, char (&message)[PATCH_TEXT_SIZE]);
