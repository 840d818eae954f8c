#pragma once
#include <memory>
// One patch run from the command line: the window's input checks, then the engine's job,
// with the report of what it did.

#include <string>

#include "cli_options.h"
#include "job_report.h"
#include "patch_job.h"
#include "patch_rules.h"

struct PatchOutcome {
    PatchJob job = {};
    JobReport report;
    bool asked[RULE_COUNT] = {};  // the features that were switched on
    char resultText[PATCH_TEXT_SIZE] = {};  // the window's result text, CRLF line ends
    int exitCode = 0;
    // A dry run whose real run would find no target: the game read as it is, opened for
    // reading only, and what the run would write once it can; null otherwise.
    std::unique_ptr<PatchOutcome> look;
};

// The job got as far as the rules: it finished, or only its write-back failed. Only then do
// the result lines and the rule reports say anything.
bool RulesRan(const PatchJob& job);

// Switches the job's rules on as the options say, and puts the values into the job checked
// as the window checks its fields; outcome->asked says which rules were asked for. A refused
// value: returns false with a line naming the option and its value.
bool PrepareJob(const CliOptions& options, PatchOutcome* outcome, std::string* refusal);

// PrepareJob; on a refused value returns false and nothing ran. Otherwise runs the job in
// the current folder (as a dry run if asked) and returns true.
bool RunPatchCommand(const CliOptions& options, PatchOutcome* outcome, std::string* refusal);
