#include "patch_state.h"

#include <cstdio>
#include <cstring>

#include "bounded_text.h"
#include "byte_scan.h"
#include "candidate_names.h"
#include "target_file.h"

namespace {

// The scans only write through their callback; these callbacks write nothing.
bool FirstOccurrence(const uint8_t* image, uint32_t size, const BytePattern& pattern, uint32_t* offset) {
    return ScanFast(const_cast<uint8_t*>(image), size, pattern, [image, offset](uint8_t* at) {
        *offset = static_cast<uint32_t>(at - image);
        return false;
    });
}

uint32_t CountOccurrences(const uint8_t* image, uint32_t size, const BytePattern& pattern) {
    uint32_t count = 0;
    ScanFast(const_cast<uint8_t*>(image), size, pattern, [&count](uint8_t*) {
        ++count;
        return true;
    });
    return count;
}

// Runs `rule` over `work` with the value the target holds at the rule's first hit, as a
// patch run with that value would. Returns false, writing nothing, when the target's bytes
// there are unchanged or are no value the rule writes (its guard).
bool RerunRule(PatchRule rule, uint8_t* work, uint32_t size, const uint8_t* target, RuleFinding* finding) {
    const RuleRow& row = RuleOf(rule);
    const uint8_t* written = target + finding->offset + row.span.offset;
    if (std::memcmp(written, work + finding->offset + row.span.offset, row.span.length) == 0) return false;
    RuleValue shown = {};
    uint32_t bits = 0;
    if (!row.readBack(ReadSpan(target + finding->offset, row), &shown, &bits)) return false;
    finding->bits = bits;
    finding->value = shown;
    return RunRule(rule, work, size, bits);
}

// Whether the target holds what a rule without a value leaves behind: its pattern with the
// write applied, which is then a pattern of its own. False for a rule with a value.
bool HoldsWrittenForm(PatchRule rule, const uint8_t* target, uint32_t size) {
    const RuleRow& row = RuleOf(rule);
    if (row.kind != VALUE_NONE) return false;
    BytePattern form = row.pattern;
    uint32_t bits = 0;
    row.encode(RuleValue(), &bits);
    row.write(form.bytes, row, bits);
    return CountOccurrences(target, size, form) != 0;
}

bool ReadFileWhole(const char* name, uint8_t** bytes, uint32_t* size) {
    FILE* file = std::fopen(name, "rb");
    if (file == nullptr) return false;
    const bool read = ReadWholeFile(file, bytes, size) == READ_WHOLE;
    std::fclose(file);
    return read;
}

}  // namespace

float AspectOfBits(uint32_t bits) {
    float aspect;
    std::memcpy(&aspect, &bits, sizeof aspect);
    return aspect;
}

bool CheckPatchedForm(const uint8_t* target, uint32_t targetSize, const uint8_t* copy, uint32_t copySize,
                      int candidate, PatchedForm* form) {
    *form = PatchedForm();
    if (targetSize != copySize) {
        form->sizesDiffer = true;
        form->firstDifference = targetSize < copySize ? targetSize : copySize;
        return false;
    }
    const uint32_t size = targetSize;
    form->identical = size == 0 || std::memcmp(target, copy, size) == 0;

    uint8_t* work = static_cast<uint8_t*>(g_fileOps.allocate(size));
    if (work == nullptr) {
        form->noMemory = true;
        return false;
    }
    if (size != 0) std::memcpy(work, copy, size);

    for (int i = 0; i < RULE_COUNT; ++i) {
        const PatchRule rule = static_cast<PatchRule>(i);
        RuleFinding& finding = form->rules[rule];
        const BytePattern& pattern = RuleOf(rule).pattern;
        finding.found = FirstOccurrence(work, size, pattern, &finding.offset);
        if (!finding.found) continue;
        finding.occurrences = CountOccurrences(work, size, pattern);
        if (!RuleMayRunOn(rule, candidate)) continue;
        finding.on = RerunRule(rule, work, size, target, &finding);
        if (!finding.on) {
            finding.bits = 0;
            finding.value = RuleValue();
        }
    }

    form->fits = true;
    for (uint32_t at = 0; at < size; ++at) {
        if (work[at] != target[at]) {
            form->fits = false;
            form->firstDifference = at;
            break;
        }
    }
    g_fileOps.release(work);
    return form->fits;
}

const char* KeptCopySuffix(KeptCopy copy) { return copy == COPY_BAK ? ".bak" : ".orig"; }

KeptCopies::~KeptCopies() {
    for (CopyCheck& copy : copies) {
        if (copy.bytes != nullptr) g_fileOps.release(copy.bytes);
    }
}

const CopyCheck* KeptCopies::Fitting() const {
    for (const CopyCheck& copy : copies) {
        if (copy.present && copy.form.fits) return &copy;
    }
    return nullptr;
}

void CheckKeptCopies(const char* targetPath, int candidate, const uint8_t* target, uint32_t targetSize,
                     KeptCopies* kept) {
    const FileIdentity targetIdentity = g_fileOps.identify(targetPath);
    for (int kind = 0; kind < COPY_KINDS; ++kind) {
        CopyCheck& copy = kept->copies[kind];
        // A path too long for the name leaves it empty, which names nothing: no copy.
        if (strcpy_s(copy.name, targetPath) == 0) strcat_s(copy.name, KeptCopySuffix(static_cast<KeptCopy>(kind)));
        if (copy.name[0] == '\0') continue;
        const FileIdentity identity = g_fileOps.identify(copy.name);
        copy.exists = identity.exists;
        if (!identity.exists) continue;
        if (!identity.regular) {
            copy.notAFile = true;
            continue;
        }
        if (SameFile(identity, targetIdentity)) {
            copy.sameFile = true;
            continue;
        }
        if (!ReadFileWhole(copy.name, &copy.bytes, &copy.size)) {
            copy.unreadable = true;
            continue;
        }
        copy.present = true;
        CheckPatchedForm(target, targetSize, copy.bytes, copy.size, candidate, &copy.form);
    }
    const CopyCheck& original = kept->copies[COPY_ORIG];
    const CopyCheck& backup = kept->copies[COPY_BAK];
    if (original.present && backup.present && backup.form.fits) {
        kept->backupFromOriginal = CheckPatchedForm(backup.bytes, backup.size, original.bytes, original.size,
                                                    candidate, &kept->backupForm) &&
                                   !kept->backupForm.identical;
    }
}

