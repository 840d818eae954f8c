#pragma once
// What a job did, in more detail than the window's result lines: why each candidate could
// not be opened, what each rule hit and why a rule was not used, and which copies were
// written. The console patcher prints it; the window needs only the result text.

#include <cstdint>
#include <vector>

#include "byte_scan.h"
#include "candidate_names.h"
#include "patch_job.h"
#include "patch_rules.h"
#include "target_file.h"

// Why a rule wrote nothing.
enum RuleReason {
    RULE_USED,               // it found at least one hit and rewrote it
    RULE_SWITCHED_OFF,       // the job did not switch it on
    RULE_NO_VALUE,           // its value is zero
    RULE_PATTERN_NOT_FOUND,  // its pattern is not in the file: already patched, or another version
    RULE_NOT_FOR_THIS_GAME,  // the 60 FPS rule on a game it must not touch
    RULE_ALREADY_PATCHED,    // no pattern, because the target is a patched form of a kept copy
};

// One rewritten hit: the pattern's bytes at `offset` just before and just after the write.
struct RuleHit {
    uint32_t offset;
    uint8_t length;
    uint8_t before[BYTE_PATTERN_MAX];
    uint8_t after[BYTE_PATTERN_MAX];
};

struct RuleReport {
    RuleReason reason = RULE_SWITCHED_OFF;
    std::vector<RuleHit> hits;  // every hit, in the order the rule rewrote them
    // The game held another value of the rule at its places, which this run rewrote with
    // the value asked for: the bits it held there (the first place's).
    bool replaced = false;
    uint32_t replacedBits = 0;
};

// Which bytes the run kept as <target>.orig.
enum OriginalSource {
    ORIGINAL_FROM_NONE,    // none written
    ORIGINAL_FROM_GAME,    // the game, which the model shows unpatched
    ORIGINAL_FROM_BACKUP,  // <target>.bak, which held the game unpatched
};

// The file step at which the job stopped, for a line with the system's reason.
enum FailedStep {
    STEP_NONE,
    STEP_ORIGINAL,    // writing <target>.orig
    STEP_BACKUP,      // writing <target>.bak
    STEP_WRITE_BACK,  // writing the patched bytes over the target
};

// What a stretch of the game rewritten by the run holds, read back after a failed write-back.
enum SpanOnDisk {
    SPAN_NOT_READ,    // the write-back went, or never began
    SPAN_AS_BEFORE,   // the bytes the game had before the run
    SPAN_PATCHED,     // the bytes the run wrote
    SPAN_PARTLY,      // some of each, or neither
    SPAN_UNREADABLE,  // could not be read back
};
const char* SpanOnDiskCode(SpanOnDisk state);  // "as_before", "patched", "partly", "unreadable"; "" when not read

struct WrittenSpan {
    uint32_t offset;
    uint32_t length;
    SpanOnDisk onDisk;
};

// The whole game after a failed write-back, from its spans read back.
enum GameOnDisk {
    GAME_ON_DISK_NOT_READ,  // the write-back went, or never began
    GAME_AS_IT_WAS,
    GAME_FULLY_PATCHED,
    GAME_PARTLY_PATCHED,  // the spans say which
    GAME_NOT_READ_BACK,   // some span could not be read
};
const char* GameOnDiskCode(GameOnDisk state);  // "as_it_was", "patched", "partly", "unreadable"; "" when not read

struct JobReport {
    // Input: read the target and work out everything a real run would do, but write
    // nothing at all: no copy, no byte of the target.
    bool dryRun = false;
    // Input: the one candidate to open, as the player named it; null for all of them.
    const char* exe = nullptr;

    // Output.
    OpenReason candidates[TARGET_CANDIDATE_COUNT] = {};  // OPEN_OK for the ones that opened
    CandidateFiles files;  // each candidate's name that is there, as on the disk, with its reason
    RuleReport rules[RULE_COUNT];
    bool backupWritten = false;  // <target>.bak
    bool originalWritten = false;  // <target>.orig, written by this run
    bool originalExisted = false;  // <target>.orig was already there and was left alone
    OriginalSource originalFrom = ORIGINAL_FROM_NONE;
    // No file holds the game unpatched, so no .orig was written.
    bool originalNowhere = false;
    // The game is a store update: the previous .orig was moved to this name; empty otherwise.
    char previousOriginal[PATCH_TEXT_SIZE] = {};
    // The copies' names as on the disk, or as this run spells new ones.
    char backupName[PATCH_TEXT_SIZE] = {};
    char originalName[PATCH_TEXT_SIZE] = {};
    // Where the job failed, and the system's error code of that step (errno, or
    // GetLastError; 0 when the system told none). See FormatSystemErrorText.
    FailedStep failedStep = STEP_NONE;
    unsigned long systemError = 0;
    // The stretches of the game the rules changed, overlapping hits joined, in offset order:
    // only these are written back. After a failed write-back each tells what the disk holds.
    std::vector<WrittenSpan> spans;
    GameOnDisk gameOnDisk = GAME_ON_DISK_NOT_READ;
    // How the copies' bytes were put on the disk.
    CopyMethod originalMethod = COPY_NOT_MADE;
    CopyMethod backupMethod = COPY_NOT_MADE;
    // Natively: how many other users' processes could not be looked at for whether they
    // hold the game; -1 when the processes could not be listed at all.
    int uncheckedProcesses = 0;
    // Input: probe the candidates for reading only, with every sharing. A dry run whose
    // real run would find no target (the game running, or read-only) looks again so.
    bool readOnlyProbe = false;
    // What /proc does not list at all, and whether anyone else could have the game open,
    // so that the processes that could not be looked at matter.
    ProcessView processView = VIEW_ALL;
    bool othersMayOpen = true;
    // The step's copy or the game was moved into place, but its folder could not be forced
    // to the disk: the step failed, and what it wrote is there.
    bool notSafe = false;
    bool gameWritten = false;  // the patched bytes are in the game
    // Another run held the folder for the whole wait: nothing was read or written.
    bool folderBusy = false;
    // A stop signal came: the run ended after the step it was in (see StopRequested).
    bool stopped = false;
    // A refusal of the game itself on one line, and what to do about it; empty otherwise.
    char refusal[PATCH_TEXT_SIZE] = {};
    char refusalHint[PATCH_TEXT_SIZE] = {};
};

// Text of a rule reason for people: "switched off", "no value", "pattern not found",
// "not for this game", "already patched"; empty for RULE_USED.
const char* RuleReasonText(RuleReason reason);
// The reason's stable name for scripts: "switched_off", "no_value", "not_found",
// "not_for_this_game", "already_patched"; empty for RULE_USED.
const char* RuleReasonCode(RuleReason reason);
