#pragma once
// What a job did, in more detail than the window's result lines: why each candidate could
// not be opened, what each rule hit and why a rule was not used, and which copies were
// written. The console patcher prints it; the window needs only the result text.

#include <cstdint>
#include <memory>
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

struct ReadOnlyLook;

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
    // Natively: how many other users' processes could not be looked at for whether they
    // hold the game; -1 when the processes could not be listed at all.
    int uncheckedProcesses = 0;
    // A dry run whose real run would find no target (the game running, or read-only) still
    // reads the game as it is, opened for reading only, and tells what the run would write
    // once it could: here, when it could be read.
    std::shared_ptr<ReadOnlyLook> look;
    bool readOnlyProbe = false;  // input, for that look: probe for reading only
};

struct ReadOnlyLook {
    PatchJob job;
    JobReport report;
};

// Text of a rule reason for people: "switched off", "no value", "pattern not found",
// "not for this game", "already patched"; empty for RULE_USED.
const char* RuleReasonText(RuleReason reason);
// The reason's stable name for scripts: "switched_off", "no_value", "not_found",
// "not_for_this_game", "already_patched"; empty for RULE_USED.
const char* RuleReasonCode(RuleReason reason);
