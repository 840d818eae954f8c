#include "patch_worker.h"

#include <cstring>
#include <vector>

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

namespace {

// The bits a rule asked for in this job would write; false when it does not run.
bool AskedBits(const PatchJob& job, PatchRule rule, uint32_t* bits) {
    const RuleRequest& request = job.requests[rule];
    return request.on && RuleOf(rule).encode(request.value, bits);
}

// A rule asked for with another value than the game holds at its places: the new value goes
// there, as it would have at the first run. Only velmora-patch does this; the window keeps
// its texts.
void WriteNewValues(uint8_t* image, const KeptCopies& kept, PatchJob* job, bool applied[RULE_COUNT],
                    RuleReport* reports) {
    for (int i = 0; i < RULE_COUNT; ++i) {
        const PatchRule rule = static_cast<PatchRule>(i);
        RuleReport& report = reports[rule];
        if (report.reason != RULE_USED && report.reason != RULE_PATTERN_NOT_FOUND) continue;
        uint32_t bits = 0;
        if (!AskedBits(*job, rule, &bits)) continue;
        std::vector<RuleWrite> places;
        RulePlaces(kept, rule, &places);
        const RuleRow& row = RuleOf(rule);
        bool anyPlace = false;
        for (const RuleWrite& place : places) {
            anyPlace = true;
            uint8_t* at = image + place.offset;
            if (ReadSpan(at, row) == bits) continue;
            RuleHit hit = {};
            hit.offset = place.offset;
            hit.length = static_cast<uint8_t>(row.pattern.length);
            std::memcpy(hit.before, at, hit.length);
            if (!report.replaced) report.replacedBits = ReadSpan(at, row);
            report.replaced = true;
            row.write(at, row, bits);
            std::memcpy(hit.after, at, hit.length);
            report.hits.push_back(hit);
        }
        if (report.replaced) {
            report.reason = RULE_USED;
            strcpy_s(job->status[rule], row.okText);
            applied[rule] = true;
        } else if (report.reason == RULE_PATTERN_NOT_FOUND && anyPlace) {
            report.reason = RULE_ALREADY_PATCHED;
        }
    }
}

bool NameInto(const char* name, char (&into)[PATCH_TEXT_SIZE]) { return strcpy_s(into, name) == 0; }

// The next free <name>.N for the previous original.
bool FreeNumberedName(const char* name, char (&numbered)[PATCH_TEXT_SIZE]) {
    for (unsigned n = 1; n < 10000; ++n) {
        char suffix[16];
        sprintf_s(suffix, ".%u", n);
        if (strcpy_s(numbered, name) != 0 || strcat_s(numbered, suffix) != 0) return false;
        if (g_fileOps.entryKind(numbered) == ENTRY_NONE) return true;
    }
    return false;
}

}  // namespace

