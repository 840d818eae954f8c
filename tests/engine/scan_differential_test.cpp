// The fast scans against the literal position-by-position scan they must always equal:
// the same hits in the same order, the same bytes written, the same result lines. Every
// instruction set the processor offers is tried, on random images (fixed seeds) crowded
// with the patterns' bytes, with hits at every alignment, overlapping, adjacent, at the
// last possible position and across the sweep's block boundaries, and with values whose
// written bytes make new hits for the same rule or for later ones.

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#if defined(__i386__) || defined(__x86_64__)
#include <cpuid.h>
#endif

#include "byte_scan.h"
#include "candidate_names.h"
#include "job_report.h"
#include "patch_rules.h"
#include "test_folder.h"

namespace {

// The four rules' patterns, written out again: the test must not borrow from what it checks.
const BytePattern WIDESCREEN = {{0xAB, 0xAA, 0xAA, 0x3F}, {1, 1, 1, 1}, 4};
const BytePattern CAMERA = {{0xC7, 0x05, 0, 0, 0, 0, 0x00, 0x06}, {1, 1, 0, 0, 0, 0, 1, 1}, 8};
const BytePattern FOV = {{0xA1, 0, 0, 0, 0, 0x99}, {1, 0, 0, 0, 0, 1}, 6};
const BytePattern FPS = {{0x8B, 0xF8, 0x83, 0xFF, 0x02}, {1, 1, 1, 1, 1}, 5};

// Bytes the random images are crowded with: every pattern byte and what the rules write.
const uint8_t CROWD[] = {0xAB, 0xAA, 0x3F, 0xC7, 0x05, 0x00, 0x06, 0xA1, 0x99, 0x8B, 0xF8, 0x83, 0xFF, 0x02, 0xB8};

// An image whose last byte is the last byte of its own allocation, so that AddressSanitizer
// reports any read past its end; `shift` moves its start against the cache lines.
class Image {
public:
    Image(size_t size, size_t shift) : storage_(shift + size), shift_(shift) {}
    uint8_t* data() { return storage_.data() + shift_; }
    uint32_t size() const { return static_cast<uint32_t>(storage_.size() - shift_); }
    Bytes bytes() const { return Bytes(storage_.begin() + static_cast<std::ptrdiff_t>(shift_), storage_.end()); }
    void assign(const Bytes& bytes) { std::copy(bytes.begin(), bytes.end(), data()); }

private:
    Bytes storage_;
    size_t shift_;
};

Bytes CrowdedBytes(size_t size, uint32_t seed) {
    std::mt19937 random(seed);
    Bytes bytes(size);
    for (uint8_t& b : bytes) {
        const uint32_t r = random();
        b = (r & 1) ? CROWD[(r >> 1) % sizeof CROWD] : static_cast<uint8_t>(r >> 8);
    }
    return bytes;
}

void Put(Bytes& bytes, size_t at, std::initializer_list<uint8_t> sequence) {
    size_t i = at;
    for (uint8_t b : sequence) {
        if (i < bytes.size()) bytes[i] = b;
        ++i;
    }
}

// Runs the body once with each instruction set the processor offers, then goes back to the
// best one.
class EachIsa {
public:
    ~EachIsa() { UseScanIsa(BestScanIsa()); }
    template <class Body>
    void Run(Body body) {
        for (int isa = SCAN_ISA_PLAIN; isa <= BestScanIsa(); ++isa) {
            UseScanIsa(static_cast<ScanIsa>(isa));
            SCOPED_TRACE(ScanIsaName(static_cast<ScanIsa>(isa)));
            body();
        }
    }
};

// A rule for the byte_scan level: a pattern, what it writes at a hit, first-only or not.
// Every hit is recorded, so that the order of the hits is compared too.
struct TestRule {
    const BytePattern* pattern;
    Bytes write;          // written from `writeAt` on, within the pattern's bytes
    uint32_t writeAt;
    bool everyHit;
    std::vector<uint32_t>* hits;
    uint8_t* image;
};

bool ApplyTestRule(uint8_t* at, const void* context) {
    const TestRule& rule = *static_cast<const TestRule*>(context);
    rule.hits->push_back(static_cast<uint32_t>(at - rule.image));
    std::copy(rule.write.begin(), rule.write.end(), at + rule.writeAt);
    return rule.everyHit;
}

struct ScanOutcome {
    Bytes image;
    std::vector<std::vector<uint32_t>> hits;
    std::vector<bool> found;
};

struct RuleSpec {
    const BytePattern* pattern;
    Bytes write;
    uint32_t writeAt;
    bool everyHit;
};

enum HowScanned { ONE_BY_ONE_LITERAL, ONE_BY_ONE_FAST, ONE_SWEEP };

ScanOutcome Scan(const Bytes& original, size_t shift, const std::vector<RuleSpec>& specs, HowScanned how,
                 uint32_t block = SWEEP_BLOCK) {
    Image image(original.size(), shift);
    image.assign(original);
    ScanOutcome outcome;
    outcome.hits.resize(specs.size());
    std::vector<TestRule> rules;
    for (size_t i = 0; i < specs.size(); ++i) {
        rules.push_back({specs[i].pattern, specs[i].write, specs[i].writeAt, specs[i].everyHit, &outcome.hits[i],
                         image.data()});
    }
    if (how == ONE_SWEEP) {
        std::vector<SweepRule> sweep;
        for (const TestRule& rule : rules) sweep.push_back({rule.pattern, ApplyTestRule, &rule, {}});
        SweepScan(image.data(), image.size(), sweep.data(), static_cast<int>(sweep.size()), block);
        for (const SweepRule& rule : sweep) outcome.found.push_back(rule.cursor.found);
    } else {
        for (const TestRule& rule : rules) {
            auto onHit = [&rule](uint8_t* at) { return ApplyTestRule(at, &rule); };
            outcome.found.push_back(how == ONE_BY_ONE_LITERAL
                                        ? ScanLiteral(image.data(), image.size(), *rule.pattern, onHit)
                                        : ScanFast(image.data(), image.size(), *rule.pattern, onHit));
        }
    }
    outcome.image = image.bytes();
    return outcome;
}

void ExpectSameImage(const Bytes& expected, const Bytes& actual) {
    ASSERT_EQ(expected.size(), actual.size());
    for (size_t i = 0; i < expected.size(); ++i) {
        if (expected[i] != actual[i]) {
            ADD_FAILURE() << "images differ first at offset " << i << " of " << expected.size();
            return;
        }
    }
}

void ExpectSameOutcome(const ScanOutcome& expected, const ScanOutcome& actual) {
    ASSERT_EQ(expected.hits.size(), actual.hits.size());
    for (size_t i = 0; i < expected.hits.size(); ++i) {
        EXPECT_EQ(expected.hits[i], actual.hits[i]) << "hits of rule " << i;
        EXPECT_EQ(expected.found[i], actual.found[i]) << "result of rule " << i;
    }
    ExpectSameImage(expected.image, actual.image);
}

// What the program's rules write, and writes chosen to make new hits: C7 05 over a camera
// store's immediate starts the next store; aspect bits with an A1 low byte make an FOV hit
// of a 4:3 constant followed by 99; a camera value 8B F8 or one with 99 makes an FPS or an
// FOV hit; the FOV constant 0x5A1 writes an A1 that starts another FOV hit; an FOV write
// of C7 05 and the FPS write of 00 make hits for earlier rules, which must not see them.
const RuleSpec PROGRAM_RULES[] = {
    {&WIDESCREEN, {0x39, 0x8E, 0xE3, 0x3F}, 0, false},
    {&CAMERA, {0x00, 0x08}, 6, true},
    {&FOV, {0xB8, 0xA0, 0x05, 0x00}, 0, true},
    {&FPS, {0x00}, 4, false},
};
const RuleSpec CHAINING_RULES[] = {
    {&WIDESCREEN, {0xA1, 0x8E, 0xE3, 0x3F}, 0, false},
    {&CAMERA, {0xC7, 0x05}, 6, true},
    {&FOV, {0xB8, 0xA1, 0x05, 0x00}, 0, true},
    {&FPS, {0x00}, 4, true},
};
const RuleSpec CROSSING_RULES[] = {
    {&WIDESCREEN, {0xAB, 0xAA, 0xC7, 0x05}, 0, true},
    {&CAMERA, {0x8B, 0xF8}, 6, true},
    {&FOV, {0xC7, 0x05, 0x8B, 0xF8}, 0, true},
    {&CAMERA, {0x00, 0x99}, 6, true},
    {&FPS, {0x00}, 4, true},
    {&FOV, {0xB8, 0x00, 0x06, 0x00}, 0, true},
};

// Writes that reach the bytes another rule reads at a position 6 or 7 lower, the farthest
// a write at offsets 0 to 7 can reach a read at offsets 0 to 7: an FOV hit at q writing
// 00 06 (or 06) completes a camera store at q - 6 (or q - 7), which the later camera rule
// must find; a camera store at p writing A1 at p + 6 (or p + 7) starts an FOV hit there,
// which the earlier FOV rule must not find. A sweep whose rules are not far enough apart
// gets one of them wrong.
const RuleSpec REACHING_6_RULES[] = {
    {&FOV, {0x00, 0x06}, 0, true},
    {&CAMERA, {0xA1, 0x05}, 6, true},
    {&FPS, {0xC7, 0x05}, 3, true},
};
const RuleSpec REACHING_7_RULES[] = {
    {&FOV, {0x06}, 0, true},
    {&CAMERA, {0x00, 0xA1}, 6, true},
    {&FPS, {0xC7, 0x05}, 3, true},
};

std::vector<RuleSpec> Specs(const RuleSpec* begin, const RuleSpec* end) { return std::vector<RuleSpec>(begin, end); }

// Plants the constructs that start chains around `at`: each rule's pattern, overlapping
// and adjacent copies, and the pieces the chaining writes complete.
void PlantChains(Bytes& bytes, size_t at) {
    Put(bytes, at, {0xAB, 0xAA, 0xAA, 0x3F, 0x00, 0x99});                          // 4:3, then 99
    Put(bytes, at + 6, {0xC7, 0x05, 1, 2, 3, 4, 0x00, 0x06, 5, 6, 7, 8, 0x00, 0x06});  // chained stores
    Put(bytes, at + 20, {0xC7, 0x05, 0xC7, 0x05, 9, 9, 0x00, 0x06, 0x00, 0x06});      // overlapping stores
    Put(bytes, at + 30, {0xA1, 1, 2, 3, 4, 0x99, 0x99, 0xA1, 5, 6, 7, 8, 0x99});        // FOV chain, adjacent
    Put(bytes, at + 43, {0x8B, 0xF8, 0x83, 0xFF, 0x02, 0x8B, 0xF8, 0x83, 0xFF, 0x02});  // adjacent FPS
    Put(bytes, at + 53, {0xC7, 0x05, 0x8B, 0xF8, 0x83, 0xFF, 0x02, 0x06, 0x83, 0xFF, 0x02});
}

// Scatters the pieces the reaching writes complete: C7 05, then an FOV load six or seven
// bytes on (with the 00 that the 06 completes), or a camera store followed by 99 at its
// offset 11 or 12.
void PlantReaches(Bytes& bytes, uint32_t seed) {
    std::mt19937 random(seed);
    for (size_t at = random() % 16; at + 13 <= bytes.size(); at += 13 + random() % 16) {
        switch (random() % 4) {
        case 0: Put(bytes, at, {0xC7, 0x05, 1, 2, 3, 4, 0xA1, 5, 6, 7, 8, 0x99}); break;
        case 1: Put(bytes, at, {0xC7, 0x05, 1, 2, 3, 4, 0x00, 0x06, 9, 9, 9, 0x99}); break;
        case 2: Put(bytes, at, {0xC7, 0x05, 1, 2, 3, 4, 0x00, 0xA1, 5, 6, 7, 8, 0x99}); break;
        default: Put(bytes, at, {0xC7, 0x05, 1, 2, 3, 4, 0x00, 0x06, 9, 9, 9, 9, 0x99}); break;
        }
    }
}

// Small blocks put a block boundary, and the rules' staggered hand-over points, next to
// every kind of hit many times over.
TEST(ScanDifferential, SweepWithSmallBlocksEqualsOneRuleAfterAnother) {
    EachIsa isas;
    isas.Run([] {
        for (uint32_t seed = 1; seed <= 6; ++seed) {
            Bytes bytes = CrowdedBytes(3000 + seed * 211, seed);
            if (seed % 3 != 0) PlantReaches(bytes, seed);
            PlantChains(bytes, 100 * seed);
            for (uint32_t block : {64, 65, 96, 128, 200, 1024}) {
                for (const auto& set : {Specs(std::begin(REACHING_6_RULES), std::end(REACHING_6_RULES)),
                                        Specs(std::begin(REACHING_7_RULES), std::end(REACHING_7_RULES)),
                                        Specs(std::begin(CHAINING_RULES), std::end(CHAINING_RULES)),
                                        Specs(std::begin(CROSSING_RULES), std::end(CROSSING_RULES))}) {
                    SCOPED_TRACE("seed " + std::to_string(seed) + " block " + std::to_string(block));
                    ExpectSameOutcome(Scan(bytes, 0, set, ONE_BY_ONE_LITERAL), Scan(bytes, 0, set, ONE_SWEEP, block));
                    if (HasFailure()) return;
                }
            }
        }
    });
}

TEST(ScanDifferential, EveryShortImageAndShift) {
    EachIsa isas;
    isas.Run([] {
        for (size_t size = 0; size <= 200; ++size) {
            Bytes bytes = CrowdedBytes(size, static_cast<uint32_t>(size));
            if (size >= 16) PlantChains(bytes, size / 3);
            // The FPS pattern ending at the last byte, and a camera store whose 00 06 does.
            if (size >= 5) Put(bytes, size - 5, {0x8B, 0xF8, 0x83, 0xFF, 0x02});
            if (size >= 13) Put(bytes, size - 13, {0xC7, 0x05, 1, 2, 3, 4, 0x00, 0x06});
            for (size_t shift : {0, 1, 7, 33, 63}) {
                for (const auto& set : {Specs(std::begin(PROGRAM_RULES), std::end(PROGRAM_RULES)),
                                        Specs(std::begin(CHAINING_RULES), std::end(CHAINING_RULES)),
                                        Specs(std::begin(CROSSING_RULES), std::end(CROSSING_RULES)),
                                        Specs(std::begin(REACHING_6_RULES), std::end(REACHING_6_RULES)),
                                        Specs(std::begin(REACHING_7_RULES), std::end(REACHING_7_RULES))}) {
                    SCOPED_TRACE("size " + std::to_string(size) + " shift " + std::to_string(shift));
                    const ScanOutcome literal = Scan(bytes, shift, set, ONE_BY_ONE_LITERAL);
                    ExpectSameOutcome(literal, Scan(bytes, shift, set, ONE_BY_ONE_FAST));
                    ExpectSameOutcome(literal, Scan(bytes, shift, set, ONE_SWEEP));
                    if (HasFailure()) return;
                }
            }
        }
    });
}

// Each pattern planted at every offset within two cache lines and at the last possible
// position, alone in an otherwise pattern-free image, and found there.
TEST(ScanDifferential, EveryAlignmentAndTheLastPosition) {
    const BytePattern* const patterns[] = {&WIDESCREEN, &CAMERA, &FOV, &FPS};
    EachIsa isas;
    isas.Run([&] {
        for (const BytePattern* pattern : patterns) {
            for (size_t size : {300, 1000}) {
                for (size_t at = 0; at + pattern->length <= size; at = at < 130 ? at + 1 : at + 97) {
                    for (size_t place : {at, size - pattern->length}) {
                        Bytes bytes(size, 0x90);
                        for (uint32_t i = 0; i < pattern->length; ++i) {
                            bytes[place + i] = pattern->fixed[i] ? pattern->bytes[i] : 0x11;
                        }
                        const std::vector<RuleSpec> rule = {{pattern, {0x5A}, 0, true}};
                        const ScanOutcome literal = Scan(bytes, 0, rule, ONE_BY_ONE_LITERAL);
                        ASSERT_EQ(literal.hits[0], std::vector<uint32_t>{static_cast<uint32_t>(place)});
                        ExpectSameOutcome(literal, Scan(bytes, 0, rule, ONE_BY_ONE_FAST));
                        ExpectSameOutcome(literal, Scan(bytes, 13, rule, ONE_SWEEP));
                        if (HasFailure()) return;
                    }
                }
            }
        }
    });
}

// Images over several sweep blocks, with chains planted where the staggered rules hand
// over: on and just before every block boundary and the lag behind it.
TEST(ScanDifferential, LargeImagesAcrossSweepBlocks) {
    const size_t size = 3 * SWEEP_BLOCK + 777;
    Bytes bytes = CrowdedBytes(size, 20240611u);
    for (size_t block = SWEEP_BLOCK; block < size; block += SWEEP_BLOCK) {
        for (size_t behind = 0; behind <= 4 * SWEEP_LAG; behind += SWEEP_LAG) {
            for (size_t before : {0, 1, 3, 5, 7, 8, 9, 40, 63, 64, 65, 80}) PlantChains(bytes, block - behind - before);
        }
    }
    PlantChains(bytes, size - 64);
    EachIsa isas;
    isas.Run([&] {
        for (const auto& set : {Specs(std::begin(PROGRAM_RULES), std::end(PROGRAM_RULES)),
                                Specs(std::begin(CHAINING_RULES), std::end(CHAINING_RULES)),
                                Specs(std::begin(CROSSING_RULES), std::end(CROSSING_RULES)),
                                Specs(std::begin(REACHING_6_RULES), std::end(REACHING_6_RULES)),
                                        Specs(std::begin(REACHING_7_RULES), std::end(REACHING_7_RULES))}) {
            const ScanOutcome literal = Scan(bytes, 5, set, ONE_BY_ONE_LITERAL);
            ExpectSameOutcome(literal, Scan(bytes, 5, set, ONE_BY_ONE_FAST));
            ExpectSameOutcome(literal, Scan(bytes, 5, set, ONE_SWEEP));
        }
    });
}

// The first candidate of every two-byte filter (every distance between its bytes, one
// byte only, bytes equal) against a plain search, from and up to every place near the
// image's ends.
TEST(ScanDifferential, CandidateSearchFindsTheFirstCandidate) {
    std::vector<PairFilter> filters;
    for (uint32_t distance = 0; distance < BYTE_PATTERN_MAX; ++distance) {
        filters.push_back({0, distance, 0xC7, 0x05, false});  // distance 0: two values at one place, never
        filters.push_back({0, distance, 0x99, 0x99, false});
        if (distance + 1 < BYTE_PATTERN_MAX) filters.push_back({1, 1 + distance, 0xA1, 0x99, false});
    }
    EachIsa isas;
    isas.Run([&] {
        for (size_t size : {0, 1, 8, 63, 64, 65, 71, 127, 128, 129, 191, 192, 193, 200, 256, 300, 700}) {
            const Bytes bytes = CrowdedBytes(size, static_cast<uint32_t>(size) + 7);
            Image image(size, size % 64);
            image.assign(bytes);
            for (const PairFilter& filter : filters) {
                if (size < filter.offsetB + 1) continue;
                const uint32_t end = static_cast<uint32_t>(size) - filter.offsetB;  // stop + offsetB <= size
                // nextCandidate[x]: the first candidate at x or after, end when there is none.
                std::vector<uint32_t> nextCandidate(end + 1, end);
                for (uint32_t x = end; x-- > 0;) {
                    const bool fits =
                        bytes[x + filter.offsetA] == filter.byteA && bytes[x + filter.offsetB] == filter.byteB;
                    nextCandidate[x] = fits ? x : nextCandidate[x + 1];
                }
                for (uint32_t from = 0; from <= end; from += from < 10 || from + 140 > end ? 1 : 37) {
                    for (uint32_t stop = from; stop <= end; stop += stop < from + 70 || stop + 140 > end ? 1 : 61) {
                        const uint32_t expected = nextCandidate[from] < stop ? nextCandidate[from] : stop;
                        ForgetLastSearchIsa();
                        ASSERT_EQ(FindCandidate(CurrentScanIsa(), image.data(), image.size(), from, stop, filter),
                                  expected)
                            << "size " << size << " filter " << filter.offsetA << "," << filter.offsetB << " from "
                            << from << " stop " << stop;
                        if (from < stop) {
                            ASSERT_EQ(LastSearchIsa(), CurrentScanIsa()) << "the search given is the one run";
                        }
                    }
                }
            }
        }
    });
}

// The joint search over several filters against a plain search for the first anchor any
// of them fits, from and up to every place near the image's ends: filters of every
// distance, some anchored after the pattern's start, one alone or up to eight at once.
TEST(ScanDifferential, JointSearchFindsTheFirstCandidateOfAnyFilter) {
    const PairFilter all[] = {
        {0, 3, 0xAB, 0x3F, false}, {0, 7, 0xC7, 0x06, false}, {0, 5, 0xA1, 0x99, false},
        {0, 1, 0x8B, 0xF8, false}, {2, 2, 0x99, 0x99, false}, {1, 7, 0x05, 0x00, false},
        {3, 5, 0xFF, 0x02, false}, {6, 7, 0x00, 0x06, false},
    };
    const int counts[] = {1, 3, 4, 8};
    for (int isa = SCAN_ISA_SSE2; isa <= BestScanIsa(); ++isa) {
        UseScanIsa(static_cast<ScanIsa>(isa));
        SCOPED_TRACE(ScanIsaName(static_cast<ScanIsa>(isa)));
        for (size_t size : {7, 8, 70, 71, 134, 135, 136, 200, 263, 700}) {
            const Bytes bytes = CrowdedBytes(size, static_cast<uint32_t>(size) + 11);
            Image image(size, size % 64);
            image.assign(bytes);
            const uint32_t stopMax = static_cast<uint32_t>(size) - (BYTE_PATTERN_MAX - 1);
            for (int count : counts) {
                for (int first : {0, 8 - count}) {
                    const PairFilter* filters = all + first;
                    auto fits = [&](uint32_t t) {
                        for (int k = 0; k < count; ++k) {
                            const uint32_t distance = filters[k].offsetB - filters[k].offsetA;
                            if (bytes[t] == filters[k].byteA && bytes[t + distance] == filters[k].byteB) return true;
                        }
                        return false;
                    };
                    // nextFit[t]: the first anchor at t or after that some filter fits.
                    std::vector<uint32_t> nextFit(stopMax + 1, stopMax);
                    for (uint32_t t = stopMax; t-- > 0;) nextFit[t] = fits(t) ? t : nextFit[t + 1];
                    for (uint32_t from = 0; from <= stopMax; from += from < 10 || from + 140 > stopMax ? 1 : 53) {
                        for (uint32_t stop = from; stop <= stopMax;
                             stop += stop < from + 10 || stop + 140 > stopMax ? 1 : 29) {
                            const uint32_t got = FindAnyCandidate(image.data(), from, stop, filters, count);
                            auto where = [&] {
                                return "size " + std::to_string(size) + " filters " + std::to_string(first) + "+" +
                                       std::to_string(count) + " from " + std::to_string(from) + " stop " +
                                       std::to_string(stop) + " got " + std::to_string(got);
                            };
                            ASSERT_GE(got, from) << where();
                            ASSERT_LE(got, stop) << where();
                            ASSERT_GE(nextFit[from], got) << "passed over a candidate: " << where();
                            // Either a candidate, or the end of the whole groups it took.
                            if (got == stop || !fits(got)) {
                                ASSERT_LT(stop - got, 64u) << where();
                            }
                        }
                    }
                }
            }
        }
    }
    UseScanIsa(BestScanIsa());
}

// Rules whose writes complete the next rule's pattern seven positions lower, one after the
// other, behind a stretch where no rule has a candidate: the last rule's hit lies 7 per rule
// below the first's, which the joint search found first. Rules that went on from too close
// below that first hit would pass over the later ones. Some patterns are anchored after
// their start (a wildcard first byte), so the candidate the search sees lies above the hit.
TEST(ScanDifferential, ChainsOfHitsReachingBackBehindAQuietStretch) {
    const int RULES = 6;
    // Rule k matches F_k at 0 (or at 1, its byte 0 a wildcard) and G_k at 7; its hit writes
    // G_(k+1) over its F_k, completing rule k + 1's pattern that ends there.
    const uint8_t F[RULES] = {0xE1, 0xE2, 0xE3, 0xE4, 0xE5, 0xE6};
    const uint8_t G[RULES + 1] = {0xD1, 0xD2, 0xD3, 0xD4, 0xD5, 0xD6, 0xD7};
    EachIsa isas;
    isas.Run([&] {
        for (int lateParity : {0, 1}) {
            auto late = [lateParity](int k) { return k % 2 == lateParity; };
            BytePattern patterns[RULES];
            std::vector<RuleSpec> specs;
            for (int k = 0; k < RULES; ++k) {
                patterns[k] = {{0, 0, 0, 0, 0, 0, 0, G[k]}, {0, 0, 0, 0, 0, 0, 0, 1}, 8};
                patterns[k].bytes[late(k) ? 1 : 0] = F[k];
                patterns[k].fixed[late(k) ? 1 : 0] = 1;
                specs.push_back({&patterns[k], {G[k + 1]}, late(k) ? 1u : 0u, true});
            }
            for (size_t quiet : {200, 1000, 5000}) {
                for (size_t shift = 0; shift < 130; shift += 13) {
                    Bytes bytes(quiet + shift + 300, 0x90);
                    size_t start = quiet + shift;  // rule 0's hit
                    bytes[start + 7] = G[0];
                    for (int k = 0; k < RULES; ++k) {
                        const size_t first = start + (late(k) ? 1 : 0);
                        bytes[first] = F[k];
                        start = first - 7;  // where the write at `first` completes the next rule
                    }
                    SCOPED_TRACE("late parity " + std::to_string(lateParity) + " quiet " + std::to_string(quiet) +
                                 " shift " + std::to_string(shift));
                    // The last rule's hit, found only when every rule before it has written.
                    const ScanOutcome literal = Scan(bytes, 0, specs, ONE_BY_ONE_LITERAL);
                    ASSERT_EQ(literal.hits[RULES - 1].size(), 1u);
                    ExpectSameOutcome(literal, Scan(bytes, 0, specs, ONE_SWEEP));
                    if (HasFailure()) return;
                }
            }
        }
    });
}

// All four rules through ApplyPatchRules, both ways, under every combination of the
// feature toggles and with the program's own values as well as chaining ones.
struct RuleValuesCase {
    const char* name;
    float aspect;
    int16_t camera;
    int32_t fov;
};

float FloatFromBits(uint32_t bits) {
    float value;
    std::memcpy(&value, &bits, sizeof value);
    return value;
}

const RuleValuesCase VALUE_CASES[] = {
    {"sixteen_ninths_2048_1920", 16.0f / 9.0f, 2048, 1920},
    {"four_thirds_and_1536_write_themselves", 4.0f / 3.0f, 1536, 4},
    // A1 low byte of the aspect; C7 05 from the camera; n = 0x5A1 writes A1 for FOV.
    {"values_that_make_new_hits", FloatFromBits(0x3FE38EA1), 0x05C7, 1922},
    // Camera 8B F8 makes FPS hits; camera 99 xx makes FOV hits; a negative width.
    {"camera_fps_bytes_negative_fov", 16.0f / 10.0f, static_cast<int16_t>(0xF88B), -1280},
    {"camera_99_fov_one", 16.0f / 9.0f, static_cast<int16_t>(0x9900), 1},
};

struct ApplyOutcome {
    Bytes image;
    PatchJob job;
    bool applied[RULE_COUNT];
    RuleReport reports[RULE_COUNT];
};

void ExpectSameReports(const RuleReport (&expected)[RULE_COUNT], const RuleReport (&actual)[RULE_COUNT]) {
    for (int rule = 0; rule < RULE_COUNT; ++rule) {
        EXPECT_EQ(expected[rule].reason, actual[rule].reason) << "rule " << rule;
        ASSERT_EQ(expected[rule].hits.size(), actual[rule].hits.size()) << "rule " << rule;
        for (size_t i = 0; i < expected[rule].hits.size(); ++i) {
            const RuleHit& e = expected[rule].hits[i];
            const RuleHit& a = actual[rule].hits[i];
            EXPECT_EQ(e.offset, a.offset) << "rule " << rule << " hit " << i;
            EXPECT_EQ(Bytes(e.before, e.before + e.length), Bytes(a.before, a.before + a.length)) << "rule " << rule;
            EXPECT_EQ(Bytes(e.after, e.after + e.length), Bytes(a.after, a.after + a.length)) << "rule " << rule;
        }
    }
}

ApplyOutcome Apply(const Bytes& original, const RuleValuesCase& values, const char* target, ScanKind kind) {
    Image image(original.size(), 3);
    image.assign(original);
    ApplyOutcome outcome;
    outcome.job = MakeJob(values.aspect, values.camera, values.fov);
    std::strcpy(outcome.job.target_name, target);
    outcome.job.candidate = CandidateIndexOf(target);
    std::memset(outcome.applied, 0, sizeof outcome.applied);
    ApplyPatchRules(image.data(), image.size(), &outcome.job, outcome.applied, kind, outcome.reports);
    outcome.image = image.bytes();
    return outcome;
}

TEST(ScanDifferential, AllRulesThroughApplyPatchRules) {
    std::vector<Bytes> images;
    for (size_t size : {0, 3, 5, 150, 4099, 2 * SWEEP_BLOCK + 333}) {
        Bytes bytes = CrowdedBytes(size, static_cast<uint32_t>(size) * 31 + 1);
        for (size_t at = size / 5; size >= 80 && at + 80 < size; at += size / 5 + 1) PlantChains(bytes, at);
        images.push_back(bytes);
    }
    for (int toggles = 0; toggles < 16; ++toggles) {
        ToggleScope scope(toggles & 1, toggles & 2, toggles & 4, toggles & 8);
        for (const RuleValuesCase& values : VALUE_CASES) {
            for (const char* target : {"vlmr3.exe", "PCVlmr5.exe"}) {
                for (const Bytes& bytes : images) {
                    SCOPED_TRACE(std::string(values.name) + " toggles " + std::to_string(toggles) + " " + target +
                                 " size " + std::to_string(bytes.size()));
                    const ApplyOutcome literal = Apply(bytes, values, target, SCAN_LITERAL);
                    EachIsa isas;
                    isas.Run([&] {
                        const ApplyOutcome fast = Apply(bytes, values, target, SCAN_FAST);
                        ExpectSameImage(literal.image, fast.image);
                        EXPECT_EQ(std::memcmp(&literal.job, &fast.job, sizeof literal.job), 0);
                        EXPECT_EQ(std::memcmp(literal.applied, fast.applied, sizeof literal.applied), 0);
                        ExpectSameReports(literal.reports, fast.reports);
                    });
                    if (HasFailure()) return;
                }
            }
        }
    }
}

// A processor without SSE2 (Pentium III, Athlon XP) gets the plain search: forced here, on
// the 32-bit build as on every other, it must give the literal scan's result for all rules.
TEST(ScanDifferential, PlainPathAloneGivesTheLiteralResult) {
    UseScanIsa(SCAN_ISA_PLAIN);
    ASSERT_EQ(CurrentScanIsa(), SCAN_ISA_PLAIN);
    ForgetLastSearchIsa();
    for (size_t size : {150, 4099, 2 * SWEEP_BLOCK + 333}) {
        Bytes bytes = CrowdedBytes(size, static_cast<uint32_t>(size) * 7 + 3);
        for (size_t at = size / 5; at + 80 < size; at += size / 5 + 1) PlantChains(bytes, at);
        ToggleScope scope(true, true, true, true);
        for (const RuleValuesCase& values : VALUE_CASES) {
            SCOPED_TRACE(std::string(values.name) + " size " + std::to_string(size));
            const ApplyOutcome literal = Apply(bytes, values, "vlmr3.exe", SCAN_LITERAL);
            const ApplyOutcome plain = Apply(bytes, values, "vlmr3.exe", SCAN_FAST);
            ExpectSameImage(literal.image, plain.image);
            EXPECT_EQ(std::memcmp(literal.applied, plain.applied, sizeof literal.applied), 0);
            ExpectSameReports(literal.reports, plain.reports);
        }
    }
    EXPECT_EQ(CurrentScanIsa(), SCAN_ISA_PLAIN);
    EXPECT_EQ(LastSearchIsa(), SCAN_ISA_PLAIN) << "the plain search did not run";
    UseScanIsa(BestScanIsa());
}

// What CPUID itself reports, read here without the engine: the engine may choose less (the
// system may not save the registers), never more. Under qemu's pentium3 model this is the
// Pentium III's view, where the plain search must be chosen (qemu runs SSE2 there all the
// same, so only the choice can show the fault).
ScanIsa MostThatCpuidReports() {
#if defined(__i386__) || defined(__x86_64__)
    unsigned eax = 0, ebx = 0, ecx = 0, edx = 0;
    if (!__get_cpuid(1, &eax, &ebx, &ecx, &edx)) return SCAN_ISA_PLAIN;
    if ((edx & bit_SSE2) == 0) return SCAN_ISA_PLAIN;
    if (__get_cpuid_max(0, nullptr) < 7) return SCAN_ISA_SSE2;
    __cpuid_count(7, 0, eax, ebx, ecx, edx);
    if ((ebx & bit_AVX2) == 0) return SCAN_ISA_SSE2;
    if ((ebx & bit_AVX512F) == 0 || (ebx & bit_AVX512BW) == 0) return SCAN_ISA_AVX2;
    return SCAN_ISA_AVX512;
#else
    return SCAN_ISA_PLAIN;
#endif
}

TEST(ScanIsaChoice, NeverExceedsWhatCpuidReports) {
    const ScanIsa most = MostThatCpuidReports();
    // Set where the run emulates a processor without SSE2, so that a model that did not take
    // effect is seen instead of passing on the host's processor.
    if (std::getenv("VELMORA_EXPECT_NO_SSE2") != nullptr) {
        ASSERT_EQ(most, SCAN_ISA_PLAIN) << "CPUID reports SSE2: the emulated processor is not a Pentium III";
    }
    std::printf("CPUID reports up to %s; the scan chose %s\n", ScanIsaName(most), ScanIsaName(BestScanIsa()));
    EXPECT_LE(BestScanIsa(), most) << ScanIsaName(BestScanIsa()) << " chosen, CPUID reports " << ScanIsaName(most);
    // Asking for more than there is gives at most what there is, and the searches use it.
    UseScanIsa(SCAN_ISA_AVX512);
    EXPECT_LE(CurrentScanIsa(), most);
    Bytes bytes = CrowdedBytes(4099, 11);
    PlantChains(bytes, 1000);
    ToggleScope scope(true, true, true, true);
    ForgetLastSearchIsa();
    Apply(bytes, VALUE_CASES[0], "vlmr3.exe", SCAN_FAST);
    EXPECT_LE(LastSearchIsa(), most) << ScanIsaName(LastSearchIsa());
    UseScanIsa(BestScanIsa());
}

}  // namespace
