#include "patch_command.h"

#include "apply_inputs.h"
#include "cli_options.h"
#include "exit_codes.h"
#include "feature_toggles.h"
#include "patch_worker.h"
#include "result_text.h"
#include "target_file.h"

namespace {

int ExitCodeOf(const PatchOutcome& outcome) {
    if (outcome.report.stopped) return StopExitCode();
    if (outcome.report.folderBusy) return EXIT_FAILED;
    if (outcome.job.target_name[0] == '\0') return EXIT_NO_TARGET;
    if (outcome.job.failure_text[0] != '\0') return EXIT_FAILED;
    if (!RulesRan(outcome.job)) return EXIT_FAILED;
    for (int rule = 0; rule < RULE_COUNT; ++rule) {
        // "No value" is asked for: --fov undef leaves the field of view alone, as the window
        // does; every other empty value is refused before the job. A rule the game already
        // holds a value of has nothing left to find.
        const RuleReason reason = outcome.report.rules[rule].reason;
        if (outcome.asked[rule] && reason != RULE_USED && reason != RULE_NO_VALUE && reason != RULE_ALREADY_PATCHED) {
            return EXIT_RULE_NOT_FOUND;
        }
    }
    return EXIT_DONE;
}

}  // namespace

bool RulesRan(const PatchJob& job) { return job.target_name[0] != '\0' && job.widescreen_status[0] != '\0'; }

bool RunPatchCommand(const CliOptions& options, PatchOutcome* outcome, std::string* refusal) {
    g_bWidescreen = options.widescreen ? 1 : 0;
    g_bCameraDistance = options.camera ? 1 : 0;
    g_bFieldOfView = options.fieldOfView ? 1 : 0;
    g_bFps60 = options.fps ? 1 : 0;
    outcome->asked[RULE_WIDESCREEN] = options.widescreen;
    outcome->asked[RULE_CAMERA] = options.camera;
    outcome->asked[RULE_FOV] = options.fieldOfView;
    outcome->asked[RULE_FPS] = options.fps;

    const InputTexts texts = {options.displayWidth.c_str(), options.displayHeight.c_str(),
                              options.cameraDistance.c_str(), options.fovWidth.c_str()};
    char message[PATCH_TEXT_SIZE] = {};
    switch (FillJobValues(texts, &outcome->job, message)) {
        case INPUT_OK: break;
        case INPUT_DISPLAY_WIDTH:
        case INPUT_DISPLAY_HEIGHT: *refusal = RefusedValue("--aspect", options.aspect); return false;
        case INPUT_CAMERA_DISTANCE: *refusal = RefusedValue("--camera", options.cameraDistance); return false;
        case INPUT_FIELD_OF_VIEW: *refusal = RefusedValue("--fov", options.fovWidth); return false;
    }

    outcome->report.dryRun = options.dryRun;
    outcome->report.exe = options.exe.empty() ? nullptr : options.exe.c_str();
    RunPatchJob(&outcome->job, &outcome->report);
    FormatResultText(outcome->job, outcome->resultText);
    outcome->exitCode = ExitCodeOf(*outcome);
    return true;
}
