#pragma once
// Forward scans for short byte patterns with wildcards, in the image as it is at each
// moment: bytes that a hit writes are seen by every later position.
//
// ScanLiteral is the reference. ScanFast gives exactly its hits, in its order, but passes
// over the positions that cannot match many at a time, with the SSE2, AVX2 or AVX-512 forms
// of the candidate search in byte_scan.cpp, whichever the processor has. SweepScan runs
// several rules in one pass over the image with the result of running them one by one.

#include <cstddef>
#include <cstdint>
#include <cstring>

enum { BYTE_PATTERN_MAX = 8 };

// In `fixed`, 0 marks a wildcard byte, which is not compared; BYTE_COMPARED compares the byte;
// BYTE_RARE compares it too and names it as one of the two bytes the candidate search
// looks for (see PairFilter), for a pattern whose first and last bytes are common ones.
enum { BYTE_COMPARED = 1, BYTE_RARE = 2 };

struct BytePattern {
    uint8_t bytes[BYTE_PATTERN_MAX];
    uint8_t fixed[BYTE_PATTERN_MAX];
    uint32_t length;
};

inline bool MatchesAt(const uint8_t* at, const BytePattern& pattern) {
    for (uint32_t i = 0; i < pattern.length; ++i) {
        if (pattern.fixed[i] && at[i] != pattern.bytes[i]) return false;
    }
    return true;
}

// The reference scan: every start position in order, compared from the first byte on.
// `onHit(uint8_t* at)` rewrites the hit and returns whether the scan goes on.
template <class OnHit>
bool ScanLiteral(uint8_t* image, uint32_t size, const BytePattern& pattern, OnHit onHit) {
    bool found = false;
    if (size < pattern.length) return false;
    const uint32_t last = size - pattern.length;
    for (uint32_t pos = 0; pos <= last; ++pos) {
        if (!MatchesAt(image + pos, pattern)) continue;
        found = true;
        if (!onHit(image + pos)) break;
    }
    return found;
}

// Two fixed bytes of a pattern: the two marked BYTE_RARE, or else the first and the last
// (in x86 code an opcode and a later operand byte are rarely both the wanted ones by
// chance). A position where either differs cannot be a hit; one where both fit is a
// candidate, confirmed with MatchesAt.
struct PairFilter {
    uint32_t offsetA, offsetB;  // offsetA <= offsetB
    uint8_t byteA, byteB;
    bool anyPosition;  // the pattern has no fixed byte: every position is a hit
};

PairFilter MakePairFilter(const BytePattern& pattern);

// The instruction sets the candidate search can use, slowest first. The fastest one the
// processor and the system support is chosen on first use.
enum ScanIsa { SCAN_ISA_PLAIN, SCAN_ISA_SSE2, SCAN_ISA_AVX2, SCAN_ISA_AVX512, SCAN_ISA_COUNT };

ScanIsa BestScanIsa();
ScanIsa CurrentScanIsa();
const char* ScanIsaName(ScanIsa isa);
// Makes the scans use `isa`, which must not be faster than BestScanIsa(). For tests and
// benchmarks that compare the instruction sets; nothing else changes it.
void UseScanIsa(ScanIsa isa);

// The instruction set the last candidate search ran with (FindCandidate, FindAnyCandidate),
// and a way to forget it: tests see from it that a forced instruction set is the one used.
ScanIsa LastSearchIsa();
void ForgetLastSearchIsa();

// The first start position in [from, stop) at which the filter's two bytes are found, or
// `stop` when there is none, searched with `isa`, which must not be faster than
// BestScanIsa(). stop + filter.offsetB must not exceed size. It reads the image as it is
// during the call, and no byte at or beyond image + size.
uint32_t FindCandidate(ScanIsa isa, const uint8_t* image, uint32_t size, uint32_t from, uint32_t stop,
                       const PairFilter& filter);

// Several filters in one pass, the loads shared: the first anchor t in [from, stop) at
// which some filter k has byteA at t and byteB at t + offsetB - offsetA (its candidate at
// t - offsetA). Anchors are examined in whole groups only; when none fits, the result is
// the first anchor not examined, at most `stop` and less than a group below it. It reads
// no byte at or beyond stop + BYTE_PATTERN_MAX - 1, which must not exceed the image's size.
// None of the filters may be anyPosition. Only for the SIMD instruction sets: with
// SCAN_ISA_PLAIN, or more than FUSED_FILTER_MAX filters, it examines nothing and returns
// `from`.
enum { FUSED_FILTER_MAX = 8 };
bool FusedSearchAvailable(int filterCount);
uint32_t FindAnyCandidate(const uint8_t* image, uint32_t from, uint32_t stop, const PairFilter* filters, int count);

