#pragma once
// The text that both front ends show for a finished job.

#include "patch_job.h"
#include "target_file.h"

// "Done <name>!" with the four result lines, or why the job did not finish.
void FormatResultText(const PatchJob& job, char (&text)[PATCH_TEXT_SIZE]);

// The text for a folder in which no candidate could be opened: the two lines the player
// knows, then why each candidate that is there could not be opened (at most three), then
// what to do about the first of them.
void FormatNoTargetText(const OpenReason (&reasons)[TARGET_CANDIDATE_COUNT], char (&text)[PATCH_TEXT_SIZE]);
