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

// One line for the console and the refusal in the window's words, for a game the run
// will not touch as it is.
void RefuseGame(PatchJob* job, JobReport* r, const char* windowText, const char* line, const char* hint) {
    strcpy_s(job->failure_text, windowText);
    strcpy_s(r->refusal, line);
    strcpy_s(r->refusalHint, hint);
}

// A game with more names than the one in this folder is the same file elsewhere too: writing
// it in place would patch every one of them.
void RefuseHardLinks(PatchJob* job, JobReport* r, uint32_t otherNames) {
    const char* names = otherNames == 1 ? "name" : "names";
    char text[PATCH_TEXT_SIZE];
    char line[PATCH_TEXT_SIZE];
    sprintf_s(text, "Nothing was changed!\r\n\r\n%s has %lu other %s\r\n(hard links): patching would\r\nchange them too.",
              job->target_name, static_cast<unsigned long>(otherNames), names);
    sprintf_s(line, "%s has %lu other %s (hard links): patching would change them too", job->target_name,
              static_cast<unsigned long>(otherNames), names);
    RefuseGame(job, r, text, line, HARD_LINKS_HINT);
}

void RefuseNotAFile(PatchJob* job, JobReport* r) {
    char text[PATCH_TEXT_SIZE];
    char line[PATCH_TEXT_SIZE];
    sprintf_s(text, "Nothing was changed!\r\n\r\n%s\r\nis not a file.", job->target_name);
    sprintf_s(line, "%s is not a file", job->target_name);
    RefuseGame(job, r, text, line, "");
}

// A stop signal ended the run before the write-back: the game is as it was.
void FormatStoppedText(PatchJob* job, bool anyCopyWritten) {
    if (anyCopyWritten) {
        sprintf_s(job->failure_text, "Stopped!\r\n\r\n%s was not changed;\r\nits copies are written.", job->target_name);
    } else {
        sprintf_s(job->failure_text, "Stopped!\r\n\r\nNothing was changed:\r\n%s is as it was.", job->target_name);
    }
}

// The copy's step is over: false when the run must end here, with the job's text filled.
bool CopyWritten(WriteOutcome outcome, const char* copyName, bool gameChangedNot, PatchJob* job, JobReport* r,
                 bool* written) {
    *written = outcome == WRITE_DONE || outcome == WRITE_NOT_SAFE;
    switch (outcome) {
    case WRITE_DONE: return true;
    case WRITE_NOT_SAFE:
        r->notSafe = true;
        sprintf_s(job->failure_text, "The game was not changed!\r\n\r\n%s was written,\r\nbut it is not yet safe\r\non the disk.",
                  copyName);
        return false;
    case WRITE_STOPPED:
        r->stopped = true;
        FormatStoppedText(job, gameChangedNot);
        return false;
    case WRITE_FAILED: break;
    }
    return false;
}

bool StopBeforeNextStep(bool anyCopyWritten, PatchJob* job, JobReport* r) {
    if (!StopRequested()) return false;
    r->stopped = true;
    if (job->target_name[0] == '\0') {
        strcpy_s(job->failure_text, "Stopped!\r\n\r\nNothing was changed.");
    } else {
        FormatStoppedText(job, anyCopyWritten);
    }
    return true;
}

}  // namespace

