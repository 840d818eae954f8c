#pragma once
// The record through which a front end hands its requests to the patch worker and through
// which the worker hands back what it did.

#include <cstdint>

#include "rule_table.h"

enum { PATCH_TEXT_SIZE = 256 };

struct PatchJob {
    // What is asked of each rule: switched on, with the player's value (see RuleValue).
    // The window's toggles and velmora-patch's options fill it.
    RuleRequest requests[RULE_COUNT];
    // Each rule's result line, as the window shows it.
    char status[RULE_COUNT][PATCH_TEXT_SIZE];
    char target_name[PATCH_TEXT_SIZE];  // empty: no candidate could be opened, nothing touched
    // The index in TARGET_CANDIDATES of the game target_name is, set with it; it decides
    // which rules may run on it.
    int candidate;
    // Empty when the job finished. Otherwise it says, in words for the player, why it did
    // not: either nothing was changed, or the write-back failed and the backup holds the
    // previous contents. The status lines must then not be shown as a success.
    char failure_text[PATCH_TEXT_SIZE];
};

// The executables the worker probes, in order; the last one that opens is the target.
enum { TARGET_CANDIDATE_COUNT = 6 };
extern const char* const TARGET_CANDIDATES[TARGET_CANDIDATE_COUNT];
