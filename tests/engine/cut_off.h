#pragma once
// A job that ends its own process right after a chosen file step, as a crash or a power cut
// in the middle of Apply would. Shared by the test and, on Windows, the child program that
// it starts for each step.

#include "patch_job.h"

enum { CUT_OFF_EXIT_CODE = 42, CUT_OFF_FINISHED = 0, CUT_OFF_FAILED = 1 };

// The job every cut-off run carries out: all four features, on the game in the current folder.
PatchJob CutOffJob();

// Makes the file operations count their steps (each open, write, commit, close and move)
// and end the process with CUT_OFF_EXIT_CODE right after step `step`, counting from 1.
void CutOffAfterStep(int step);

// Runs the restore (forced or not) in this process, where a cut at a write lets only half
// of its bytes reach the file, and returns CUT_OFF_FINISHED or
// CUT_OFF_FAILED, unless the process ended at the cut first.
int RunCutOffRestore(int step, bool force);

// Runs the job in this process and returns CUT_OFF_FINISHED or CUT_OFF_FAILED, unless the
// process ended at the cut first.
int RunCutOffJob(int step);
