#include "patch_worker.h"

#include <algorithm>
#include <cstdio>
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

// The stretches the rules changed: every hit, the ones that overlap or touch joined, in
// offset order. Nothing else of the image differs from the game on the disk.
void ChangedSpans(const RuleReport (&rules)[RULE_COUNT], std::vector<WrittenSpan>* spans) {
    std::vector<WrittenSpan> hits;
    for (const RuleReport& rule : rules) {
        for (const RuleHit& hit : rule.hits) hits.push_back({hit.offset, hit.length, SPAN_NOT_READ});
    }
    std::sort(hits.begin(), hits.end(), [](const WrittenSpan& a, const WrittenSpan& b) { return a.offset < b.offset; });
    spans->clear();
    for (const WrittenSpan& hit : hits) {
        if (!spans->empty() && hit.offset <= spans->back().offset + spans->back().length) {
            WrittenSpan& last = spans->back();
            last.length = std::max(last.length, hit.offset + hit.length - last.offset);
        } else {
            spans->push_back(hit);
        }
    }
}

// Writes the changed stretches into the game in place, in offset order, and commits the
// file once. The copies are on the disk already, so a cut anywhere in here leaves a game
// that is the copy with some of the rules' writes: one the restore and --status explain.
bool WriteBack(FILE* target, const uint8_t* image, const std::vector<WrittenSpan>& spans, unsigned long* systemError) {
    ClearSystemError();
    bool written = true;
    for (const WrittenSpan& span : spans) {
        written = g_fileOps.writeAt(target, span.offset, image + span.offset, span.length);
        if (!written) break;
    }
    written = written && CommitFile(target);
    if (!written) *systemError = LastSystemError();
    ClearSystemError();
    const bool closed = g_fileOps.close(target) == 0;
    if (!closed && *systemError == 0) *systemError = LastSystemError();
    return closed && written;
}

