#pragma once
// What velmora-patch prints: the window's result text with plain line ends, then rule by
// rule why it was not used or what it hit, then the copies; or the same as one JSON object.

#include <string>

#include "patch_command.h"
#include "restore.h"

// At most this many hits of a rule are listed in the text; JSON lists every one.
enum { TEXT_HITS_PER_RULE = 20 };

std::string PatchReportText(const PatchOutcome& outcome);
std::string PatchReportJson(const PatchOutcome& outcome);

int RestoreExitCode(const RestoreResult& result);
// `exe`: the name given with --exe, or null.
std::string RestoreReportText(const RestoreResult& result, const char* exe = nullptr);
std::string RestoreReportJson(const RestoreResult& result, bool forced);

// The rule's name in the report: "widescreen", "camera", "fov", "fps".
const char* RuleName(PatchRule rule);
