#include "patch_worker.h"

#include "bounded_text.h"
#include "job_report.h"
#include "patch_rules.h"
#include "patch_state.h"
#include "result_text.h"
#include "target_file.h"

const char* const TARGET_CANDIDATES[TARGET_CANDIDATE_COUNT] = {
    "Vlmr2.exe", "v2plus.exe", "vlmr3.exe", "vm3plus.exe", "vlmr4.exe", "PCVlmr5.exe",
};

// Every name that opens replaces the one before, so the last openable name is the target.
// Why each of the others would not open is kept for the player.
void ProbeCandidates(char (&targetName)[PATCH_TEXT_SIZE], OpenReason (&reasons)[TARGET_CANDIDATE_COUNT]) {
    for (int i = 0; i < TARGET_CANDIDATE_COUNT; ++i) {
        FILE* probe = OpenForUpdate(TARGET_CANDIDATES[i], &reasons[i]);
        if (probe == nullptr) continue;
        g_fileOps.close(probe);
        strcpy_s(targetName, TARGET_CANDIDATES[i]);
    }
}

namespace {

// Reads the open target whole. On failure fills failure_text; nothing has been written.
uint8_t* ReadWholeImage(FILE* target, PatchJob* job, uint32_t* imageSize) {
    const char* name = job->target_name;
    uint8_t* image = nullptr;
    switch (ReadWholeFile(target, &image, imageSize)) {
    case READ_WHOLE: return image;
    case READ_SIZE_UNKNOWN:
        sprintf_s(job->failure_text, "Nothing was changed!\r\n\r\nThe size of %s\r\ncould not be read.", name);
        break;
    case READ_TOO_LARGE:
        sprintf_s(job->failure_text, "Nothing was changed!\r\n\r\n%s is 4 GiB\r\nor larger.", name);
        break;
    case READ_NO_MEMORY:
        sprintf_s(job->failure_text, "Nothing was changed!\r\n\r\nNot enough memory\r\nto read %s.", name);
        break;
    case READ_SHORT:
        sprintf_s(job->failure_text, "Nothing was changed!\r\n\r\n%s could not\r\nbe read whole.", name);
        break;
    }
    return nullptr;
}

void ReportReopenFailure(PatchJob* job, OpenReason reason) {
    // Gone or replaced by a folder since the probe: the player is told that much, not nothing.
    if (OpenReasonText(reason)[0] == '\0') reason = OPEN_FAILED;
    sprintf_s(job->failure_text, "Nothing was changed!\r\n\r\n%s could not be\r\nopened again: %s", job->target_name,
              OpenReasonText(reason));
    const char* hint = OpenReasonHint(reason);
    if (hint[0] != '\0') {
        strcat_s(job->failure_text, "\r\n");
        strcat_s(job->failure_text, hint);
    }
}

// A busy or read-only backup is the player's business: it is not replaced behind their back.
bool MayReplace(const char* name) {
    const FileFacts facts = g_fileOps.inspect(name);
    if (!facts.exists) return true;
    FILE* existing = OpenForUpdate(name, nullptr);
    if (existing == nullptr) return false;
    g_fileOps.close(existing);
    return true;
}

// Writes the backup whole, or reports why not. The previous backup stays as it was until
// the new one is whole on the disk.
bool WriteBackup(const char* backupName, const uint8_t* image, uint32_t size, bool dryRun, PatchJob* job) {
    const bool written = MayReplace(backupName) && (dryRun || WriteFileAtomically(backupName, image, size, true));
    if (!written) {
        sprintf_s(job->failure_text, "Nothing was changed!\r\n\r\nThe backup %s\r\ncould not be written.", backupName);
    }
    return written;
}

// The contents as first found, kept once and never replaced: every later run's backup may
// already be a patched file.
bool KeepOriginal(const char* originalName, const uint8_t* image, uint32_t size, bool dryRun, PatchJob* job,
                  JobReport* report) {
    if (g_fileOps.inspect(originalName).exists) {
        report->originalExisted = true;
        return true;
    }
    if (!dryRun && !WriteFileAtomically(originalName, image, size, false)) {
        sprintf_s(job->failure_text, "Nothing was changed!\r\n\r\nThe original copy\r\n%s\r\ncould not be written.",
                  originalName);
        return false;
    }
    report->originalWritten = true;
    return true;
}

// A run that was cut off leaves at most its temporary copies; they are never a good copy.
void RemoveLeftovers(const char* const (&names)[2]) {
    for (const char* name : names) {
        char temporary[PATCH_TEXT_SIZE];
        if (TemporaryNameOf(name, temporary)) RemoveTemporary(temporary);
    }
}

bool WriteBack(FILE* target, const uint8_t* image, uint32_t size) {
    bool written = g_fileOps.rewind(target) && WriteWhole(target, image, size) && CommitFile(target);
    return (g_fileOps.close(target) == 0) && written;
}

}  // namespace

