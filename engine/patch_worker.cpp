#include "patch_worker.h"

#include "bounded_text.h"
#include "candidates.h"
#include "job_report.h"
#include "patch_rules.h"
#include "patch_state.h"
#include "result_text.h"
#include "target_file.h"

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

void ReportBackupFailure(const char* backupName, bool changedACopy, PatchJob* job) {
    // A copy that was there before and has been replaced by now makes "nothing" untrue.
    sprintf_s(job->failure_text, "%s\r\n\r\nThe backup %s\r\ncould not be written.",
              changedACopy ? "The game was not changed!" : "Nothing was changed!", backupName);
}

// What is under the name of the kept original before the run.
enum OriginalState {
    ORIGINAL_ABSENT,
    ORIGINAL_EMPTY,       // a 0-byte file: no original, and replaced by the first real one
    ORIGINAL_KEPT,        // a file of its own with contents: left alone
    ORIGINAL_NOT_A_FILE,  // a folder, a device, or what cannot be told
    ORIGINAL_IS_TARGET,   // the target itself under a second name (a hard or symbolic link)
};

OriginalState StateOfOriginal(const char* originalName, const FileIdentity& target) {
    const FileIdentity original = g_fileOps.identify(originalName);
    if (!original.exists) return ORIGINAL_ABSENT;
    if (!original.regular) return ORIGINAL_NOT_A_FILE;
    if (SameFile(original, target)) return ORIGINAL_IS_TARGET;
    return original.size == 0 ? ORIGINAL_EMPTY : ORIGINAL_KEPT;
}

// A run that was cut off leaves at most its temporary copies; they are never a good copy.
void RemoveLeftovers(const char* const (&names)[2]) {
    for (const char* name : names) {
        char temporary[PATCH_TEXT_SIZE];
        if (TemporaryNameOf(name, temporary)) RemoveTemporary(temporary);
    }
}

bool WriteBack(FILE* target, const uint8_t* image, uint32_t size, unsigned long* systemError) {
    ClearSystemError();
    bool written = g_fileOps.rewind(target) && WriteWhole(target, image, size) && CommitFile(target);
    if (!written) *systemError = LastSystemError();
    ClearSystemError();
    const bool closed = g_fileOps.close(target) == 0;
    if (!closed && *systemError == 0) *systemError = LastSystemError();
    return closed && written;
}

// Stops a run before anything is written.
void Stop(FILE* target, uint8_t* image) {
    g_fileOps.close(target);
    if (image != nullptr) g_fileOps.release(image);
}

}  // namespace

void RunPatchJob(PatchJob* job, JobReport* report) {
    JobReport ownReport;
    JobReport& r = report != nullptr ? *report : ownReport;
    const bool dryRun = r.dryRun;
    bool applied[RULE_COUNT] = {};

    HolderSurvey survey;
    ProbeCandidates(r.exe, &survey, job->target_name, r.candidates, &r.files);
    r.uncheckedProcesses = survey.UncheckedProcesses();
    job->candidate = CandidateIndexOf(job->target_name);
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
    const char* name = job->target_name;

    char backupName[PATCH_TEXT_SIZE];
    char originalName[PATCH_TEXT_SIZE];
    strcpy_s(backupName, name);
    strcat_s(backupName, ".bak");
    strcpy_s(originalName, name);
    strcat_s(originalName, ".orig");

    // Every refusal comes before the first write, so that a refused run leaves every file as
    // it was.
    const FileIdentity targetIdentity = g_fileOps.identify(name);
    if (SameFile(g_fileOps.identify(backupName), targetIdentity)) {
        ReportBackupFailure(backupName, false, job);
        return Stop(target, nullptr);
    }
    const OriginalState original = StateOfOriginal(originalName, targetIdentity);
    if (original == ORIGINAL_NOT_A_FILE) {
        sprintf_s(job->failure_text, "Nothing was changed!\r\n\r\n%s\r\nis not a file.", originalName);
        return Stop(target, nullptr);
    }
    if (original == ORIGINAL_IS_TARGET) {
        sprintf_s(job->failure_text, "Nothing was changed!\r\n\r\n%s is\r\nthe same file as %s.", originalName, name);
        return Stop(target, nullptr);
    }

    uint32_t size = 0;
    uint8_t* image = ReadWholeImage(target, job, &size);
    if (image == nullptr) return Stop(target, nullptr);
    if (!MayReplace(backupName)) {
        ReportBackupFailure(backupName, false, job);
        return Stop(target, image);
    }

    // Judged before this run's backup replaces the last one; only the console report tells it.
    bool alreadyPatched[RULE_COUNT] = {};
    if (report != nullptr) {
        KeptCopies kept;
        CheckKeptCopies(job->target_name, job->candidate, image, size, &kept);
        RulesAlreadyPatched(kept, alreadyPatched);
    }

    // The original first: if it cannot be written, the old backup is still the old one. An
    // empty file is no original: none is kept of it, and an empty one is no kept original.
    if (!dryRun) RemoveLeftovers({backupName, originalName});
    const bool originalDue = (original == ORIGINAL_ABSENT || original == ORIGINAL_EMPTY) && size > 0;
    if (originalDue) {
        if (!dryRun && !WriteFileAtomically(originalName, image, size, original == ORIGINAL_EMPTY, &r.systemError)) {
            sprintf_s(job->failure_text, "Nothing was changed!\r\n\r\nThe original copy\r\n%s\r\ncould not be written.",
                      originalName);
            r.failedStep = STEP_ORIGINAL;
            return Stop(target, image);
        }
        r.originalWritten = true;
    }
    r.originalExisted = original == ORIGINAL_KEPT;

    if (!dryRun && !WriteFileAtomically(backupName, image, size, true, &r.systemError)) {
        ReportBackupFailure(backupName, r.originalWritten && original == ORIGINAL_EMPTY, job);
        r.failedStep = STEP_BACKUP;
        return Stop(target, image);
    }
    r.backupWritten = true;

    ApplyPatchRules(image, size, job, applied, SCAN_FAST, r.rules);
    for (int rule = 0; rule < RULE_COUNT; ++rule) {
        if (r.rules[rule].reason == RULE_PATTERN_NOT_FOUND && alreadyPatched[rule]) {
            r.rules[rule].reason = RULE_ALREADY_PATCHED;
        }
    }

    bool writtenBack = true;
    if (dryRun) {
        g_fileOps.close(target);
    } else {
        writtenBack = WriteBack(target, image, size, &r.systemError);
    }
    g_fileOps.release(image);
    if (!writtenBack) {
        r.failedStep = STEP_WRITE_BACK;
        sprintf_s(job->failure_text,
                  "Writing %s failed!\r\n\r\n%s holds\r\nthe previous contents:\r\ncopy it back to restore\r\nthe game.",
                  name, backupName);
    }

    for (int rule = 0; rule < RULE_COUNT; ++rule) {
        if (!applied[rule]) strcpy_s(job->status[rule], RULE_TABLE[rule].notUsedText);
    }
}

unsigned PATCH_WORKER_API PatchWorker(void* job) {
    RunPatchJob(static_cast<PatchJob*>(job));
    return 0;
}
