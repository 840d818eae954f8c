#include "patch_command.h"

#include "apply_inputs.h"
#include "exit_codes.h"
#include "feature_toggles.h"
#include "patch_worker.h"
#include "result_text.h"

namespace {

int ExitCodeOf(const PatchOutcome& outcome) {
    if (outcome.job.target_name[0] == '\0') return EXIT_NO_TARGET;
    if (outcome.job.failure_text[0] != '\0') return EXIT_FAILED;
    if (!RulesRan(outcome.job)) return EXIT_FAILED;
    for (int rule = 0; rule < RULE_COUNT; ++rule) {
        const RuleReason reason = outcome.report.rules[rule].reason;
        // A rule the game already holds a value of has nothing left to find.
        if (outcome.asked[rule] && reason != RULE_USED && reason != RULE_ALREADY_PATCHED) return EXIT_RULE_NOT_FOUND;
    }
    return EXIT_DONE;
}

}  // namespace

bool RulesRan(const PatchJob& job) { return job.target_name[0] != '\0' && job.widescreen_status[0] != '\0'; }

bool RunPatchCommand(const CliOptions& options, PatchOutcome* outcome, char (&message)[PATCH_TEXT_SIZE]) {
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
    if (FillJobValues(texts, &outcome->job, message) != INPUT_OK) return false;

    outcome->report.dryRun = options.dryRun;
    RunPatchJob(&outcome->job, &outcome->report);
    FormatResultText(outcome->job, outcome->resultText);
    outcome->exitCode = ExitCodeOf(*outcome);
    return true;
}
