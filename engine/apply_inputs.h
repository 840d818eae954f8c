#pragma once
// Turns the four texts of the input screen into the job's values, refusing input that
// would write garbage into the game.

#include "patch_job.h"
#include "rule_table.h"

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

// Checks the fields of the rules that `job` has switched on. On success fills the values
// of the widescreen, camera-distance and FOV rules' requests and returns INPUT_OK.
// Otherwise returns the first bad field, leaves `job` untouched and writes into `message`
// a text for the player that names the field and the values it accepts.
InputField FillJobValues(const InputTexts& texts, PatchJob* job, char (&message)[PATCH_TEXT_SIZE]);

// The rule whose value a field gives.
PatchRule RuleOfField(InputField field);
