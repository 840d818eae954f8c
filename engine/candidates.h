#pragma once
// Which of the game's executables in the current folder a run works on: the probe that
// both the patch job and the restore stand on.

#include "candidate_names.h"
#include "patch_job.h"
#include "target_file.h"

// Opens each name under which a candidate is in the current folder, in the order of
// TARGET_CANDIDATES, as the job chooses its target: the last one that opens is put into
// `targetName` (left as it is when none opens, or when one candidate is there under two
// names that differ only in case), and why each candidate did or did not open into
// `reasons` (OPEN_MISSING for one that is not there). `exe`, unless null or empty, names
// the one candidate to open; no other is opened. `files`, when given, gets each name that
// is there, as on the disk, with its reason. `survey`, when given, is taken of who holds
// each of those names and its .bak and .orig, in one look at the other processes, and is
// in effect for the opens of the run for as long as it lives (see HolderSurvey).
// With `readOnly` each name is opened for reading only, with every sharing, as --status,
// --find and a dry run read a game that may be running or read-only.
void ProbeCandidates(const char* exe, HolderSurvey* survey, char (&targetName)[PATCH_TEXT_SIZE],
                     OpenReason (&reasons)[TARGET_CANDIDATE_COUNT], CandidateFiles* files, bool readOnly = false);
