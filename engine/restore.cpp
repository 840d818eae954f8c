#include "restore.h"

#include <cstring>
#include <string>

#include "bounded_text.h"
#include "candidates.h"
#include "platform.h"
#include "patch_worker.h"
#include "rule_table.h"
#include "result_text.h"

namespace {

// A whole file in memory, released with the table's own release.
struct Image {
    uint8_t* bytes = nullptr;
    uint32_t size = 0;
    Image() = default;
    Image(const Image&) = delete;
    Image& operator=(const Image&) = delete;
    ~Image() {
        if (bytes != nullptr) g_fileOps.release(bytes);
    }
};

void Fail(RestoreResult* result, RestoreOutcome outcome) { result->outcome = outcome; }

// One line of the refusal for each copy: why it is not the game's original.
std::string WhyNot(const RestoreCopy& copy, const char* target, uint32_t targetSize) {
    char line[PATCH_TEXT_SIZE * 2];
    if (copy.notAFile) {
        sprintf_s(line, "%s is not a file", copy.name);
    } else if (copy.sameFile) {
        sprintf_s(line, "%s is the same file as %s", copy.name, target);
    } else if (copy.empty) {
        sprintf_s(line, "%s is empty", copy.name);
    } else if (!copy.checked) {
        sprintf_s(line, "no %s", copy.name);
    } else if (copy.sizesDiffer) {
        // Both sizes are under 4 GiB, so they fit an unsigned long on every build: the
        // msvcrt of Windows XP formats no %ll.
        sprintf_s(line, "%s: the sizes differ\r\n(%lu and %lu bytes)", copy.name, static_cast<unsigned long>(targetSize),
                  static_cast<unsigned long>(copy.size));
    } else {
        sprintf_s(line, "%s: byte 0x%lX differs", copy.name, static_cast<unsigned long>(copy.firstDifference));
    }
    return line;
}

void PutText(RestoreResult* result, const std::string& text) {
    if (strcpy_s(result->text, text.c_str()) != 0) {
        // Names are short enough that this never happens; a cut text would mislead.
        strcpy_s(result->text, "The result is too long to show.");
    }
}

// The rules whose changes a copy that is put back still holds.
void RulesInCopy(const KeptCopies& kept, const CopyCheck& copy, int candidate, bool (&rules)[RULE_COUNT]) {
    const CopyCheck& original = kept.Original();
    for (int i = 0; i < RULE_COUNT; ++i) {
        const PatchRule rule = static_cast<PatchRule>(i);
        if (&copy == &kept.Backup() && kept.backupChecked && kept.backupModel.fits) {
            rules[rule] = kept.backupModel.Patched(rule);
        } else {
            // No original explains it: the rules that find fewer of their patterns than in the original.
            const size_t reference = original.present && &copy != &original ? original.places.offsets[rule].size() : 1;
            rules[rule] = RuleMayRunOn(rule, candidate) && copy.places.offsets[rule].size() < reference;
        }
    }
}

std::string RuleList(const bool (&rules)[RULE_COUNT]) {
    std::string list;
    for (int rule = 0; rule < RULE_COUNT; ++rule) {
        if (!rules[rule]) continue;
        if (!list.empty()) list += ", ";
        list += RuleOf(static_cast<PatchRule>(rule)).name;
    }
    return list;
}

// The game's executable is not there: a copy beside one candidate's name is put back under
// it, .orig before .bak; the last candidate with a copy, as the probe takes the last game.
bool RestoreMissingGame(const char* exe, RestoreResult* result) {
    int chosenCandidate = -1;
    char chosenCopy[PATCH_TEXT_SIZE] = {};
    int only = exe != nullptr && exe[0] != '\0' ? CandidateIndexOf(exe) : -1;
    if (exe != nullptr && exe[0] != '\0' && only < 0) return false;
    for (int i = 0; i < TARGET_CANDIDATE_COUNT; ++i) {
        if (only >= 0 && i != only) continue;
        for (int kind = 0; kind < COPY_KINDS; ++kind) {
            char wanted[PATCH_TEXT_SIZE];
            if (strcpy_s(wanted, TARGET_CANDIDATES[i]) != 0 || strcat_s(wanted, KeptCopySuffix(static_cast<KeptCopy>(kind))) != 0) continue;
            char names[2][PATCH_TEXT_SIZE];
            const int count = NamesInAnyCase(wanted, names[0], 2, PATCH_TEXT_SIZE);
            if (count != 1) continue;  // none, or two that differ only in case
            const FileIdentity identity = g_fileOps.identify(names[0]);
            if (!identity.exists || !identity.regular || identity.size == 0) continue;
            chosenCandidate = i;
            strcpy_s(chosenCopy, names[0]);
            break;
        }
    }
    if (chosenCandidate < 0) return false;

    // The game's name as the copy spells it, so that the two stay together.
    char name[PATCH_TEXT_SIZE];
    strcpy_s(name, chosenCopy);
    name[std::strlen(TARGET_CANDIDATES[chosenCandidate])] = '\0';
    strcpy_s(result->target_name, name);
    strcpy_s(result->copy_name, chosenCopy);
    result->gameWasMissing = true;
    Image copy;
    if (!ReadFileWhole(chosenCopy, &copy.bytes, &copy.size)) {
        sprintf_s(result->text, "Nothing was changed!\r\n\r\n%s could not\r\nbe read whole.", chosenCopy);
        Fail(result, RESTORE_NOT_READ);
        return true;
    }
    // Never over a game that has turned up meanwhile.
    if (!WriteFileAtomically(name, copy.bytes, copy.size, false, &result->systemError)) {
        sprintf_s(result->text, "Nothing was changed!\r\n\r\n%s could not be\r\nwritten from %s.", name, chosenCopy);
        Fail(result, RESTORE_WRITE_FAILED);
        return true;
    }
    sprintf_s(result->text, "Restored %s\r\nfrom %s.\r\n\r\n%s was missing;\r\n%s is kept.", name, chosenCopy, name,
              chosenCopy);
    result->outcome = RESTORE_DONE;
    return true;
}

}  // namespace

