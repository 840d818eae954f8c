#pragma once
// What velmora-patch prints: the window's result text with plain line ends, then rule by
// rule why it was not used or what it hit, then the copies; or the same as one JSON object.

#include <cstddef>
#include <string>
#include <vector>

#include "patch_command.h"
#include "patch_state.h"
#include "json_text.h"
#include "restore.h"

// At most this many hits of a rule are listed in the text; JSON lists every one.
enum { TEXT_HITS_PER_RULE = 20 };

std::string PatchReportText(const PatchOutcome& outcome);
std::string PatchReportJson(const PatchOutcome& outcome);

int RestoreExitCode(const RestoreResult& result);
// `exe`: the name given with --exe, or null.
std::string RestoreReportText(const RestoreResult& result, const char* exe = nullptr);
std::string RestoreReportJson(const RestoreResult& result, bool forced);

// The one JSON object of a run that was refused before it began, and of --version and --help.
// `command`: the command the line asked for, null when it was refused before that was
// told; `folder`: the folder it named, empty for none.
std::string ErrorJson(const char* command, const std::string& code, const std::string& error, int exitCode,
                      const std::string& folder = "");
std::string VersionJson();
std::string HelpJson(const char* help);

// --status: the target chosen as a patch run chooses it (empty: none opened, with the
// candidates' reasons) and what its state is.
struct StatusOutcome {
    char targetName[PATCH_TEXT_SIZE] = {};
    OpenReason candidates[TARGET_CANDIDATE_COUNT] = {};
    CandidateFiles files;  // each candidate's name as on the disk, with its reason
    const char* exe = nullptr;  // --exe, or null
    GameStatus status;
};
int StatusExitCode(const StatusOutcome& outcome);
std::string StatusReportText(const StatusOutcome& outcome);
std::string StatusReportJson(const StatusOutcome& outcome);