void RunPatchJob(PatchJob* job, JobReport* report) {
    JobReport ownReport;
    JobReport& r = report != nullptr ? *report : ownReport;
    const bool dryRun = r.dryRun;
    const RuleValues values = {job->aspect_ratio, job->camera_distance, job->fov_width};
    bool applied[RULE_COUNT] = {};

    ProbeCandidates(job->target_name, r.candidates);
    if (job->target_name[0] == '\0') {
        FormatNoTargetText(r.candidates, job->failure_text);
        return;
    }

    OpenReason reopenReason = OPEN_OK;
    FILE* target = OpenForUpdate(job->target_name, &reopenReason);
    if (target == nullptr) {
        ReportReopenFailure(job, reopenReason);
        return;
    }

    char backupName[PATCH_TEXT_SIZE];
    char originalName[PATCH_TEXT_SIZE];
    strcpy_s(backupName, job->target_name);
    strcat_s(backupName, ".bak");
    strcpy_s(originalName, job->target_name);
    strcat_s(originalName, ".orig");
    if (!dryRun) RemoveLeftovers({backupName, originalName});

    uint32_t size = 0;
    uint8_t* image = ReadWholeImage(target, job, &size);
    if (image == nullptr) {
        g_fileOps.close(target);
        return;
    }

    // Judged before this run's backup replaces the last one; only the console report tells it.
    bool alreadyPatched[RULE_COUNT] = {};
    if (report != nullptr) {
        KeptCopies kept;
        CheckKeptCopies(job->target_name, job->target_name, image, size, &kept);
        RulesAlreadyPatched(kept, alreadyPatched);
    }

    if (!WriteBackup(backupName, image, size, dryRun, job) ||
        !KeepOriginal(originalName, image, size, dryRun, job, &r)) {
        g_fileOps.close(target);
        g_fileOps.release(image);
        return;
    }
    r.backupWritten = true;

    ApplyPatchRules(image, size, values, job, applied, SCAN_FAST, r.rules);
    for (int rule = 0; rule < RULE_COUNT; ++rule) {
        if (r.rules[rule].reason == RULE_PATTERN_NOT_FOUND && alreadyPatched[rule]) {
            r.rules[rule].reason = RULE_ALREADY_PATCHED;
        }
    }

    bool writtenBack = true;
    if (dryRun) {
        g_fileOps.close(target);
    } else {
        writtenBack = WriteBack(target, image, size);
    }
    g_fileOps.release(image);
    if (!writtenBack) {
        sprintf_s(job->failure_text,
                  "Writing %s failed!\r\n\r\n%s holds\r\nthe previous contents:\r\ncopy it back to restore\r\nthe game.",
                  job->target_name, backupName);
    }

    for (int i = 0; i < RULE_COUNT; ++i) {
        const PatchRule rule = static_cast<PatchRule>(i);
        if (!applied[rule]) strcpy_s(RuleStatusLine(*job, rule), RuleNotUsedText(rule));
    }
}

unsigned PATCH_WORKER_API PatchWorker(void* job) {
    RunPatchJob(static_cast<PatchJob*>(job));
    return 0;
}
