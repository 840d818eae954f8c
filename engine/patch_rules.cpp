#include "patch_rules.h"

#include <cstring>

#include "bounded_text.h"
#include "byte_scan.h"
#include "job_report.h"

namespace {

// What a rule writes at a hit, for the scans: the row and the bits.
struct RuleWrite {
    const RuleRow* row;
    uint32_t bits;
};

// Returns whether the scan goes on. The single-rule scans and the sweep of all rules share it.
bool WriteHit(uint8_t* at, const void* context) {
    const RuleWrite& w = *static_cast<const RuleWrite*>(context);
    w.row->write(at, *w.row, w.bits);
    return !w.row->firstHitOnly;
}

bool Scan(uint8_t* image, uint32_t size, const BytePattern& pattern, ScanKind kind, SweepHit write,
          const void* context) {
    auto onHit = [write, context](uint8_t* at) { return write(at, context); };
    return kind == SCAN_LITERAL ? ScanLiteral(image, size, pattern, onHit)
                                : ScanFast(image, size, pattern, onHit);
}

// Wraps a rule's write so that each hit is recorded with its bytes before and after.
struct HitRecorder {
    const RuleWrite* write;
    const uint8_t* image;
    uint8_t length;
    RuleReport* report;
};

bool RecordHit(uint8_t* at, const void* recorder) {
    const HitRecorder& r = *static_cast<const HitRecorder*>(recorder);
    RuleHit hit = {};
    hit.offset = static_cast<uint32_t>(at - r.image);
    hit.length = r.length;
    std::memcpy(hit.before, at, r.length);
    const bool goOn = WriteHit(at, r.write);
    std::memcpy(hit.after, at, r.length);
    r.report->hits.push_back(hit);
    return goOn;
}

}  // namespace

bool RunRule(PatchRule rule, uint8_t* image, uint32_t size, uint32_t bits, ScanKind kind) {
    const RuleWrite write = {&RuleOf(rule), bits};
    return Scan(image, size, write.row->pattern, kind, WriteHit, &write);
}

bool RunRuleWithValue(PatchRule rule, uint8_t* image, uint32_t size, const RuleValue& value, ScanKind kind) {
    uint32_t bits = 0;
    return RuleOf(rule).encode(value, &bits) && RunRule(rule, image, size, bits, kind);
}

void ApplyPatchRules(uint8_t* image, uint32_t size, PatchJob* job, bool applied[RULE_COUNT], ScanKind kind,
                     RuleReport* reports) {
    // The rules whose guards pass, in their fixed order.
    RuleWrite writes[RULE_COUNT];
    SweepRule rules[RULE_COUNT];
    HitRecorder recorders[RULE_COUNT];
    PatchRule ruleOf[RULE_COUNT];
    int count = 0;
    for (int i = 0; i < RULE_COUNT; ++i) {
        const PatchRule rule = static_cast<PatchRule>(i);
        const RuleRow& row = RULE_TABLE[rule];
        const RuleRequest& request = job->requests[rule];
        RuleReport* report = reports != nullptr ? &reports[rule] : nullptr;
        uint32_t bits = 0;
        const RuleReason heldBack = !request.on                          ? RULE_SWITCHED_OFF
                                    : !row.encode(request.value, &bits)  ? RULE_NO_VALUE
                                    : !RuleMayRunOn(rule, job->candidate) ? RULE_NOT_FOR_THIS_GAME
                                                                         : RULE_USED;
        if (report != nullptr) {
            report->reason = heldBack;
            report->hits.clear();
        }
        if (heldBack != RULE_USED) continue;
        writes[count] = {&row, bits};
        if (report != nullptr) {
            recorders[count] = {&writes[count], image, static_cast<uint8_t>(row.pattern.length), report};
            rules[count] = SweepRule{&row.pattern, RecordHit, &recorders[count], {}};
        } else {
            rules[count] = SweepRule{&row.pattern, WriteHit, &writes[count], {}};
        }
        ruleOf[count++] = rule;
    }

    // The fast way runs them all in one sweep over the image, with the same result as
    // running them one after the other, which is what the reference does.
    if (kind == SCAN_FAST) {
        SweepScan(image, size, rules, count);
    } else {
        for (int i = 0; i < count; ++i) {
            rules[i].cursor.found = Scan(image, size, *rules[i].pattern, kind, rules[i].onHit, rules[i].context);
        }
    }

    for (int i = 0; i < count; ++i) {
        if (!rules[i].cursor.found) {
            if (reports != nullptr) reports[ruleOf[i]].reason = RULE_PATTERN_NOT_FOUND;
            continue;
        }
        strcpy_s(job->status[ruleOf[i]], RULE_TABLE[ruleOf[i]].okText);
        applied[ruleOf[i]] = true;
    }
}
