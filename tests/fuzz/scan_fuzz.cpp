// The fast scans against the literal position-by-position scan they must always equal, on
// every instruction set the processor offers, over images made from the input: the same
// hits in the same order, the same bytes written, the same result lines.
//
// The first byte picks the case:
// - the rule table's rules through ApplyPatchRules (each way, with and without the
//   reports) and through RunRule and RunRuleWithValue, with switches, values, bits and
//   game from the input, over the input's bytes or over an image of up to two sweep
//   blocks with the input's bytes around a block boundary;
// - up to ten rules of the input's own making (pattern, wildcards, rare bytes, what a hit
//   writes, first hit or every hit), scanned one by one, in cursor pieces cut where the
//   input says, and in one sweep with the input's block size; and the candidate searches
//   under them, for those rules' filters, from and up to where the input says.

#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "byte_scan.h"
#include "fuzz_check.h"
#include "job_report.h"
#include "patch_job.h"
#include "patch_rules.h"

namespace {

typedef std::vector<uint8_t> Bytes;

// An image whose last byte is the last byte of its allocation, so that AddressSanitizer
// reports any read past its end; `shift` moves its start against the cache lines.
class Image {
public:
    Image(const Bytes& bytes, uint32_t shift)
        : storage_(new uint8_t[shift + bytes.size()]), data_(storage_.get() + shift),
          size_(static_cast<uint32_t>(bytes.size())) {
        if (!bytes.empty()) std::memcpy(data_, bytes.data(), bytes.size());
    }
    uint8_t* data() { return data_; }
    uint32_t size() const { return size_; }
    Bytes bytes() const { return Bytes(data_, data_ + size_); }

private:
    std::unique_ptr<uint8_t[]> storage_;
    uint8_t* data_;
    uint32_t size_;
};

// The rest of the input as it is, or written into an image of one or two sweep blocks
// and a little, filled with one byte, starting a little below a block boundary (where it
// may run past the image's end, which cuts it off).
Bytes MakeImage(FuzzInput& in, bool large) {
    if (!large) {
        const std::string body = in.Rest();
        return Bytes(body.begin(), body.end());
    }
    const uint32_t blocks = 1 + in.Below(2);
    const uint32_t size = blocks * SWEEP_BLOCK + in.Below(512);
    const uint32_t start = (1 + in.Below(blocks)) * SWEEP_BLOCK - in.Below(256);
    Bytes image(size, in.Byte());
    const std::string body = in.Rest();
    for (size_t i = 0; i < body.size() && start + i < size; ++i) image[start + i] = static_cast<uint8_t>(body[i]);
    return image;
}

// Runs the body once with each instruction set the processor offers, then goes back to the
// best one.
template <class Body>
void EachIsa(Body body) {
    for (int isa = SCAN_ISA_PLAIN; isa <= BestScanIsa(); ++isa) {
        UseScanIsa(static_cast<ScanIsa>(isa));
        body(static_cast<ScanIsa>(isa));
    }
    UseScanIsa(BestScanIsa());
}

std::string On(ScanIsa isa, const char* what) { return std::string(what) + " with " + ScanIsaName(isa); }

void Expect(bool holds, ScanIsa isa, const char* what) {
    if (!holds) FuzzFailed(On(isa, what));
}

// --- The program's rules ---

struct ApplyOutcome {
    Bytes image;
    PatchJob job;
    bool applied[RULE_COUNT];
    RuleReport reports[RULE_COUNT];
};

ApplyOutcome Apply(const Bytes& original, uint32_t shift, const PatchJob& job, ScanKind kind, bool withReports) {
    Image image(original, shift);
    ApplyOutcome outcome;
    std::memcpy(&outcome.job, &job, sizeof job);
    std::memset(outcome.applied, 0, sizeof outcome.applied);
    ApplyPatchRules(image.data(), image.size(), &outcome.job, outcome.applied, kind,
                    withReports ? outcome.reports : nullptr);
    outcome.image = image.bytes();
    return outcome;
}

bool SameResultLines(const PatchJob& a, const PatchJob& b) {
    return std::memcmp(a.status, b.status, sizeof a.status) == 0 &&
           std::memcmp(a.failure_text, b.failure_text, sizeof a.failure_text) == 0;
}

bool SameReports(const RuleReport (&a)[RULE_COUNT], const RuleReport (&b)[RULE_COUNT]) {
    for (int rule = 0; rule < RULE_COUNT; ++rule) {
        if (a[rule].reason != b[rule].reason || a[rule].hits.size() != b[rule].hits.size()) return false;
        for (size_t i = 0; i < a[rule].hits.size(); ++i) {
            const RuleHit& x = a[rule].hits[i];
            const RuleHit& y = b[rule].hits[i];
            if (x.offset != y.offset || x.length != y.length || std::memcmp(x.before, y.before, x.length) != 0 ||
                std::memcmp(x.after, y.after, x.length) != 0) {
                return false;
            }
        }
    }
    return true;
}

// What a single-rule entry point does to a copy of the image, and whether it found a hit:
// RunRule with bits from the input, or RunRuleWithValue with the job's value.
struct SingleOutcome {
    Bytes image;
    bool found;
    bool operator==(const SingleOutcome& other) const { return found == other.found && image == other.image; }
};

SingleOutcome RunSingleRule(PatchRule rule, bool withValue, const Bytes& original, uint32_t shift,
                            const PatchJob& job, uint32_t bits, ScanKind kind) {
    Image image(original, shift);
    const bool found = withValue ? RunRuleWithValue(rule, image.data(), image.size(), job.requests[rule].value, kind)
                                 : RunRule(rule, image.data(), image.size(), bits, kind);
    return {image.bytes(), found};
}

void ProgramRules(FuzzInput& in, bool large, uint32_t shift) {
    PatchJob job;
    std::memset(&job, 0, sizeof job);
    const uint8_t switches = in.Byte();
    for (int rule = 0; rule < RULE_COUNT; ++rule) job.requests[rule].on = ((switches >> rule) & 1) != 0;
    const uint32_t ratioBits = in.U32();
    std::memcpy(&job.requests[RULE_WIDESCREEN].value.ratio, &ratioBits, sizeof ratioBits);
    job.requests[RULE_CAMERA].value.whole = static_cast<int32_t>(in.U32());
    job.requests[RULE_FOV].value.whole = static_cast<int32_t>(in.U32());
    // A game, or none known (-1).
    job.candidate = static_cast<int>(in.Below(TARGET_CANDIDATE_COUNT + 1)) - 1;
    if (job.candidate >= 0) std::strncpy(job.target_name, TARGET_CANDIDATES[job.candidate], PATCH_TEXT_SIZE - 1);
    const uint32_t bits = in.U32();
    const Bytes original = MakeImage(in, large);

    const ApplyOutcome literal = Apply(original, shift, job, SCAN_LITERAL, true);
    // The large images cost time in the literal scans, the oracle: the single-rule entry
    // points, the same scans as ApplyPatchRules', are left to the small ones.
    std::vector<SingleOutcome> singles;
    if (!large) {
        const ApplyOutcome quiet = Apply(original, shift, job, SCAN_LITERAL, false);
        FuzzExpect(quiet.image == literal.image, "the literal scan writes other bytes when it reports its hits");
        for (int rule = 0; rule < RULE_COUNT; ++rule) {
            for (bool withValue : {false, true}) {
                singles.push_back(
                    RunSingleRule(static_cast<PatchRule>(rule), withValue, original, shift, job, bits, SCAN_LITERAL));
            }
        }
    }
    EachIsa([&](ScanIsa isa) {
        for (bool withReports : {true, false}) {
            const ApplyOutcome fast = Apply(original, shift, job, SCAN_FAST, withReports);
            Expect(fast.image == literal.image, isa, "the fast rules write other bytes than the literal ones");
            Expect(SameResultLines(fast.job, literal.job), isa,
                   "the fast rules give other result lines than the literal ones");
            Expect(std::memcmp(fast.applied, literal.applied, sizeof fast.applied) == 0, isa,
                   "the fast rules apply other rules than the literal ones");
            if (withReports) {
                Expect(SameReports(fast.reports, literal.reports), isa,
                       "the fast rules report other hits or reasons than the literal ones");
            }
        }
        if (large) return;
        size_t i = 0;
        for (int rule = 0; rule < RULE_COUNT; ++rule) {
            for (bool withValue : {false, true}) {
                const SingleOutcome fast =
                    RunSingleRule(static_cast<PatchRule>(rule), withValue, original, shift, job, bits, SCAN_FAST);
                Expect(fast == singles[i++], isa, "a single rule scanned fast differs from its literal scan");
            }
        }
    });
}

// --- Rules of the input's own making ---

struct MadeRule {
    BytePattern pattern;
    Bytes write;  // written from writeAt on, within the pattern's bytes
    uint32_t writeAt;
    bool everyHit;
};

struct RuleRun {
    const MadeRule* rule;
    uint8_t* image;
    std::vector<uint32_t> hits;
};

bool ApplyMadeRule(uint8_t* at, const void* context) {
    RuleRun& run = *static_cast<RuleRun*>(const_cast<void*>(context));
    run.hits.push_back(static_cast<uint32_t>(at - run.image));
    std::copy(run.rule->write.begin(), run.rule->write.end(), at + run.rule->writeAt);
    return run.rule->everyHit;
}

MadeRule MakeRule(FuzzInput& in) {
    MadeRule rule = {};
    const uint8_t shape = in.Byte();
    rule.pattern.length = 1 + shape % BYTE_PATTERN_MAX;
    rule.everyHit = (shape & 0x80) != 0;
    // Each byte compared, a wildcard or one of the rare two, two bits of a mask each.
    const uint16_t fixedBits = in.U16();
    for (uint32_t i = 0; i < rule.pattern.length; ++i) {
        rule.pattern.bytes[i] = in.Byte();
        const uint32_t kind = (fixedBits >> (2 * i)) & 3;
        rule.pattern.fixed[i] = kind == 0 ? 0 : kind == 3 ? BYTE_RARE : BYTE_COMPARED;
    }
    const uint8_t writeShape = in.Byte();
    rule.writeAt = writeShape % rule.pattern.length;
    const uint32_t writeLength = 1 + (writeShape >> 3) % (rule.pattern.length - rule.writeAt);
    for (uint32_t i = 0; i < writeLength; ++i) rule.write.push_back(in.Byte());
    return rule;
}

struct MadeOutcome {
    Bytes image;
    std::vector<std::vector<uint32_t>> hits;
    std::vector<bool> found;
    bool operator==(const MadeOutcome& other) const {
        return image == other.image && hits == other.hits && found == other.found;
    }
};

enum HowScanned { ONE_BY_ONE_LITERAL, ONE_BY_ONE_FAST, IN_PIECES, ONE_SWEEP };

MadeOutcome ScanMade(const Bytes& original, uint32_t shift, const std::vector<MadeRule>& rules, HowScanned how,
                     uint32_t block, const std::vector<uint32_t>& cuts) {
    Image image(original, shift);
    std::vector<RuleRun> runs;
    for (const MadeRule& rule : rules) runs.push_back({&rule, image.data(), {}});
    MadeOutcome outcome;
    if (how == ONE_SWEEP) {
        std::vector<SweepRule> sweep;
        for (RuleRun& run : runs) sweep.push_back({&run.rule->pattern, ApplyMadeRule, &run, {}});
        SweepScan(image.data(), image.size(), sweep.data(), static_cast<int>(sweep.size()), block);
        for (const SweepRule& rule : sweep) outcome.found.push_back(rule.cursor.found);
    } else {
        for (RuleRun& run : runs) {
            auto onHit = [&run](uint8_t* at) { return ApplyMadeRule(at, &run); };
            const BytePattern& pattern = run.rule->pattern;
            if (how == ONE_BY_ONE_LITERAL) {
                outcome.found.push_back(ScanLiteral(image.data(), image.size(), pattern, onHit));
            } else if (how == ONE_BY_ONE_FAST) {
                outcome.found.push_back(ScanFast(image.data(), image.size(), pattern, onHit));
            } else {
                // The same scan in pieces, each going on from where the last one ended.
                ScanCursor cursor = StartCursor(image.size(), pattern);
                for (uint32_t cut : cuts) ScanRange(image.data(), image.size(), pattern, cursor, cut, onHit);
                ScanRange(image.data(), image.size(), pattern, cursor, cursor.end, onHit);
                FuzzExpect(CursorFinished(cursor), "a scan in pieces did not finish");
                outcome.found.push_back(cursor.found);
            }
        }
    }
    for (const RuleRun& run : runs) outcome.hits.push_back(run.hits);
    outcome.image = image.bytes();
    return outcome;
}

// The candidate searches under the scans against a plain search, from and up to places the
// input picks: FindCandidate gives the first position where a rule's two filter bytes fit;
// FindAnyCandidate passes over no anchor where one of the rules' filters fits, and stops
// either at one or less than a group of 64 short of `stop`.
void CandidateSearches(const Bytes& original, uint32_t shift, const std::vector<MadeRule>& rules, uint32_t fromPick,
                       uint32_t stopPick) {
    Image image(original, shift);
    const uint32_t size = image.size();
    std::vector<PairFilter> filters;
    for (const MadeRule& rule : rules) {
        const PairFilter filter = MakePairFilter(rule.pattern);
        if (!filter.anyPosition && filters.size() < FUSED_FILTER_MAX) filters.push_back(filter);
    }
    auto fits = [&](const PairFilter& f, uint32_t x) {
        return original[x + f.offsetA] == f.byteA && original[x + f.offsetB] == f.byteB;
    };
    EachIsa([&](ScanIsa isa) {
        for (const PairFilter& f : filters) {
            if (size < f.offsetB + 1) continue;
            const uint32_t end = size - f.offsetB;  // stop + offsetB may not pass the image's end
            const uint32_t from = fromPick % (end + 1);
            const uint32_t stop = from + stopPick % (end - from + 1);
            uint32_t expected = from;
            while (expected < stop && !fits(f, expected)) ++expected;
            Expect(FindCandidate(isa, image.data(), size, from, stop, f) == expected, isa,
                   "FindCandidate differs from a plain search");
        }
        if (filters.empty() || !FusedSearchAvailable(static_cast<int>(filters.size()))) return;
        if (size < BYTE_PATTERN_MAX - 1) return;
        const uint32_t stopMax = size - (BYTE_PATTERN_MAX - 1);
        const uint32_t from = fromPick % (stopMax + 1);
        const uint32_t stop = from + stopPick % (stopMax - from + 1);
        auto anyFits = [&](uint32_t t) {
            for (const PairFilter& f : filters) {
                const uint32_t distance = f.offsetB - f.offsetA;
                if (original[t] == f.byteA && original[t + distance] == f.byteB) return true;
            }
            return false;
        };
        const uint32_t got =
            FindAnyCandidate(image.data(), from, stop, filters.data(), static_cast<int>(filters.size()));
        Expect(got >= from && got <= stop, isa, "FindAnyCandidate ends outside its range");
        for (uint32_t t = from; t < got; ++t) Expect(!anyFits(t), isa, "FindAnyCandidate passes over a candidate");
        if (got < stop && !anyFits(got)) {
            Expect(stop - got < 64, isa, "FindAnyCandidate stops short of a whole group before its end");
        }
    });
}

void MadeRules(FuzzInput& in, uint32_t shift) {
    const uint32_t count = 1 + in.Below(10);
    std::vector<MadeRule> rules;
    for (uint32_t i = 0; i < count; ++i) rules.push_back(MakeRule(in));
    const uint32_t block = in.Flag() ? static_cast<uint32_t>(SWEEP_BLOCK) : 1 + in.Below(1024);
    std::vector<uint32_t> cuts;
    for (uint32_t i = in.Below(4), last = 0; i > 0; --i) cuts.push_back(last += in.Below(512));
    const uint32_t fromPick = in.U16();
    const uint32_t stopPick = in.U16();
    const Bytes original = MakeImage(in, false);

    const MadeOutcome literal = ScanMade(original, shift, rules, ONE_BY_ONE_LITERAL, block, cuts);
    EachIsa([&](ScanIsa isa) {
        Expect(ScanMade(original, shift, rules, ONE_BY_ONE_FAST, block, cuts) == literal, isa,
               "ScanFast differs from ScanLiteral");
        Expect(ScanMade(original, shift, rules, IN_PIECES, block, cuts) == literal, isa,
               "the scan in cursor pieces differs from ScanLiteral");
        Expect(ScanMade(original, shift, rules, ONE_SWEEP, block, cuts) == literal, isa,
               "SweepScan differs from the rules scanned one by one");
    });
    CandidateSearches(original, shift, rules, fromPick, stopPick);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzInput in(data, size);
    const uint8_t kind = in.Byte();
    const uint32_t shift = kind & 63;
    if (kind & 0x80) {
        MadeRules(in, shift);
    } else {
        ProgramRules(in, (kind & 0x60) == 0x60, shift);
    }
    return 0;
}