void RunRestore(bool force, RestoreResult* result, const char* exe) {
    *result = RestoreResult();
    result->forced = force;
    HolderSurvey survey;
    ProbeCandidates(exe, &survey, result->target_name, result->candidates, &result->files);
    const char* name = result->target_name;
    if (name[0] == '\0') {
        // Only where no candidate is there at all: a busy or read-only game is not missing.
        if (result->files.count == 0 && !result->files.caseTwins && RestoreMissingGame(exe, result)) return;
        char text[PATCH_TEXT_SIZE];
        FormatNoTargetText(result->candidates, text);
        strcpy_s(result->text, text);
        return Fail(result, RESTORE_NO_TARGET);
    }

    // Held with no sharing while it is read and judged: no one else writes it meanwhile.
    OpenReason reason = OPEN_FAILED;
    FILE* target = OpenForUpdate(name, &reason);
    if (target == nullptr) {
        if (OpenReasonText(reason)[0] == '\0') reason = OPEN_FAILED;
        sprintf_s(result->text, "Nothing was changed!\r\n\r\n%s could not be\r\nopened again: %s.", name,
                  OpenReasonText(reason));
        return Fail(result, RESTORE_NOT_READ);
    }
    // A restore that was cut off leaves at most its temporary files; they are never a good copy.
    char keptName[PATCH_TEXT_SIZE];
    const bool keptNamed = strcpy_s(keptName, name) == 0 && strcat_s(keptName, ".before-restore") == 0;
    for (const char* written : {name, static_cast<const char*>(keptName)}) {
        char temporary[PATCH_TEXT_SIZE];
        if ((written == name || keptNamed) && TemporaryNameOf(written, temporary)) RemoveTemporary(temporary);
    }

    Image current;
    if (ReadWholeFile(target, &current.bytes, &current.size) != READ_WHOLE) {
        g_fileOps.close(target);
        sprintf_s(result->text, "Nothing was changed!\r\n\r\n%s could not\r\nbe read whole.", name);
        return Fail(result, RESTORE_NOT_READ);
    }
    result->targetSize = current.size;
    // The replacement is a new file: it must be given the game's owner and mode.
    const platform::FilePermissions permissions = platform::PermissionsOf(target);

    const int candidate = CandidateIndexOf(name);
    KeptCopies kept;
    CheckKeptCopies(name, candidate, current.bytes, current.size, &kept);
    for (const CopyCheck& check : kept.copies) {
        if (check.twin[0] == '\0') continue;
        g_fileOps.close(target);
        sprintf_s(result->text, "Nothing was changed!\r\n\r\n%s\r\nand %s\r\nare both there: which one\r\nis the copy cannot be told.",
                  check.name, check.twin);
        return Fail(result, RESTORE_REFUSED);
    }
    const CopyCheck* usable = nullptr;  // the first copy with contents, for --force
    for (int kind = 0; kind < COPY_KINDS; ++kind) {
        const CopyCheck& check = kept.copies[kind];
        RestoreCopy& copy = result->copies[kind];
        strcpy_s(copy.name, check.name);
        copy.notAFile = check.notAFile;
        copy.sameFile = check.sameFile;
        copy.empty = check.empty;
        copy.checked = check.present;
        copy.fits = check.present && &check == kept.base;
        copy.sizesDiffer = check.model.sizesDiffer;
        copy.size = check.size;
        copy.firstDifference = check.model.firstUnexplained;
        if (check.unreadable || (check.present && check.model.noMemory)) {
            g_fileOps.close(target);
            sprintf_s(result->text, "Nothing was changed!\r\n\r\n%s could not\r\nbe read whole.", check.name);
            return Fail(result, RESTORE_NOT_READ);
        }
        if (check.present && usable == nullptr) usable = &check;
    }
    // The .orig is explained before the .bak, so that a .bak the model did not need is not
    // compared; for the refusal each copy says why it is not the original.
    const CopyCheck& backupCheck = kept.Backup();
    if (kept.base == &kept.Original() && backupCheck.present) {
        result->copies[COPY_BAK].checked = false;
    }

    if (usable == nullptr) {
        g_fileOps.close(target);
        std::string text = std::string("Nothing was changed!\r\n\r\n") + name + " has no copy to\r\nrestore: no " +
                           kept.Original().name + "\r\nand no " + backupCheck.name + ".";
        for (const RestoreCopy& copy : result->copies) {
            if (copy.notAFile || copy.sameFile || copy.empty) text += "\r\n" + WhyNot(copy, name, current.size) + ".";
        }
        PutText(result, text);
        return Fail(result, RESTORE_NO_COPY);
    }

    const CopyCheck* chosen = kept.base;
    if (chosen == nullptr && !force) {
        g_fileOps.close(target);
        std::string text = std::string("Nothing was changed!\r\n\r\n") + name +
                           " is not a patched form\r\nof a kept copy:\r\n";
        for (const RestoreCopy& copy : result->copies) text += WhyNot(copy, name, current.size) + "\r\n";
        text += "\r\nThe store's \"verify files\" also\r\nrestores the game; --force\r\nrestores anyway.";
        PutText(result, text);
        return Fail(result, RESTORE_REFUSED);
    }
    if (chosen == nullptr) chosen = usable;
    strcpy_s(result->copy_name, chosen->name);
    const char* copyName = result->copy_name;
    const bool chosenIsOriginal = chosen == &kept.Original() || kept.OriginalCopy() == chosen;
    if (!chosenIsOriginal) {
        RulesInCopy(kept, *chosen, candidate, result->rulesKept);
        for (bool kept : result->rulesKept) result->copyPatched = result->copyPatched || kept;
    }
    const std::string stay = RuleList(result->rulesKept);

    if (chosen->model.identical && chosen == kept.base) {
        // Writing the same bytes again would only change the file's times.
        g_fileOps.close(target);
        if (result->copyPatched) {
            sprintf_s(result->text,
                      "Nothing was changed!\r\n\r\n%s already holds\r\nthe bytes of %s,\r\nwhich is patched itself:\r\n%s.\r\nNo file holds the original.",
                      name, copyName, stay.c_str());
        } else {
            sprintf_s(result->text, "Nothing was changed!\r\n\r\n%s already holds\r\nthe bytes of %s.", name, copyName);
        }
        result->outcome = RESTORE_ALREADY;
        return;
    }

    if (force) {
        // The game as it is now may be the only copy of an update: it is kept first.
        if (!keptNamed || !WriteFileAtomically(keptName, current.bytes, current.size, true, &result->systemError)) {
            g_fileOps.close(target);
            sprintf_s(result->text, "Nothing was changed!\r\n\r\n%s.before-restore\r\ncould not be written.", name);
            return Fail(result, RESTORE_WRITE_FAILED);
        }
        strcpy_s(result->kept_name, keptName);
    }

    // Released before the move: Windows replaces no file that a handle holds unshared.
    g_fileOps.close(target);
    if (!WriteFileAtomically(name, chosen->bytes, chosen->size, true, &result->systemError)) {
        if (result->kept_name[0] != '\0') {
            sprintf_s(result->text, "Restoring %s failed!\r\n\r\n%s is as it was;\r\n%s\r\nholds a copy of it.", name, name,
                      result->kept_name);
        } else {
            sprintf_s(result->text, "Nothing was changed!\r\n\r\n%s could not be\r\nreplaced with %s.", name, copyName);
        }
        return Fail(result, RESTORE_WRITE_FAILED);
    }
    platform::GivePermissions(name, permissions);
    std::string text = std::string("Restored ") + name + "\r\nfrom " + copyName + ".\r\n\r\n" + copyName + " is kept.";
    if (result->copyPatched) {
        text += std::string(" It is\r\npatched itself: the changes\r\nof ") + stay + " stay.\r\nNo file holds the original.";
    }
    if (result->kept_name[0] != '\0') text += std::string("\r\nThe game as it was is\r\nkept as ") + result->kept_name + ".";
    PutText(result, text);
    result->outcome = RESTORE_DONE;
}
