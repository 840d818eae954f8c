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

    KeptCopies kept;
    CheckKeptCopies(name, CandidateIndexOf(name), current.bytes, current.size, &kept);
    const CopyCheck* usable = nullptr;  // the first copy there is, for --force
    for (int kind = 0; kind < COPY_KINDS; ++kind) {
        const CopyCheck& check = kept.copies[kind];
        RestoreCopy& copy = result->copies[kind];
        strcpy_s(copy.name, check.name);
        copy.notAFile = check.notAFile;
        copy.sameFile = check.sameFile;
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

    if (force) {
        // The game as it is now may be the only copy of an update: it is kept first.
        if (!keptNamed || !WriteFileAtomically(keptName, current.bytes, current.size, true)) {
            g_fileOps.close(target);
            sprintf_s(result->text, "Nothing was changed!\r\n\r\n%s.before-restore\r\ncould not be written.", name);
            return Fail(result, RESTORE_WRITE_FAILED);
        }
        strcpy_s(result->kept_name, keptName);
    }

    // Released before the move: Windows replaces no file that a handle holds unshared.
    g_fileOps.close(target);
    if (!WriteFileAtomically(name, chosen->bytes, chosen->size, true)) {
        if (result->kept_name[0] != '\0') {
            sprintf_s(result->text, "Restoring %s failed!\r\n\r\n%s is as it was;\r\n%s\r\nholds a copy of it.", name, name,
                      result->kept_name);
        } else {
            sprintf_s(result->text, "Nothing was changed!\r\n\r\n%s could not be\r\nreplaced with %s.", name, copyName);
        }
        return Fail(result, RESTORE_WRITE_FAILED);
    }
    platform::GivePermissions(name, permissions);
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