void RunPatchJob(PatchJob* job, JobReport* report) {
    JobReport ownReport;
    JobReport& r = report != nullptr ? *report : ownReport;
    const bool dryRun = r.dryRun;
    bool applied[RULE_COUNT] = {};

    HolderSurvey survey;
    ProbeCandidates(r.exe, &survey, job->target_name, r.candidates, &r.files, r.readOnlyProbe);
    r.uncheckedProcesses = survey.UncheckedProcesses();
    job->candidate = CandidateIndexOf(job->target_name);
    if (job->target_name[0] == '\0') {
        FormatNoTargetText(r.candidates, job->failure_text);
        if (dryRun && report != nullptr && !r.readOnlyProbe) {
            // Not make_shared: its type_info lookup brings in the exception machinery and the
            // threads library, which velmora-patch.exe must do without.
            std::shared_ptr<ReadOnlyLook> look(new ReadOnlyLook());
            look->job = *job;
            look->job.target_name[0] = look->job.failure_text[0] = '\0';
            look->report.dryRun = true;
            look->report.exe = r.exe;
            look->report.readOnlyProbe = true;
            RunPatchJob(&look->job, &look->report);
            if (look->job.target_name[0] != '\0') r.look = look;
        }
        return;
    }

    // A dry run writes nothing: it reads the game as --status does, running or read-only.
    OpenReason reopenReason = OPEN_OK;
    FILE* target = dryRun ? OpenForReading(job->target_name, &reopenReason)
                          : OpenForUpdate(job->target_name, &reopenReason);
    if (target == nullptr) {
        ReportReopenFailure(job, reopenReason);
        return;
    }
    const char* name = job->target_name;

    uint32_t size = 0;
    uint8_t* image = ReadWholeImage(target, job, &size);
    if (image == nullptr) return Stop(target, nullptr);

    // The copies, found in any case, and the model of the game from them: judged before
    // this run's backup replaces the last one.
    KeptCopies kept;
    CheckKeptCopies(name, job->candidate, image, size, &kept);
    const CopyCheck& originalCopy = kept.Original();
    const CopyCheck& backupCopy = kept.Backup();
    char backupName[PATCH_TEXT_SIZE];
    char originalName[PATCH_TEXT_SIZE];
    if (!NameInto(backupCopy.name, backupName) || !NameInto(originalCopy.name, originalName)) {
        sprintf_s(job->failure_text, "Nothing was changed!\r\n\r\nThe names of the copies\r\nof %s are too long.", name);
        return Stop(target, image);
    }
    strcpy_s(r.backupName, backupName);
    strcpy_s(r.originalName, originalName);

    // Every refusal comes before the first write, so that a refused run leaves every file as
    // it was.
    for (const CopyCheck& copy : kept.copies) {
        if (copy.twin[0] == '\0') continue;
        sprintf_s(job->failure_text, "Nothing was changed!\r\n\r\n%s\r\nand %s\r\nare both there: which one\r\nis the copy cannot be told.",
                  copy.name, copy.twin);
        return Stop(target, image);
    }
    if (backupCopy.sameFile) {
        ReportBackupFailure(backupName, false, job);
        return Stop(target, image);
    }
    if (originalCopy.notAFile) {
        sprintf_s(job->failure_text, "Nothing was changed!\r\n\r\n%s\r\nis not a file.", originalName);
        return Stop(target, image);
    }
    if (originalCopy.sameFile) {
        sprintf_s(job->failure_text, "Nothing was changed!\r\n\r\n%s is\r\nthe same file as %s.", originalName, name);
        return Stop(target, image);
    }
    if (!MayReplace(backupName)) {
        ReportBackupFailure(backupName, false, job);
        return Stop(target, image);
    }
    // A busy or unreadable backup may hold the only original: it is neither judged blind
    // nor replaced.
    if (backupCopy.unreadable) {
        ReportBackupFailure(backupName, false, job);
        return Stop(target, image);
    }
    if (originalCopy.unreadable) {
        sprintf_s(job->failure_text, "Nothing was changed!\r\n\r\n%s could not\r\nbe read whole.", originalName);
        return Stop(target, image);
    }

    // The original is only ever kept from an unpatched file: the game when the model shows
    // it unpatched, else the backup when it holds the game unpatched. A store update is the
    // new original; the previous one is moved aside, never deleted.
    const bool noOriginal = !originalCopy.present;
    const uint8_t* originalBytes = nullptr;
    uint32_t originalSize = 0;
    if ((noOriginal || kept.newVersion) && kept.original == HELD_BY_GAME && size > 0) {
        originalBytes = image;
        originalSize = size;
        r.originalFrom = ORIGINAL_FROM_GAME;
    } else if (noOriginal && kept.original == HELD_BY_BAK) {
        originalBytes = backupCopy.bytes;
        originalSize = backupCopy.size;
        r.originalFrom = ORIGINAL_FROM_BACKUP;
    } else if (noOriginal) {
        r.originalNowhere = size > 0;
    }
    r.originalExisted = originalCopy.present && originalBytes == nullptr;

    if (!dryRun) RemoveLeftovers({backupName, originalName});
    if (originalBytes != nullptr) {
        bool moved = false;
        if (originalCopy.present) {
            char previous[PATCH_TEXT_SIZE];
            if (!FreeNumberedName(originalName, previous) || (!dryRun && !g_fileOps.move(originalName, previous, false))) {
                r.systemError = LastSystemError();
                sprintf_s(job->failure_text, "Nothing was changed!\r\n\r\n%s could not\r\nbe moved aside.", originalName);
                r.failedStep = STEP_ORIGINAL;
                return Stop(target, image);
            }
            strcpy_s(r.previousOriginal, previous);
            moved = true;
        }
        if (!dryRun && !WriteFileAtomically(originalName, originalBytes, originalSize, originalCopy.empty, &r.systemError)) {
            // The previous original goes back under its name: nothing else has changed.
            if (moved) g_fileOps.move(r.previousOriginal, originalName, false);
            sprintf_s(job->failure_text, "Nothing was changed!\r\n\r\nThe original copy\r\n%s\r\ncould not be written.",
                      originalName);
            r.failedStep = STEP_ORIGINAL;
            return Stop(target, image);
        }
        r.originalWritten = true;
    }

    if (!dryRun && !WriteFileAtomically(backupName, image, size, true, &r.systemError)) {
        ReportBackupFailure(backupName, r.originalWritten && originalCopy.empty, job);
        r.failedStep = STEP_BACKUP;
        return Stop(target, image);
    }
    r.backupWritten = true;

    ApplyPatchRules(image, size, job, applied, SCAN_FAST, r.rules);
    if (report != nullptr) WriteNewValues(image, kept, job, applied, r.rules);

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
