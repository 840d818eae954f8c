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

struct JobReport;

// The same work on the calling thread. With `report` it also tells, for the console
// patcher, what each candidate, rule and copy came to; its dryRun leaves every file alone.
void RunPatchJob(PatchJob* job, JobReport* report = nullptr);
