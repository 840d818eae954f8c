#include "patch_command.h"

#include "apply_inputs.h"
#include "cli_options.h"
#include "exit_codes.h"
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

bool RulesRan(const PatchJob& job) { return job.target_name[0] != '\0' && job.status[0][0] != '\0'; }

bool PrepareJob(const CliOptions& options, PatchOutcome* outcome, std::string* refusal) {
    for (int rule = 0; rule < RULE_COUNT; ++rule) {
        outcome->job.requests[rule].on = options.ruleOn[rule];
        outcome->asked[rule] = options.ruleOn[rule];
    }

    // The fields of the window's input screen, as the options give them.
    std::string width, height;
    SplitRatio(options.ruleValue[RULE_WIDESCREEN], &width, &height);
    const InputTexts texts = {width.c_str(), height.c_str(), options.ruleValue[RULE_CAMERA].c_str(),
                              options.ruleValue[RULE_FOV].c_str()};
    char message[PATCH_TEXT_SIZE] = {};
    const InputField refused = FillJobValues(texts, &outcome->job, message);
    if (refused != INPUT_OK) {
        const PatchRule rule = RuleOfField(refused);
        *refusal = RefusedValue(RULE_TABLE[rule].option, options.ruleValue[rule]);
        return false;
    }
    return true;
}

bool RunPatchCommand(const CliOptions& options, PatchOutcome* outcome, std::string* refusal) {
    if (!PrepareJob(options, outcome, refusal)) return false;
    outcome->report.dryRun = options.dryRun;
    outcome->report.exe = options.exe.empty() ? nullptr : options.exe.c_str();
    RunPatchJob(&outcome->job, &outcome->report);
    FormatResultText(outcome->job, outcome->resultText);
    outcome->exitCode = ExitCodeOf(*outcome);
    if (options.dryRun && outcome->job.target_name[0] == '\0') {
        std::unique_ptr<PatchOutcome> look(new PatchOutcome);
        for (int rule = 0; rule < RULE_COUNT; ++rule) look->job.requests[rule] = outcome->job.requests[rule];
        look->report.dryRun = true;
        look->report.exe = outcome->report.exe;
        look->report.readOnlyProbe = true;
        RunPatchJob(&look->job, &look->report);
        FormatResultText(look->job, look->resultText);
        if (look->job.target_name[0] != '\0') outcome->look = std::move(look);
    }
    return true;
}
