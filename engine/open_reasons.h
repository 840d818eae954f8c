#pragma once
// Why a file would not open, in words for the player: each reason's text, what the player
// can do about it, and its stable name for scripts.

#include "patch_job.h"

// Why a file could not be opened for update with no sharing.
enum OpenReason {
    OPEN_OK,
    OPEN_MISSING,        // no such name
    OPEN_NOT_A_FILE,     // a folder of that name
    OPEN_IN_USE,         // another program holds it: the game, most likely
    OPEN_READ_ONLY,      // the read-only attribute, or no write permission at all
    OPEN_ACCESS_DENIED,  // any other refusal of write access (Windows)
    OPEN_FAILED,         // anything else
    // Only natively, where the system tells these apart.
    OPEN_IMMUTABLE,          // the immutable or append-only attribute
    OPEN_READ_ONLY_FS,       // the file system is mounted read-only
    OPEN_PERMISSION_DENIED,  // no write access: another owner, or the folder
    OPEN_NOT_REGULAR,        // a device, a pipe or a socket: no file to patch, told to the player
};

// "in use", "read-only", "access denied", "cannot be opened", "immutable", "read-only file
// system", "permission denied"; empty for OPEN_OK, and for OPEN_MISSING and OPEN_NOT_A_FILE,
// which the player is not told about.
const char* OpenReasonText(OpenReason reason);
// What the player can do about it, or empty when there is nothing to say. The native hints
// name the file: "<path>" stands where FormatOpenReasonHint puts its path.
const char* OpenReasonHint(OpenReason reason);
// The hint with `path` in place of "<path>"; empty when there is no hint, or when it would
// not fit.
void FormatOpenReasonHint(OpenReason reason, const char* path, char (&hint)[PATCH_TEXT_SIZE]);
// The path a hint names for `name`: natively the full path, from the root, of the name in
// the current folder; on Windows, whose hints name no file, the name itself.
bool HintPathOf(const char* name, char (&path)[PATCH_TEXT_SIZE]);
// What a player can do about a game with other hard links, which neither a patch nor a
// restore touches.
extern const char HARD_LINKS_HINT[];
// The reason's stable name for scripts: "in_use", "read_only", "access_denied", "cannot_open",
// "immutable", "read_only_fs", "permission_denied", "not_a_file"; empty where OpenReasonText is empty.
const char* OpenReasonCode(OpenReason reason);
