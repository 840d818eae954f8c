#pragma once
#include "patch_job.h"
#include "target_file.h"

#ifdef _WIN32
#define PATCH_WORKER_API __stdcall
#else
#define PATCH_WORKER_API
#endif

// Thread start routine (for _beginthreadex): carries out the job that `job` points to
// against the current working folder. Returning ends the thread.
unsigned PATCH_WORKER_API PatchWorker(void* job);

struct CandidateFiles;

// Opens each name under which a candidate is in the current folder, in the order of
// TARGET_CANDIDATES, as the job chooses its target: the last one that opens is put into
// `targetName` (left as it is when none opens, or when one candidate is there under two
// names that differ only in case), and why each candidate did or did not open into
// `reasons` (OPEN_MISSING for one that is not there). `exe`, unless null or empty, names
// the one candidate to open; no other is opened. `files`, when given, gets each name that
// is there, as on the disk, with its reason. `survey`, when given, is taken of who holds
// each of those names and its .bak and .orig, in one look at the other processes, and is
// in effect for the opens of the run for as long as it lives (see HolderSurvey).
void ProbeCandidates(const char* exe, HolderSurvey* survey, char (&targetName)[PATCH_TEXT_SIZE],
                     OpenReason (&reasons)[TARGET_CANDIDATE_COUNT], CandidateFiles* files);

struct JobReport;

// The same work on the calling thread. With `report` it also tells, for the console
// patcher, what each candidate, rule and copy came to; its dryRun leaves every file alone.
void RunPatchJob(PatchJob* job, JobReport* report = nullptr);

// What a player can do about a game with hard links.
extern const char HARD_LINKS_HINT[];
