#pragma once
// Puts a kept copy of the game back over its executable: <name>.orig, or else <name>.bak.
//
// A copy is put back only over a patched form of itself: the same size, and no byte
// different outside what the four rules write. A copy taken before a game update would
// otherwise replace the updated game with the old one. `force` puts it back regardless.

#include <cstddef>
#include <cstdint>

#include "candidate_names.h"
#include "patch_job.h"
#include "target_file.h"

enum RestoreOutcome {
    RESTORE_DONE,            // the copy is back over the target and on the disk
    RESTORE_NO_TARGET,       // no candidate could be opened; nothing touched
    RESTORE_NO_COPY,         // neither <name>.orig nor <name>.bak is there; nothing touched
    RESTORE_REFUSED,         // the target is not a patched form of the copy; nothing touched
    RESTORE_NOT_READ,        // the target or the copy could not be read whole; nothing touched
    RESTORE_WRITE_FAILED,    // writing the target failed part-way; the copy is still there
};

struct RestoreResult {
    RestoreOutcome outcome = RESTORE_NO_TARGET;
    OpenReason candidates[TARGET_CANDIDATE_COUNT] = {};  // as the patch job probes them
    CandidateFiles files;                                // likewise, each name as on the disk
    char target_name[PATCH_TEXT_SIZE] = {};              // empty: no candidate opened
    char copy_name[PATCH_TEXT_SIZE] = {};                // the copy used, or the one refused
    // The text for the player, in the manner of the window's result texts (CRLF line ends).
    char text[PATCH_TEXT_SIZE] = {};
};

// Chooses the target as the patch job does, against the current working folder, and puts
// its copy back over it through the same exclusive open, committed to the disk. The copy
// itself is kept. `exe`, unless null or empty, names the one candidate to open.
void RunRestore(bool force, RestoreResult* result, const char* exe = nullptr);

// Whether `target` can have come from `copy` through any number of patch runs: the same
// size, and every differing byte inside the bytes a rule writes at an occurrence of its
// pattern in either image. On false, *firstForeign (may be null) is the offset of the first
// byte that differs outside them, or the smaller size when the sizes differ.
bool IsPatchedFormOf(const uint8_t* target, size_t targetSize, const uint8_t* copy, size_t copySize,
                     size_t* firstForeign);
