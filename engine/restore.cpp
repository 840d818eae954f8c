#include "restore.h"

#include <cstring>
#include <string>

#include "bounded_text.h"
#include "candidates.h"
#include "platform.h"
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

// What the replacement is given of the game, read through the game's descriptor.
struct Attributes {
    KeptAttributes* kept;
    explicit Attributes(FILE* file) : kept(g_fileOps.readAttributes(file)) {}
    Attributes(const Attributes&) = delete;
    Attributes& operator=(const Attributes&) = delete;
    ~Attributes() {
        if (kept != nullptr) g_fileOps.freeAttributes(kept);
    }
};

// Keeps the game as <name>.before-restore, or .1, .2, ... when that is taken: a kept game
// may be the only copy of an update, so none is ever replaced.
WriteOutcome KeepGame(const char* base, const Image& game, const Attributes& attributes, RestoreResult* result) {
    const int MAX_KEPT = 1000;
    for (int number = 0; number < MAX_KEPT; ++number) {
        char keptName[PATCH_TEXT_SIZE];
        const int made = number == 0 ? sprintf_s(keptName, "%s", base) : sprintf_s(keptName, "%s.%d", base, number);
        if (made <= 0) return WRITE_FAILED;
        if (g_fileOps.entryKind(keptName) != ENTRY_NONE) continue;
        AtomicWrite how;
        how.replace = false;  // one that appeared meanwhile is kept too
        how.attributes = attributes.kept;
        const WriteOutcome outcome = WriteFileAtomically(keptName, game.bytes, game.size, &how);
        if (outcome == WRITE_FAILED && g_fileOps.entryKind(keptName) != ENTRY_NONE) continue;
        result->systemError = how.systemError;
        if (outcome == WRITE_DONE || outcome == WRITE_NOT_SAFE) strcpy_s(result->kept_name, keptName);
        return outcome;
    }
    return WRITE_FAILED;
}

void Fail(RestoreResult* result, RestoreOutcome outcome) { result->outcome = outcome; }

