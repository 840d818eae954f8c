#pragma once
// The rules of the rule table applied to the game's image in memory.

#include <cstdint>

#include "byte_scan.h"
#include "patch_job.h"
#include "rule_table.h"

struct RuleReport;

// How a rule walks the image: the fast scan the program uses, or the plain
// position-by-position scan it must always agree with.
enum ScanKind { SCAN_FAST, SCAN_LITERAL };

// Runs one rule over the image, writing `bits` (its encoded value) at its hits as its row
// says. Returns true when it found a hit. It only looks at the image.
bool RunRule(PatchRule rule, uint8_t* image, uint32_t size, uint32_t bits, ScanKind kind = SCAN_FAST);
// The same with the player's value; false, writing nothing, when it is "no value".
bool RunRuleWithValue(PatchRule rule, uint8_t* image, uint32_t size, const RuleValue& value,
                      ScanKind kind = SCAN_FAST);

// Runs the rules in their fixed order as the job asks, within their guards (the value,
// and the candidates a rule may run on), writes each success text into `job` and sets
// `applied` for each rule that found a hit. With `reports` (RULE_COUNT of them) it also
// says why each rule wrote nothing, or lists every hit it rewrote.
void ApplyPatchRules(uint8_t* image, uint32_t size, PatchJob* job, bool applied[RULE_COUNT], ScanKind kind = SCAN_FAST,
                     RuleReport* reports = nullptr);
