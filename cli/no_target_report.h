#pragma once
// What velmora-patch adds when no candidate opened, below the window's two lines: the
// folder it searched, the names it looked for, and every one of them that is there but
// would not open, each with why and what to do.

#include <string>

#include "candidate_names.h"

// `files` as the probe left them, in the current folder; `exe` the name given with --exe,
// or null.
std::string NoTargetReport(const CandidateFiles& files, const char* exe);

// The program as the player started it ("./velmora-patch", or the bare name when the
// shell found it on the PATH), for the hints that name it.
void SetProgramAsStarted(const std::string& argv0);
const std::string& ProgramAsStarted();
// A command to paste: the program as started, --dir with `folder` quoted, `arguments`.
std::string CommandHint(const std::string& folder, const std::string& arguments);

// The window's no-target text with plain line ends, without its guess at a busy file
// when none of the names is there.
std::string NoTargetLines(const char* windowText, const CandidateFiles& files);
