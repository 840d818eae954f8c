#pragma once
// Forward scans for short byte patterns with wildcards, in the image as it is at each
// moment: bytes that a hit writes are seen by every later position.

#include <cstddef>
#include <cstdint>
#include <cstring>

enum { BYTE_PATTERN_MAX = 8 };

struct BytePattern {
    uint8_t bytes[BYTE_PATTERN_MAX];
    uint8_t fixed[BYTE_PATTERN_MAX];  // 0 marks a wildcard byte, which is not compared
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

// The same positions and the same order, but the positions whose first byte differs are
// skipped with memchr. memchr reads the image as it is now, so earlier writes are seen
// exactly as by the reference scan. Every pattern used here has a fixed first byte.
template <class OnHit>
bool ScanFast(uint8_t* image, uint32_t size, const BytePattern& pattern, OnHit onHit) {
    bool found = false;
    if (size < pattern.length) return false;
    uint8_t* const end = image + (size - pattern.length) + 1;  // one past the last start
    const uint8_t first = pattern.bytes[0];
    for (uint8_t* at = image; at < end; ++at) {
        at = static_cast<uint8_t*>(std::memchr(at, first, static_cast<size_t>(end - at)));
        if (at == nullptr) break;
        if (!MatchesAt(at, pattern)) continue;
        found = true;
        if (!onHit(at)) break;
    }
    return found;
}
