#pragma once
// What velmora-patch adds when no candidate opened, below the window's two lines: the
// folder it searched, the names it looked for, and every one of them that is there but
// would not open, each with why and what to do.

#include <string>

#include "candidate_names.h"

// `files` as the probe left them, in the current folder; `exe` the name given with --exe,
// or null.
std::string NoTargetReport(const CandidateFiles& files, const char* exe);

// `text` in double quotes, with its quotes and control characters escaped, so that
// a path in a message is seen whole and cannot move the cursor.
std::string QuotedPath(const std::string& text);
