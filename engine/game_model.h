#pragma once
// One model of a game's executable: a base (a kept copy) plus the rule writes that explain
// every byte in which the game differs from it. The restore, --status, a patch run and
// --find all ask it what was done to a game, however many runs did it.
//
// A byte that differs is explained when it lies in the write span of an occurrence of a
// rule's pattern and the bytes there are a value that rule writes (its read-back takes
// them), on a game the rule may run on. The model replays runs: in each, the rules in their
// fixed order, each on the image as the earlier writes left it, each either not run or run
// with one value, its scan stopping at its first hit or going over every hit as the rule
// does, chains included. A run is only taken when every write it makes gives the game's
// bytes there. Runs are replayed until one changes nothing; the base fits when the image
// is then the game. Nothing is guessed: a byte no such write gives means the base does not
// fit (an update, or a change by something else).
//
// Every rule's pattern, span, writer and read-back come from its row of the rule table.

#include <cstdint>
#include <vector>

#include "rule_table.h"

// Where each rule's pattern occurs in an image: one sweep over it.
struct PatternPlaces {
    std::vector<uint32_t> offsets[RULE_COUNT];
    bool noMemory = false;
};
void FindPatternPlaces(const uint8_t* image, uint32_t size, PatternPlaces* places);

// One write of a rule at the hit `offset`: `bits` are its span's little-endian bits as the
// game holds them.
struct RuleWrite {
    PatchRule rule;
    uint32_t offset;
    uint32_t bits;
    uint32_t run;  // the replayed run that made it, from 1
};

struct GameModel {
    bool fits = false;        // the base plus `writes` is the game, byte for byte
    bool identical = false;   // the game holds the base's bytes (then it fits, no writes)
    bool sizesDiffer = false;
    bool noMemory = false;    // the model could not be made; fits is false
    uint32_t firstUnexplained = 0;  // when not fits: the first byte no write explains, or
                                    // the smaller size when the sizes differ
    uint32_t runs = 0;              // the runs the writes take, at the fewest the replay found
    std::vector<RuleWrite> writes;  // in the order the runs make them
    // The rules' patterns in the game as the base and the writes make it; only when fits.
    uint32_t occurrences[RULE_COUNT] = {};

    bool Patched(PatchRule rule) const;
    bool AnyWrite() const { return !writes.empty(); }
};

// Explains `target` from `base`. `candidate` (an index into TARGET_CANDIDATES, -1 for none)
// tells which rules may run on the game. `baseplaces`, when given, are the base's own (from
// FindPatternPlaces) and spare a sweep over it. Returns model->fits.
bool ExplainGame(const uint8_t* target, uint32_t targetSize, const uint8_t* base, uint32_t baseSize, int candidate,
                 GameModel* model, const PatternPlaces* baseplaces = nullptr);