namespace {

// What is known of a rule through the copies: the fitting copy's own check, or where the
// rule wrote nothing since the backup, what it wrote into the backup.
RuleFinding FindingOf(const KeptCopies& kept, const CopyCheck& fitting, PatchRule rule) {
    const RuleFinding& own = fitting.form.rules[rule];
    if (!own.on && &fitting == &kept.copies[COPY_BAK] && kept.backupFromOriginal && kept.backupForm.rules[rule].on) {
        return kept.backupForm.rules[rule];
    }
    return own;
}

}  // namespace

void RulesAlreadyPatched(const KeptCopies& kept, bool (&patched)[RULE_COUNT]) {
    for (int rule = 0; rule < RULE_COUNT; ++rule) {
        patched[rule] = false;
        for (const CopyCheck& copy : kept.copies) {
            if (copy.present && copy.form.fits && FindingOf(kept, copy, static_cast<PatchRule>(rule)).on) {
                patched[rule] = true;
            }
        }
    }
}

const char* GameStateWord(GameState state) {
    switch (state) {
    case GAME_ORIGINAL: return "original";
    case GAME_PATCHED: return "patched";
    case GAME_UNKNOWN: break;
    }
    return "unknown";
}

void ReadGameStatus(const char* targetPath, int candidate, GameStatus* status) {
    status->targetRead = false;
    status->fitting = nullptr;
    status->state = GAME_UNKNOWN;
    for (RuleStatus& rule : status->rules) rule = RuleStatus();

    uint8_t* target = nullptr;
    uint32_t size = 0;
    if (!ReadFileWhole(targetPath, &target, &size)) return;
    status->targetRead = true;
    status->targetSize = size;
    CheckKeptCopies(targetPath, candidate, target, size, &status->copies);
    status->fitting = status->copies.Fitting();

    for (int i = 0; i < RULE_COUNT; ++i) {
        const PatchRule rule = static_cast<PatchRule>(i);
        RuleStatus& rs = status->rules[rule];
        rs.occurrences = CountOccurrences(target, size, RuleOf(rule).pattern);
        if (status->fitting != nullptr) {
            rs.finding = FindingOf(status->copies, *status->fitting, rule);
            rs.state = rs.finding.on ? RULE_STATE_PATCHED
                       : rs.finding.found || rs.occurrences != 0 ? RULE_STATE_ORIGINAL
                                                                 : RULE_STATE_NOT_FOUND;
        } else if (RuleOf(rule).kind == VALUE_NONE) {
            // A rule whose written form is a pattern of its own tells its state without a copy.
            rs.state = rs.occurrences != 0                          ? RULE_STATE_ORIGINAL
                       : HoldsWrittenForm(rule, target, size) ? RULE_STATE_PATCHED
                                                                : RULE_STATE_NOT_FOUND;
            rs.finding.on = rs.state == RULE_STATE_PATCHED;
        }
    }

    bool anyCopy = false;
    for (const CopyCheck& copy : status->copies.copies) {
        if (copy.present || copy.unreadable) anyCopy = true;
        if (copy.present && copy.form.fits && !copy.form.identical) status->state = GAME_PATCHED;
    }
    // A run that found nothing more to patch leaves a backup equal to the game, which is
    // then as patched as that backup is.
    const CopyCheck& backup = status->copies.copies[COPY_BAK];
    if (backup.present && backup.form.identical && status->copies.backupFromOriginal) status->state = GAME_PATCHED;
    // A backup is the original only where no original says otherwise.
    const CopyCheck& original = status->copies.copies[COPY_ORIG];
    if (status->state != GAME_PATCHED) {
        if (original.present && original.form.identical) status->state = GAME_ORIGINAL;
        if (backup.present && backup.form.identical && !original.present && !original.unreadable) {
            status->state = GAME_ORIGINAL;
        }
    }
    if (status->state == GAME_UNKNOWN && !anyCopy) {
        bool pristine = true;
        for (int i = 0; i < RULE_COUNT; ++i) {
            const PatchRule rule = static_cast<PatchRule>(i);
            if (!RuleMayRunOn(rule, candidate)) continue;
            if (status->rules[rule].occurrences == 0 || HoldsWrittenForm(rule, target, size)) pristine = false;
        }
        if (pristine) status->state = GAME_ORIGINAL;
    }
    g_fileOps.release(target);
}

GameState StateOfGame(const char* folder, const char* exeName) {
    char path[STATE_PATH_SIZE] = {};
    if (folder != nullptr && folder[0] != '\0') {
        strcpy_s(path, folder);
        const size_t length = std::strlen(path);
        if (length != 0 && path[length - 1] != '/' && path[length - 1] != '\\') strcat_s(path, "/");
        if (path[0] == '\0') return GAME_UNKNOWN;  // too long
    }
    if (strcat_s(path, exeName) != 0) return GAME_UNKNOWN;
    GameStatus status;
    ReadGameStatus(path, CandidateIndexOf(exeName), &status);
    return status.state;
}
