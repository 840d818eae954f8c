#pragma once
// Puts a kept copy of the game back over its executable: <name>.orig when the model of
// patch_state.h explains the game from it, after any number of runs, else <name>.bak when
// it explains the game from that, else nothing. A copy from before an update thus never
// replaces the updated game. `force` restores anyway from the first copy with contents,
// and first keeps the game as <name>.before-restore. An empty copy is never put back over
// a game with contents. With the game's executable missing, a copy beside its name is put
// back under it (.orig, else .bak).
//
// The game is replaced as the copies are written: whole into a temporary file, forced to
// the disk and moved over it in one step, so that at every moment it is either as it was
// or fully restored, and no copy is ever touched.

#include <cstddef>
#include <cstdint>

#include "candidate_names.h"
#include "patch_job.h"
#include "patch_state.h"
#include "target_file.h"

enum RestoreOutcome {
    RESTORE_DONE,            // the copy is back over the target and on the disk
    RESTORE_ALREADY,         // the target holds the copy's bytes already; nothing written
    RESTORE_NO_TARGET,       // no candidate could be opened; nothing touched
    RESTORE_NO_COPY,         // no usable <name>.orig or <name>.bak; nothing touched
    RESTORE_REFUSED,         // the target is a patched form of neither copy; nothing touched
    RESTORE_NOT_READ,        // the target or a copy could not be read whole; nothing touched
    RESTORE_WRITE_FAILED,    // the target could not be replaced; it is as it was
};

enum { RESTORE_TEXT_SIZE = 640 };

// What was found of one kept copy.
struct RestoreCopy {
    char name[PATCH_TEXT_SIZE] = {};
    bool checked = false;   // a copy that was read and compared
    bool notAFile = false;  // there, but a folder or another non-file: skipped
    bool sameFile = false;  // the target itself under another name: skipped
    bool empty = false;     // a file of 0 bytes: no copy
    bool fits = false;
    bool sizesDiffer = false;
    uint32_t size = 0;
    uint32_t firstDifference = 0;  // when checked and not fits
};

struct RestoreResult {
    RestoreOutcome outcome = RESTORE_NO_TARGET;
    OpenReason candidates[TARGET_CANDIDATE_COUNT] = {};  // as the patch job probes them
    CandidateFiles files;                                // likewise, each name as on the disk
    char target_name[PATCH_TEXT_SIZE] = {};              // empty: no candidate opened
    char copy_name[PATCH_TEXT_SIZE] = {};                // the copy put back (or that would be); empty: none
    RestoreCopy copies[COPY_KINDS];                      // .orig, .bak
    uint32_t targetSize = 0;
    bool forced = false;
    // The copy put back holds changes of rules itself (an earlier run's, or one before an
    // update): it is the best there is, but not the game as it came; `rulesKept` names them.
    bool copyPatched = false;
    bool rulesKept[RULE_COUNT] = {};
    // The game's executable was not there, and the copy was put back under its name.
    bool gameWasMissing = false;
    // The system's error code of the step that failed (RESTORE_NOT_READ, RESTORE_WRITE_FAILED);
    // 0 when it gave none.
    unsigned long systemError = 0;
    // <name>.before-restore, when --force kept the game there; empty otherwise.
    char kept_name[PATCH_TEXT_SIZE] = {};
    // The text for the player, in the manner of the window's result texts (CRLF line ends).
    char text[RESTORE_TEXT_SIZE] = {};
};

// Chooses the target as the patch job does, against the current working folder, and puts
// the fitting copy back over it. The copies themselves are kept. `exe`, unless null or
// empty, names the one candidate to open.
void RunRestore(bool force, RestoreResult* result, const char* exe = nullptr);
