#pragma once
// What state a game is in, from its executable and its kept copies, by the one model of
// game_model.h: which copy explains the game, which file holds the game unpatched, and
// what each rule wrote. The restore asks it which copy to put back, a patch run which
// bytes to keep as the original and where a rule's places are, --status and --find what to
// tell the player.

#include <cstdint>

#include "game_model.h"
#include "patch_rules.h"

// Room for a game's path with a copy's suffix: searches name games deep in Steam libraries.
enum { STATE_PATH_SIZE = 4096 };

// The kept copies, in the order they are tried.
enum KeptCopy { COPY_ORIG, COPY_BAK, COPY_KINDS };
const char* KeptCopySuffix(KeptCopy copy);  // ".orig", ".bak"

// One kept copy of a target, found in any case, read and explained against it. A name that
// leads to no regular file, or to the target itself (a hard or symbolic link), is no copy;
// nor is an empty file.
struct CopyCheck {
    // As on the disk when it is there; else the name a new copy takes: the spelling of the
    // other copy, else the game's.
    char name[STATE_PATH_SIZE] = {};
    // A second name of this kind that differs only in case: the run stops, as for two
    // executables; empty when there is none.
    char twin[STATE_PATH_SIZE] = {};
    bool exists = false;      // the name is there at all
    bool notAFile = false;    // a folder or another non-file: no copy
    bool sameFile = false;    // the target itself under another name: no copy
    bool empty = false;       // a file of 0 bytes: no copy
    bool present = false;     // a copy with contents, read whole
    bool unreadable = false;  // a copy, but it could not be read whole
    GameModel model;          // the game explained from it, when present
    uint8_t* bytes = nullptr; // the copy's contents, when present
    uint32_t size = 0;
    PatternPlaces places;     // its rules' patterns, when present
};

// Which file holds the game unpatched.
enum OriginalHolder {
    HELD_NOWHERE,  // no file shows the game unpatched
    HELD_BY_GAME,  // the game itself: untouched, or a store update that nothing shows patched
    HELD_BY_ORIG,  // <name>.orig
    HELD_BY_BAK,   // <name>.bak, where no .orig says otherwise
};

struct KeptCopies {
    CopyCheck copies[COPY_KINDS];
    bool caseTwins = false;  // a copy kind is there under two names differing only in case

    // The copy the game is explained from: .orig when its model fits, else .bak; null when
    // none fits.
    const CopyCheck* base = nullptr;
    // The backup explained from the original, when both are present.
    bool backupChecked = false;
    GameModel backupModel;

    OriginalHolder original = HELD_NOWHERE;
    bool gamePatched = false;    // a rule wrote into the game (by the model; or, with no copy, its pattern shows it)
    bool gameKnown = false;      // the model tells the game's state: a copy fits, or none is there to fit
    bool backupPatched = false;  // .bak holds rule writes (against .orig, or by its patterns)
    // The game fits no copy, and each rule that may run on it finds at least as many
    // occurrences of its pattern as in the old original: an unpatched new version.
    bool newVersion = false;

    KeptCopies() = default;
    KeptCopies(const KeptCopies&) = delete;
    KeptCopies& operator=(const KeptCopies&) = delete;
    ~KeptCopies();
    const CopyCheck* Fitting() const { return base; }
    const CopyCheck& Original() const { return copies[COPY_ORIG]; }
    const CopyCheck& Backup() const { return copies[COPY_BAK]; }
    // The copy that holds the game unpatched, or null (none does, or the game itself does).
    const CopyCheck* OriginalCopy() const;
};

// Finds <targetPath>.orig and <targetPath>.bak in any case, reads them and explains
// `target` (the image of targetPath, TARGET_CANDIDATES[candidate]) from each. Writes nothing.
void CheckKeptCopies(const char* targetPath, int candidate, const uint8_t* target, uint32_t targetSize,
                     KeptCopies* copies);

// With no copy to explain it from: whether nothing shows the image patched. `places` are
// the image's own.
bool NothingShowsPatched(const uint8_t* image, uint32_t size, const PatternPlaces& places, int candidate);
// Where a rule without a value has left its written form (the 60 FPS rule's cmp edi, 0),
// which tells its change without a copy; false when it is not there.
bool FindWrittenForm(const uint8_t* image, uint32_t size, PatchRule rule, uint32_t* offset);

// The places (hit offsets) at which the model of the game puts `rule`'s writes, with the
// bits each holds; none when no copy explains the game.
void RulePlaces(const KeptCopies& copies, PatchRule rule, std::vector<RuleWrite>* places);

// What can be told of one rule in a game.
enum RuleState {
    RULE_STATE_ORIGINAL,   // the pattern, unchanged, `occurrences` times in the target
    RULE_STATE_PATCHED,    // the value the rule wrote is read back
    RULE_STATE_NOT_FOUND,  // the pattern is not there, and nothing shows that it was patched
    RULE_STATE_UNKNOWN,    // copies are there and none explains the game
};

struct RuleStatus {
    RuleState state = RULE_STATE_UNKNOWN;
    uint32_t occurrences = 0;      // the rule's pattern in the target
    std::vector<RuleWrite> writes; // when patched: every place, with the bits it holds
};

enum GameState { GAME_ORIGINAL, GAME_PATCHED, GAME_UNKNOWN };
const char* GameStateWord(GameState state);  // "original", "patched", "unknown"

// The whole state of one game, from its executable and its copies.
struct GameStatus {
    bool targetRead = false;
    uint32_t targetSize = 0;
    KeptCopies copies;
    const CopyCheck* fitting = nullptr;
    RuleStatus rules[RULE_COUNT];
    GameState state = GAME_UNKNOWN;
};

// Reads the game at `targetPath` (TARGET_CANDIDATES[candidate]) and its copies, each
// opened for reading only, with the sharing that lets a running game be read; writes
// nothing.
void ReadGameStatus(const char* targetPath, int candidate, GameStatus* status);
// Models a game image already read.
void ModelGameStatus(const char* targetPath, int candidate, const uint8_t* target, uint32_t size, GameStatus* status);

GameState StateOfGame(const char* folder, const char* exeName);  // reads the exe and its .orig/.bak in folder; patches nothing

// The smallest screen width whose FOV constant is `constant`; 0 when no width from 1 up
// gives it.
int32_t FovWidthOfConstant(int32_t constant);
// The W:H of 4:3, 5:4, 16:10, 16:9, 21:9 and 32:9 whose single-precision ratio has exactly
// these bits, into `text` ("16:9"); false when none has.
bool AspectNameOfBits(uint32_t bits, char (&text)[16]);
float AspectOfBits(uint32_t bits);

// Reads a whole file, opened for reading only, with the sharing that lets a running game
// be read. The caller releases *bytes with g_fileOps.release.
bool ReadFileWhole(const char* name, uint8_t** bytes, uint32_t* size);