// How far one rule's scan has come. A scan can be carried out in several pieces, each
// going on from `next`; together they examine exactly the positions of one whole scan.
struct ScanCursor {
    uint32_t next;  // the first start position not yet examined
    uint32_t end;   // one past the last start position: size - L + 1, or 0 when size < L
    bool found;     // a hit was rewritten
    bool stopped;   // the rule asked to end its scan at a hit
};

inline ScanCursor StartCursor(uint32_t size, const BytePattern& pattern) {
    const uint32_t end = size < pattern.length ? 0 : size - pattern.length + 1;
    return ScanCursor{0, end, false, false};
}

inline bool CursorFinished(const ScanCursor& cursor) { return cursor.stopped || cursor.next >= cursor.end; }

// Examines the start positions from cursor.next up to, not including, `to` (or the last
// one), in increasing order, with the same hits and writes as ScanLiteral. The candidate
// search only passes over positions that cannot match in the image as it is then; after a
// hit it starts afresh at the next position, so bytes the hit wrote are seen.
template <class OnHit>
void ScanRange(uint8_t* image, uint32_t size, const BytePattern& pattern, ScanCursor& cursor, uint32_t to,
               OnHit onHit) {
    const uint32_t stop = to < cursor.end ? to : cursor.end;
    if (cursor.stopped || cursor.next >= stop) return;
    const PairFilter filter = MakePairFilter(pattern);
    const ScanIsa isa = CurrentScanIsa();
    for (uint32_t pos = cursor.next;; ++pos) {
        pos = FindCandidate(isa, image, size, pos, stop, filter);
        if (pos >= stop) break;
        if (!MatchesAt(image + pos, pattern)) continue;
        cursor.found = true;
        if (!onHit(image + pos)) {
            cursor.stopped = true;
            cursor.next = pos + 1;
            return;
        }
    }
    cursor.next = stop;
}

// The same positions in the same order as ScanLiteral, the same hits and the same writes,
// with the positions that cannot match passed over many at a time.
template <class OnHit>
bool ScanFast(uint8_t* image, uint32_t size, const BytePattern& pattern, OnHit onHit) {
    ScanCursor cursor = StartCursor(size, pattern);
    ScanRange(image, size, pattern, cursor, cursor.end, onHit);
    return cursor.found;
}

// Several rules in one sweep over the image, with the result of running them one after the
// other, each over the whole image.
//
// The rules are staggered: a rule examines only positions more than SWEEP_LAG below the
// next position of every earlier rule that has not finished. A rule at position p reads
// bytes p to p + 7 at most, and a hit at q writes bytes q to q + 7 at most
// (BYTE_PATTERN_MAX), so every earlier rule has made all its writes that reach p's bytes
// before p is examined, and a rule's own writes land only on bytes that every earlier rule
// has passed for good. Each rule still examines every position once, in order.
//
// Between hits, where no rule has a candidate, one search over every rule's filter at once
// (FindAnyCandidate) takes the place of each rule's own: the first position y where some
// rule fully matches bounds every write to come from below, since a hit can only make new
// hits for itself ahead and for later rules at most 7 positions back. Every rule goes on
// from well below y (SWEEP_LAG and 8 per rule more), positions that no write can reach any
// more, and the staggered rules take the stretch around y. Without a SIMD instruction set
// the rules take the image in blocks small enough to stay in the processor's cache, and
// every rule scans each block while it is there.
typedef bool (*SweepHit)(uint8_t* at, const void* context);

struct SweepRule {
    const BytePattern* pattern;
    SweepHit onHit;       // rewrites bytes 0 to 7 of a hit at most; returns whether the rule goes on
    const void* context;  // handed to onHit
    ScanCursor cursor;    // set up and advanced by SweepScan; cursor.found tells the result
};

// 128 KiB: small enough to stay in a second-level cache while the rules pass over it, large
// enough that starting each rule's piece of scan costs little against scanning it.
enum { SWEEP_BLOCK = 131072, SWEEP_LAG = 64 };
static_assert(static_cast<int>(SWEEP_LAG) >= static_cast<int>(BYTE_PATTERN_MAX),
              "a rule must stay a whole pattern behind the one before");

// `block` is other than SWEEP_BLOCK only in tests, which use small ones to put many block
// boundaries into small images.
void SweepScan(uint8_t* image, uint32_t size, SweepRule* rules, int count, uint32_t block = SWEEP_BLOCK);