void RunPatchJob(PatchJob* job, JobReport* report) {
    JobReport ownReport;
    JobReport& r = report != nullptr ? *report : ownReport;
    const bool dryRun = r.dryRun;
    bool applied[RULE_COUNT] = {};

    // Held from the first look at the files to the last move: a second run waits, and no
    // run removes or replaces what this one is writing. A dry run writes nothing to guard.
    FolderHold hold;
    if (!dryRun && !hold.Take()) {
        if (!StopBeforeNextStep(false, job, &r)) {
            r.folderBusy = true;
            strcpy_s(job->failure_text, "Nothing was changed!\r\n\r\nAnother velmora-patch is\r\nworking in this folder.");
        }
        return;
    }
    HolderSurvey survey;
    ProbeCandidates(r.exe, &survey, job->target_name, r.candidates, &r.files);
    r.uncheckedProcesses = survey.UncheckedProcesses();
    r.processView = survey.View();
    job->candidate = CandidateIndexOf(job->target_name);
    if (job->target_name[0] == '\0') {
        r.othersMayOpen = false;
        for (int i = 0; i < r.files.count; ++i) r.othersMayOpen = r.othersMayOpen || OthersMayOpen(r.files.files[i].name);
        FormatNoTargetText(r.candidates, job->failure_text);
        return;
    }
    r.othersMayOpen = OthersMayOpen(job->target_name);

    OpenReason reopenReason = OPEN_OK;
    FILE* target = OpenForUpdate(job->target_name, &reopenReason);
    if (target == nullptr) {
        if (reopenReason == OPEN_NOT_REGULAR) return RefuseNotAFile(job, &r);
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
    if (!SameFile(g_fileOps.identifyOpen(target), targetIdentity)) {
        // Replaced between the probe and the open: by something other than this tool.
        sprintf_s(job->failure_text, "Nothing was changed!\r\n\r\n%s was replaced\r\nwhile it was opened.", name);
        return Stop(target, nullptr);
    }
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
    if (targetIdentity.links > 1) {
        RefuseHardLinks(job, &r, targetIdentity.links - 1);
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
    if (!dryRun && StopBeforeNextStep(false, job, &r)) return Stop(target, image);
    const bool originalDue = (original == ORIGINAL_ABSENT || original == ORIGINAL_EMPTY) && size > 0;
    if (originalDue) {
        if (!dryRun) {
            AtomicWrite how;
            how.replace = original == ORIGINAL_EMPTY;
            const WriteOutcome outcome = WriteFileAtomically(originalName, image, size, &how);
            r.systemError = how.systemError;
            if (!CopyWritten(outcome, originalName, false, job, &r, &r.originalWritten)) {
                if (outcome == WRITE_FAILED) {
                    sprintf_s(job->failure_text,
                              "Nothing was changed!\r\n\r\nThe original copy\r\n%s\r\ncould not be written.", originalName);
                }
                if (outcome != WRITE_STOPPED) r.failedStep = STEP_ORIGINAL;
                return Stop(target, image);
            }
        } else {
            r.originalWritten = true;
        }
    }
    r.originalExisted = original == ORIGINAL_KEPT;

    if (!dryRun && StopBeforeNextStep(r.originalWritten, job, &r)) return Stop(target, image);
    if (!dryRun) {
        AtomicWrite how;
        const WriteOutcome outcome = WriteFileAtomically(backupName, image, size, &how);
        r.systemError = how.systemError;
        if (!CopyWritten(outcome, backupName, true, job, &r, &r.backupWritten)) {
            if (outcome == WRITE_FAILED) ReportBackupFailure(backupName, r.originalWritten && original == ORIGINAL_EMPTY, job);
            if (outcome != WRITE_STOPPED) r.failedStep = STEP_BACKUP;
            return Stop(target, image);
        }
    } else {
        r.backupWritten = true;
    }

    ApplyPatchRules(image, size, job, applied, SCAN_FAST, r.rules);
    for (int rule = 0; rule < RULE_COUNT; ++rule) {
        if (r.rules[rule].reason == RULE_PATTERN_NOT_FOUND && alreadyPatched[rule]) {
            r.rules[rule].reason = RULE_ALREADY_PATCHED;
        }
    }

    // The last moment to stop: the write-back, once begun, is finished whatever comes.
    if (!dryRun && StopBeforeNextStep(true, job, &r)) return Stop(target, image);
    bool writtenBack = true;
    if (dryRun) {
        g_fileOps.close(target);
    } else {
        writtenBack = WriteBack(target, image, size, &r.systemError);
        r.gameWritten = writtenBack;
    }
    g_fileOps.release(image);
    if (!writtenBack) {
        r.failedStep = STEP_WRITE_BACK;
        sprintf_s(job->failure_text,
                  "Writing %s failed!\r\n\r\n%s holds\r\nthe previous contents:\r\ncopy it back to restore\r\nthe game.",
                  name, backupName);
    }
    if (!dryRun && StopRequested()) r.stopped = true;

    for (int rule = 0; rule < RULE_COUNT; ++rule) {
        if (!applied[rule]) strcpy_s(job->status[rule], RULE_TABLE[rule].notUsedText);
    }
}

unsigned PATCH_WORKER_API PatchWorker(void* job) {
    RunPatchJob(static_cast<PatchJob*>(job));
    return 0;
}
