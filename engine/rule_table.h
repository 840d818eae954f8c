#pragma once
// What each rule is, one row per rule: what it looks for, what it writes there, what the
// player gives it, on which games it may run, and how the window, velmora-patch and its
// reports name it. Everything that goes over the rules loops over this table; a rule known
// anywhere else is knowledge kept twice.

#include <cstdint>

#include "byte_scan.h"

enum PatchRule { RULE_WIDESCREEN, RULE_CAMERA, RULE_FOV, RULE_FPS, RULE_COUNT };

// What the player gives a rule.
enum RuleValueKind {
    VALUE_NONE,   // nothing: the rule is only switched on or off
    VALUE_RATIO,  // two whole numbers, W and H, taken as W / H in single precision
    VALUE_WHOLE,  // one whole number
};

// A rule's value, in the member its kind names. Zero in it means "no value": the rule
// does not run.
struct RuleValue {
    float ratio;
    int32_t whole;
};

// What a job asks of one rule.
struct RuleRequest {
    bool on;
    RuleValue value;
};

// The bytes of a hit that a rule may rewrite.
struct RuleWriteSpan {
    uint8_t offset;
    uint8_t length;  // at most 4: the span holds the bits of one 32-bit value
};

struct RuleRow;

// Stores `bits` at the hit `at` within the row's span.
typedef void (*RuleWriter)(uint8_t* at, const RuleRow& row, uint32_t bits);

struct RuleRow {
    const char* name;  // "fov": the report's, the JSON's and the schema's name
    BytePattern pattern;
    RuleWriteSpan span;
    bool firstHitOnly;  // stops at its first hit; else every hit is rewritten

    RuleValueKind kind;
    uint32_t maximum;  // VALUE_WHOLE: the largest value; VALUE_RATIO: of W and of H; from 1 up

    // The bits the writer stores from the player's value; false when the value is "no
    // value", and the rule does not run.
    bool (*encode)(const RuleValue& value, uint32_t* bits);
    RuleWriter write;
    // The bits a hit holds within the span, read back into the value --status shows, and
    // the bits the writer stores for that value; false when they hold no value the rule
    // takes (its guard).
    bool (*readBack)(uint32_t held, RuleValue* shown, uint32_t* bits);

    // The candidates (bit i: TARGET_CANDIDATES[i]) the rule may run on.
    unsigned candidates;
    bool onByDefault;  // the window's toggle starts on, and velmora-patch runs it unasked
    // The value as the window's fields start ("16:9" for the fields 16 and 9); null for none.
    const char* defaultValue;

    const char* okText;       // the result line of a rule that wrote
    const char* notUsedText;  // the result line of a rule that found nothing or did not run

    // How --status words a written value: "camera distance 2000"; a rule with no value
    // shows these words alone.
    const char* valueWords;

    // The velmora-patch option that switches the rule on and gives its value, what that
    // value must be (for the errors), its placeholder and help text (for --help); and the
    // option that switches off a rule that runs unasked, with its help text.
    const char* option;
    const char* takes;
    const char* placeholder;
    const char* help;
    const char* offOption;
    const char* offHelp;
};

extern const RuleRow RULE_TABLE[RULE_COUNT];

inline const RuleRow& RuleOf(PatchRule rule) { return RULE_TABLE[rule < RULE_COUNT ? rule : RULE_WIDESCREEN]; }

// Whether `rule` may run on TARGET_CANDIDATES[candidate]. With -1 (no game known) only the
// rules that may run on every game may.
bool RuleMayRunOn(PatchRule rule, int candidate);

// The little-endian bits of `row`'s span at the hit `at`.
uint32_t ReadSpan(const uint8_t* at, const RuleRow& row);

// The immediate the FOV rule loads: width / 1.3333334 in single precision, truncated.
int32_t FovConstant(int32_t width);