// One line of the refusal for each copy: why it is not the game's original.
std::string WhyNot(const RestoreCopy& copy, const char* target, uint32_t targetSize) {
    char line[PATCH_TEXT_SIZE * 2];
    if (copy.notAFile) {
        sprintf_s(line, "%s is not a file", copy.name);
    } else if (copy.sameFile) {
        sprintf_s(line, "%s is the same file as %s", copy.name, target);
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

}  // namespace

void RunRestore(bool force, RestoreResult* result, const char* exe) {
    *result = RestoreResult();
    result->forced = force;
    // Held from the first look at the files to the last move (see FolderHold).
    FolderHold hold;
    if (!hold.Take()) {
        if (StopRequested()) {
            result->stopped = true;
            strcpy_s(result->text, "Stopped!\r\n\r\nNothing was changed.");
        } else {
            result->folderBusy = true;
            strcpy_s(result->text, "Nothing was changed!\r\n\r\nAnother velmora-patch is\r\nworking in this folder.");
        }
        return Fail(result, RESTORE_NOT_READ);
    }
    HolderSurvey survey;
    ProbeCandidates(exe, &survey, result->target_name, result->candidates, &result->files);
    const char* name = result->target_name;
    if (name[0] == '\0') {
        char text[PATCH_TEXT_SIZE];
        FormatNoTargetText(result->candidates, text);
        strcpy_s(result->text, text);
        return Fail(result, RESTORE_NO_TARGET);
    }

    // Held with no sharing while it is read and judged: no one else writes it meanwhile.
    OpenReason reason = OPEN_FAILED;
    FILE* target = OpenForUpdate(name, &reason);
    if (target == nullptr) {
        if (reason == OPEN_NOT_REGULAR) {
            sprintf_s(result->text, "Nothing was changed!\r\n\r\n%s\r\nis not a file.", name);
            sprintf_s(result->refusal, "%s is not a file", name);
            return Fail(result, RESTORE_REFUSED);
        }
        if (OpenReasonText(reason)[0] == '\0') reason = OPEN_FAILED;
        sprintf_s(result->text, "Nothing was changed!\r\n\r\n%s could not be\r\nopened again: %s.", name,
                  OpenReasonText(reason));
        return Fail(result, RESTORE_NOT_READ);
    }
    const FileIdentity targetIdentity = g_fileOps.identify(name);
    if (!SameFile(g_fileOps.identifyOpen(target), targetIdentity)) {
        g_fileOps.close(target);
        sprintf_s(result->text, "Nothing was changed!\r\n\r\n%s was replaced\r\nwhile it was opened.", name);
        return Fail(result, RESTORE_NOT_READ);
    }
    // A restore that was cut off leaves at most its temporary files; they are never a good
    // copy. Only a run that holds the folder removes them: another run's are live.
    char keptBase[PATCH_TEXT_SIZE];
    const bool keptNamed = strcpy_s(keptBase, name) == 0 && strcat_s(keptBase, ".before-restore") == 0;
    char temporary[PATCH_TEXT_SIZE];
    if (TemporaryNameOf(name, temporary)) RemoveTemporary(temporary);
    if (keptNamed && TemporaryNameOf(keptBase, temporary)) RemoveTemporary(temporary);

    Image current;
    if (ReadWholeFile(target, &current.bytes, &current.size) != READ_WHOLE) {
        g_fileOps.close(target);
        sprintf_s(result->text, "Nothing was changed!\r\n\r\n%s could not\r\nbe read whole.", name);
        return Fail(result, RESTORE_NOT_READ);
    }
    result->targetSize = current.size;
    const Attributes attributes(target);

    KeptCopies kept;
    CheckKeptCopies(name, CandidateIndexOf(name), current.bytes, current.size, &kept);
    const CopyCheck* usable = nullptr;  // the first copy there is, for --force
    uint32_t copiesThatAreTheGame = 0;
    for (int kind = 0; kind < COPY_KINDS; ++kind) {
        const CopyCheck& check = kept.copies[kind];
        RestoreCopy& copy = result->copies[kind];
        strcpy_s(copy.name, check.name);
        copy.notAFile = check.notAFile;
        copy.sameFile = check.sameFile;
        if (check.sameFile) ++copiesThatAreTheGame;
        copy.checked = check.present;
        copy.fits = check.present && check.form.fits;
        copy.sizesDiffer = check.form.sizesDiffer;
        copy.size = check.size;
        copy.firstDifference = check.form.firstDifference;
        if (check.unreadable || (check.present && check.form.noMemory)) {
            g_fileOps.close(target);
            sprintf_s(result->text, "Nothing was changed!\r\n\r\n%s could not\r\nbe read whole.", check.name);
            return Fail(result, RESTORE_NOT_READ);
        }
        if (check.present && usable == nullptr) usable = &check;
    }
    // A copy that is the game itself is told as such below; any other name of the game
    // would keep the patched bytes when this one is replaced.
    if (targetIdentity.links > 1 + copiesThatAreTheGame) {
        g_fileOps.close(target);
        const uint32_t others = targetIdentity.links - 1 - copiesThatAreTheGame;
        const char* names = others == 1 ? "name" : "names";
        sprintf_s(result->text, "Nothing was changed!\r\n\r\n%s has %lu other %s\r\n(hard links): restoring would\r\nleave them patched.",
                  name, static_cast<unsigned long>(others), names);
        sprintf_s(result->refusal, "%s has %lu other %s (hard links): restoring would leave them patched", name,
                  static_cast<unsigned long>(others), names);
        strcpy_s(result->refusalHint, HARD_LINKS_HINT);
        return Fail(result, RESTORE_REFUSED);
    }

    if (usable == nullptr) {
        g_fileOps.close(target);
        std::string text = std::string("Nothing was changed!\r\n\r\n") + name + " has no copy to\r\nrestore: no " + name +
                           ".orig\r\nand no " + name + ".bak.";
        for (const RestoreCopy& copy : result->copies) {
            if (copy.notAFile || copy.sameFile) text += "\r\n" + WhyNot(copy, name, current.size) + ".";
        }
        PutText(result, text);
        return Fail(result, RESTORE_NO_COPY);
    }

    const CopyCheck* chosen = kept.Fitting();
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

    if (chosen->present && chosen->form.identical) {
        // Writing the same bytes again would only change the file's times.
        g_fileOps.close(target);
        sprintf_s(result->text, "Nothing was changed!\r\n\r\n%s already holds\r\nthe bytes of %s.", name, copyName);
        result->outcome = RESTORE_ALREADY;
        return;
    }

    // A game reached through a link is restored where it really is; the link stays.
    char place[PATCH_TEXT_SIZE];
    if (g_fileOps.entryKind(name) != ENTRY_LINK || !g_fileOps.realName(name, place)) strcpy_s(place, name);

    if (force) {
        // The game as it is now may be the only copy of an update: it is kept first, under a
        // name of its own, never over an earlier one.
        const WriteOutcome outcome = keptNamed ? KeepGame(keptBase, current, attributes, result) : WRITE_FAILED;
        if (outcome != WRITE_DONE) {
            g_fileOps.close(target);
            if (outcome == WRITE_STOPPED) {
                result->stopped = true;
                strcpy_s(result->text, "Stopped!\r\n\r\nNothing was changed.");
            } else if (outcome == WRITE_NOT_SAFE) {
                sprintf_s(result->text, "The game was not changed!\r\n\r\n%s was written,\r\nbut it is not yet safe\r\non the disk.",
                          result->kept_name);
            } else {
                sprintf_s(result->text, "Nothing was changed!\r\n\r\n%s.before-restore\r\ncould not be written.", name);
            }
            return Fail(result, RESTORE_WRITE_FAILED);
        }
    }
    if (StopRequested()) {
        g_fileOps.close(target);
        result->stopped = true;
        strcpy_s(result->text, result->kept_name[0] != '\0' ? "Stopped!\r\n\r\nThe game was not changed." : "Stopped!\r\n\r\nNothing was changed.");
        return Fail(result, RESTORE_WRITE_FAILED);
    }

    // Released before the move: Windows replaces no file that a handle holds unshared.
    g_fileOps.close(target);
    AtomicWrite how;
    how.attributes = attributes.kept;
    const WriteOutcome outcome = WriteFileAtomically(place, chosen->bytes, chosen->size, &how);
    strcpy_s(result->notKept, how.notKept);
    if (outcome != WRITE_DONE) result->systemError = how.systemError;
    if (outcome == WRITE_STOPPED) {
        result->stopped = true;
        strcpy_s(result->text, result->kept_name[0] != '\0' ? "Stopped!\r\n\r\nThe game was not changed." : "Stopped!\r\n\r\nNothing was changed.");
        return Fail(result, RESTORE_WRITE_FAILED);
    }
    if (outcome == WRITE_FAILED) {
        if (result->kept_name[0] != '\0') {
            sprintf_s(result->text, "Restoring %s failed!\r\n\r\n%s is as it was;\r\n%s\r\nholds a copy of it.", name, name,
                      result->kept_name);
        } else {
            sprintf_s(result->text, "Nothing was changed!\r\n\r\n%s could not be\r\nreplaced with %s.", name, copyName);
        }
        return Fail(result, RESTORE_WRITE_FAILED);
    }
    if (outcome == WRITE_NOT_SAFE) {
        sprintf_s(result->text, "Restored %s\r\nfrom %s, but it is\r\nnot yet safe on the disk.", name, copyName);
        return Fail(result, RESTORE_NOT_SAFE);
    }
    // After two runs that patched different places (a rule that rewrites its first hit only),
    // the backup is the first run's game: one more restore takes it back to the original.
    const CopyCheck& original = kept.copies[COPY_ORIG];
    PatchedForm next;
    const bool againToOriginal = chosen != &original && original.present && !original.form.fits &&
                                 CheckPatchedForm(chosen->bytes, chosen->size, original.bytes, original.size, CandidateIndexOf(name), &next) &&
                                 !next.identical;
    if (againToOriginal) {
        sprintf_s(result->text,
                  "Restored %s\r\nfrom %s.\r\n\r\n%s is kept. It is\r\npatched too: restore again\r\nfor %s.", name,
                  copyName, copyName, original.name);
    } else if (result->kept_name[0] != '\0') {
        sprintf_s(result->text, "Restored %s\r\nfrom %s.\r\n\r\n%s is kept.\r\nThe game as it was is\r\nkept as %s.", name,
                  copyName, copyName, result->kept_name);
    } else {
        sprintf_s(result->text, "Restored %s\r\nfrom %s.\r\n\r\n%s is kept.", name, copyName, copyName);
    }
    result->outcome = RESTORE_DONE;
}