// After a failed write-back: what the game on the disk holds at each changed stretch, against
// the image (patched) and the backup just written (the game before the run).
GameOnDisk ReadBack(const char* name, const char* backupName, const uint8_t* image, std::vector<WrittenSpan>* spans) {
    FILE* game = std::fopen(name, "rb");
    FILE* backup = std::fopen(backupName, "rb");
    bool anyPatched = false, anyBefore = false, anyPartly = false, anyUnreadable = false;
    std::vector<uint8_t> onDisk, before;
    for (WrittenSpan& span : *spans) {
        onDisk.resize(span.length);
        before.resize(span.length);
        if (game == nullptr || backup == nullptr || !g_fileOps.readAt(game, span.offset, onDisk.data(), span.length) ||
            !g_fileOps.readAt(backup, span.offset, before.data(), span.length)) {
            span.onDisk = SPAN_UNREADABLE;
        } else if (std::memcmp(onDisk.data(), image + span.offset, span.length) == 0) {
            span.onDisk = SPAN_PATCHED;
        } else if (std::memcmp(onDisk.data(), before.data(), span.length) == 0) {
            span.onDisk = SPAN_AS_BEFORE;
        } else {
            span.onDisk = SPAN_PARTLY;
        }
        anyPatched = anyPatched || span.onDisk == SPAN_PATCHED;
        anyBefore = anyBefore || span.onDisk == SPAN_AS_BEFORE;
        anyPartly = anyPartly || span.onDisk == SPAN_PARTLY;
        anyUnreadable = anyUnreadable || span.onDisk == SPAN_UNREADABLE;
    }
    if (game != nullptr) std::fclose(game);
    if (backup != nullptr) std::fclose(backup);
    if (anyUnreadable) return GAME_NOT_READ_BACK;
    if (anyPartly || (anyPatched && anyBefore)) return GAME_PARTLY_PATCHED;
    return anyBefore ? GAME_AS_IT_WAS : GAME_FULLY_PATCHED;
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

namespace {

// The bits a rule asked for in this job would write; false when it does not run.
bool AskedBits(const PatchJob& job, PatchRule rule, uint32_t* bits) {
    const RuleRequest& request = job.requests[rule];
    return request.on && RuleOf(rule).encode(request.value, bits);
}

// Every write of the model of the game, in the order the runs made them: those before the
// backup, then those since.
std::vector<RuleWrite> WritesInOrder(const KeptCopies& kept) {
    std::vector<RuleWrite> writes;
    if (kept.base == &kept.copies[COPY_BAK] && kept.backupChecked && kept.backupModel.fits) writes = kept.backupModel.writes;
    writes.insert(writes.end(), kept.base->model.writes.begin(), kept.base->model.writes.end());
    return writes;
}

// Whether a write of another rule made after the rule's write at `place` covers part of its
// span: those bytes are that rule's now, and a new value there would take its change away.
bool OverwrittenLater(const std::vector<RuleWrite>& writes, const RuleWrite& place) {
    size_t last = writes.size();
    for (size_t i = 0; i < writes.size(); ++i) {
        if (writes[i].rule == place.rule && writes[i].offset == place.offset) last = i;
    }
    const RuleWriteSpan& span = RuleOf(place.rule).span;
    const uint32_t from = place.offset + span.offset, to = from + span.length;
    for (size_t i = last + 1; i < writes.size(); ++i) {
        const RuleWriteSpan& other = RuleOf(writes[i].rule).span;
        const uint32_t otherFrom = writes[i].offset + other.offset;
        if (writes[i].rule != place.rule && otherFrom < to && from < otherFrom + other.length) return true;
    }
    return false;
}

// A rule asked for with another value than the game holds at its places: the new value goes
// there, as it would have at the first run. Only velmora-patch does this; the window keeps
// its texts.
void WriteNewValues(uint8_t* image, uint32_t size, const KeptCopies& kept, PatchJob* job, bool applied[RULE_COUNT],
                    RuleReport* reports) {
    if (kept.base == nullptr) return;
    const RuleReport before[RULE_COUNT] = {reports[0], reports[1], reports[2], reports[3]};
    const std::vector<RuleWrite> modelWrites = WritesInOrder(kept);
    std::vector<RuleHit> written;
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
            if (ReadSpan(at, row) == bits || OverwrittenLater(modelWrites, place)) continue;
            RuleHit hit = {};
            hit.offset = place.offset;
            hit.length = static_cast<uint8_t>(row.pattern.length);
            std::memcpy(hit.before, at, hit.length);
            if (!report.replaced) report.replacedBits = ReadSpan(at, row);
            report.replaced = true;
            row.write(at, row, bits);
            std::memcpy(hit.after, at, hit.length);
            report.hits.push_back(hit);
            written.push_back(hit);
        }
        if (report.replaced) {
            report.reason = RULE_USED;
            strcpy_s(job->status[rule], row.okText);
            applied[rule] = true;
        } else if (report.reason == RULE_PATTERN_NOT_FOUND && anyPlace) {
            report.reason = RULE_ALREADY_PATCHED;
        }
    }
    if (written.empty()) return;
    // A new value can take away a place another rule's write stands on (a chain): the
    // game must stay one the model explains, or the original could not be told any more.
    GameModel model;
    if (ExplainGame(image, size, kept.base->bytes, kept.base->size, job->candidate, &model, &kept.base->places)) return;
    for (size_t i = written.size(); i-- > 0;) std::memcpy(image + written[i].offset, written[i].before, written[i].length);
    for (int rule = 0; rule < RULE_COUNT; ++rule) {
        if (!reports[rule].replaced) continue;
        reports[rule] = before[rule];
        if (reports[rule].reason == RULE_PATTERN_NOT_FOUND) reports[rule].reason = RULE_ALREADY_PATCHED;
        if (reports[rule].reason != RULE_USED) {
            applied[rule] = false;
            job->status[rule][0] = '\0';
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
    ProbeCandidates(r.exe, &survey, job->target_name, r.candidates, &r.files, r.readOnlyProbe);
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

    // A dry run writes nothing: it reads the game as --status does, running or read-only.
    OpenReason reopenReason = OPEN_OK;
    FILE* target = dryRun ? OpenForReading(job->target_name, &reopenReason)
                          : OpenForUpdate(job->target_name, &reopenReason);
    if (target == nullptr) {
        if (reopenReason == OPEN_NOT_REGULAR) return RefuseNotAFile(job, &r);
        ReportReopenFailure(job, reopenReason);
        return;
    }
    const char* name = job->target_name;

    // Every refusal comes before the first write, so that a refused run leaves every file as
    // it was.
    const FileIdentity targetIdentity = g_fileOps.identify(name);
    if (!SameFile(g_fileOps.identifyOpen(target), targetIdentity)) {
        // Replaced between the probe and the open: by something other than this tool.
        sprintf_s(job->failure_text, "Nothing was changed!\r\n\r\n%s was replaced\r\nwhile it was opened.", name);
        return Stop(target, nullptr);
    }

    uint32_t size = 0;
    uint8_t* image = ReadWholeImage(target, job, &size);
    if (image == nullptr) return Stop(target, nullptr);

    // The copies, found in any case, and the model of the game from them: judged before
    // this run's backup replaces the last one.
    KeptCopies kept;
    kept.backupOnlyIfNeeded = true;
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
    if (targetIdentity.links > 1) {
        RefuseHardLinks(job, &r, targetIdentity.links - 1);
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
    if (!dryRun && StopBeforeNextStep(false, job, &r)) return Stop(target, image);
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
        if (!dryRun) {
            AtomicWrite how;
            how.replace = !moved && originalCopy.empty;
            // Made from the game's own file where the file system can share or copy it.
            how.source = originalBytes == image ? target : nullptr;
            const WriteOutcome outcome = WriteFileAtomically(originalName, originalBytes, originalSize, &how);
            r.systemError = how.systemError;
            r.originalMethod = how.method;
            if (!CopyWritten(outcome, originalName, false, job, &r, &r.originalWritten)) {
                // Not in place: the previous original goes back under its name, and nothing
                // else has changed.
                if (moved && !r.originalWritten) g_fileOps.move(r.previousOriginal, originalName, false);
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

    if (!dryRun && StopBeforeNextStep(r.originalWritten, job, &r)) return Stop(target, image);
    if (!dryRun) {
        AtomicWrite how;
        how.source = target;
        const WriteOutcome outcome = WriteFileAtomically(backupName, image, size, &how);
        r.systemError = how.systemError;
        r.backupMethod = how.method;
        if (!CopyWritten(outcome, backupName, true, job, &r, &r.backupWritten)) {
            if (outcome == WRITE_FAILED) ReportBackupFailure(backupName, r.originalWritten && originalCopy.empty, job);
            if (outcome != WRITE_STOPPED) r.failedStep = STEP_BACKUP;
            return Stop(target, image);
        }
    } else {
        r.backupWritten = true;
    }

    ApplyPatchRules(image, size, job, applied, SCAN_FAST, r.rules);
    if (report != nullptr) WriteNewValues(image, size, kept, job, applied, r.rules);
    ChangedSpans(r.rules, &r.spans);

    // The last moment to stop: the write-back, once begun, is finished whatever comes.
    if (!dryRun && StopBeforeNextStep(true, job, &r)) return Stop(target, image);
    bool writtenBack = true;
    if (dryRun) {
        g_fileOps.close(target);
    } else {
        writtenBack = WriteBack(target, image, r.spans, &r.systemError);
        r.gameWritten = writtenBack;
    }
    if (!writtenBack) r.gameOnDisk = ReadBack(name, backupName, image, &r.spans);
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
