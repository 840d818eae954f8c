#pragma once
// Whether a game's executable is a patched form of a kept copy, and so what state the game
// is in. The restore asks it before it puts a copy back; --status and --find ask it to tell
// a player what was done to the game.
//
// The target is a patched form of a copy when running the four rules over the copy, with
// the values the target holds, gives the target byte for byte. The rules are run in their
// fixed order, as a patch run runs them, each on the image as the earlier ones left it:
// - a rule's value is read back from the target at the first occurrence of the rule's
//   pattern in that image, within the bytes the rule writes there;
// - a rule whose bytes there are unchanged counts as off; so does a rule whose pattern is
//   not there, a value the rule would not take (its guard), and the 60 FPS rule on a game
//   it must not touch.
// Nothing is guessed: a byte the rules would not have written that way is a difference.

#include <cstdint>

#include "patch_rules.h"

// Room for a game's path with a copy's suffix: searches name games deep in Steam libraries.
enum { STATE_PATH_SIZE = 4096 };

// What the check found of one rule.
struct RuleFinding {
    bool found = false;        // its pattern is in the copy (as the earlier rules left it)
    bool on = false;           // the target holds a value the rule wrote there
    uint32_t offset = 0;       // the first occurrence, when found
    uint32_t occurrences = 0;  // in the copy, when found
    // When on: the bits read back within the rule's span, and the value they stand for
    // (the row's read-back: for the FOV rule the constant, not the screen width).
    uint32_t bits = 0;
    RuleValue value = {};
};

struct PatchedForm {
    bool fits = false;             // the target is a patched form of the copy
    bool identical = false;        // the target holds the copy's bytes (then it fits, every rule off)
    bool sizesDiffer = false;
    bool noMemory = false;         // the check could not be made; fits is false
    uint32_t firstDifference = 0;  // when not fits: the first byte the rules do not give, or
                                   // the smaller size when the sizes differ
    RuleFinding rules[RULE_COUNT];
};

// The exact check. `candidate` (the index in TARGET_CANDIDATES of the game) tells which
// rules may run. Returns form->fits.
bool CheckPatchedForm(const uint8_t* target, uint32_t targetSize, const uint8_t* copy, uint32_t copySize,
                      int candidate, PatchedForm* form);

// The aspect ratio that the widescreen rule's bits stand for.
float AspectOfBits(uint32_t bits);

// The kept copies, in the order they are tried.
enum KeptCopy { COPY_ORIG, COPY_BAK, COPY_KINDS };
const char* KeptCopySuffix(KeptCopy copy);  // ".orig", ".bak"

// One kept copy of a target, read and checked against it. A name that leads to no regular
// file, or to the target itself (a hard or symbolic link), is no copy: it counts as absent.
struct CopyCheck {
    char name[STATE_PATH_SIZE] = {};
    bool exists = false;    // the name is there at all
    bool notAFile = false;  // a folder or another non-file: no copy
    bool sameFile = false;  // the target itself under another name: no copy
    bool present = false;   // a copy, read whole
    bool unreadable = false;  // a copy, but it could not be read whole
    PatchedForm form;       // when present
    uint8_t* bytes = nullptr;  // the copy's contents, when present
    uint32_t size = 0;
};

struct KeptCopies {
    CopyCheck copies[COPY_KINDS];
    // The backup is itself a patched form of the original, other than the original: the
    // last run patched a game that an earlier run had patched already. What the earlier
    // run wrote is then found here rather than in the backup's own check.
    bool backupFromOriginal = false;
    PatchedForm backupForm;
    KeptCopies() = default;
    KeptCopies(const KeptCopies&) = delete;
    KeptCopies& operator=(const KeptCopies&) = delete;
    ~KeptCopies();
    // The copy the target is a patched form of: .orig when it fits, else .bak; null when none.
    const CopyCheck* Fitting() const;
};

// Reads <targetPath>.orig and <targetPath>.bak and checks `target` (the image of
// targetPath, the game TARGET_CANDIDATES[candidate]) against each. Writes nothing.
void CheckKeptCopies(const char* targetPath, int candidate, const uint8_t* target, uint32_t targetSize,
                     KeptCopies* copies);

// The rules the target already holds a value of, by a copy that it is a patched form of
// (also through a backup that is a patched form of the original). A patch run tells such a
// rule, whose pattern is gone, as already patched.
void RulesAlreadyPatched(const KeptCopies& copies, bool (&patched)[RULE_COUNT]);

// What can be told of one rule in a game.
enum RuleState {
    RULE_STATE_ORIGINAL,   // the pattern, unchanged, `occurrences` times in the target
    RULE_STATE_PATCHED,    // the value the rule wrote is read back
    RULE_STATE_NOT_FOUND,  // the pattern is not there, and nothing shows that it was patched
    RULE_STATE_UNKNOWN,    // no copy fits, so the rule's written form cannot be told apart
};

struct RuleStatus {
    RuleState state = RULE_STATE_UNKNOWN;
    uint32_t occurrences = 0;  // the rule's pattern in the target
    RuleFinding finding;       // with a fitting copy: what the check found
};

enum GameState { GAME_ORIGINAL, GAME_PATCHED, GAME_UNKNOWN };
const char* GameStateWord(GameState state);  // "original", "patched", "unknown"

// The whole state of one game, from its executable and its copies.
//
// - patched: the target is a patched form of .orig or .bak and differs from it, or it
//   holds the bytes of a .bak that is such a form of .orig (a run that found nothing more);
// - original: the target holds the bytes of .orig, or of .bak where there is no .orig; or,
//   with no copy at all, every rule
//   that may run on this game finds its pattern and the 60 FPS rule's written form is not
//   there;
// - unknown: anything else: the target could not be read, or there are copies and none
//   fits (a game update, or bytes changed by something else), or with no copy a pattern is
//   missing.
struct GameStatus {
    bool targetRead = false;
    uint32_t targetSize = 0;
    KeptCopies copies;
    const CopyCheck* fitting = nullptr;
    RuleStatus rules[RULE_COUNT];
    GameState state = GAME_UNKNOWN;
};

// Reads the game at `targetPath` (TARGET_CANDIDATES[candidate]) and its copies; writes nothing.
void ReadGameStatus(const char* targetPath, int candidate, GameStatus* status);

GameState StateOfGame(const char* folder, const char* exeName);  // reads the exe and its .orig/.bak in folder; patches nothing
