#include "byte_scan.h"

#include <atomic>

#if (defined(__i386__) || defined(__x86_64__)) && defined(__GNUC__)
#include <cpuid.h>
#include <immintrin.h>
#define BYTE_SCAN_X86 1
#endif

namespace {

// Set only by UseScanIsa; SCAN_ISA_COUNT means "the best one".
ScanIsa g_scanIsaInUse = SCAN_ISA_COUNT;

ScanIsa DetectBestScanIsa() {
#ifdef BYTE_SCAN_X86
    // Asked of CPUID itself rather than through the compiler's runtime, whose tables of every
    // processor would be most of a small program's size.
    unsigned eax = 0, ebx = 0, ecx = 0, edx = 0;
    if (__get_cpuid(1, &eax, &ebx, &ecx, &edx) == 0) return SCAN_ISA_PLAIN;
    const bool sse2 = (edx & bit_SSE2) != 0;
    // The wide registers count only when the system saves them on a switch of threads:
    // OSXSAVE, then XCR0's bits for them (xgetbv, spelt as bytes for any assembler).
    bool ymm = false, zmm = false;
    if ((ecx & bit_OSXSAVE) != 0 && (ecx & bit_AVX) != 0) {
        unsigned low = 0, high = 0;
        __asm__ volatile(".byte 0x0f, 0x01, 0xd0" : "=a"(low), "=d"(high) : "c"(0));
        ymm = (low & 0x6) == 0x6;
        zmm = ymm && (low & 0xE0) == 0xE0;
    }
    unsigned ebx7 = 0;
    if (__get_cpuid_max(0, nullptr) >= 7) {
        unsigned eax7 = 0, ecx7 = 0, edx7 = 0;
        __cpuid_count(7, 0, eax7, ebx7, ecx7, edx7);
    }
    if (zmm && (ebx7 & bit_AVX512F) != 0 && (ebx7 & bit_AVX512BW) != 0) return SCAN_ISA_AVX512;
    if (ymm && (ebx7 & bit_AVX2) != 0) return SCAN_ISA_AVX2;
    if (sse2) return SCAN_ISA_SSE2;
#endif
    return SCAN_ISA_PLAIN;
}

// Position by position, skipping with memchr to the next place of the first filter byte.
uint32_t FindPlain(const uint8_t* image, uint32_t from, uint32_t stop, const PairFilter& filter) {
    const uint32_t distance = filter.offsetB - filter.offsetA;
    const uint8_t* at = image + from + filter.offsetA;
    const uint8_t* const end = image + stop + filter.offsetA;
    while (at < end) {
        at = static_cast<const uint8_t*>(std::memchr(at, filter.byteA, static_cast<size_t>(end - at)));
        if (at == nullptr) break;
        if (at[distance] == filter.byteB) return static_cast<uint32_t>(at - image) - filter.offsetA;
        ++at;
    }
    return stop;
}

// The SIMD searches take the positions in groups of 64. A group at x loads bytes up to
// x + offsetB + 63, so groups start below LoadableEnd; a group that reaches past `stop`
// has its extra positions masked off. The few positions near the image's end that no
// group can take go position by position.
uint32_t LoadableEnd(uint32_t size, const PairFilter& filter) {
    return size >= filter.offsetB + 64 ? size - filter.offsetB - 63 : 0;
}

// Below this, a run of `group` positions from x lies wholly before stop and inside the image.
uint32_t WholeGroupsEnd(uint32_t stop, uint32_t loadable, uint32_t group) {
    const uint32_t wholeEnd = stop >= group ? stop - group + 1 : 0;
    const uint32_t loadEnd = loadable >= group - 64 ? loadable - (group - 64) : 0;
    return wholeEnd < loadEnd ? wholeEnd : loadEnd;
}

uint64_t BelowStop(uint32_t x, uint32_t stop) { return stop - x >= 64 ? ~0ull : (1ull << (stop - x)) - 1; }

uint32_t LowestBit(uint64_t mask) { return static_cast<uint32_t>(__builtin_ctzll(mask)); }

// The searches take their first group where they start and go on from the next position
// whose first filter byte begins a cache line: then only the second filter byte's loads
// can straddle two lines, and the number of cache lines loaded is what limits these loops.
// The positions the first two groups share are examined twice, which changes nothing.
const uintptr_t CACHE_LINE = 64;

uint32_t NextLineStart(const uint8_t* a, uint32_t x) {
    return x + static_cast<uint32_t>(CACHE_LINE - reinterpret_cast<uintptr_t>(a + x) % CACHE_LINE);
}

#ifdef BYTE_SCAN_X86

__attribute__((target("sse2"))) inline __m128i PairsSse2(const uint8_t* a, const uint8_t* b, __m128i wantA,
                                                          __m128i wantB) {
    return _mm_and_si128(_mm_cmpeq_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(a)), wantA),
                         _mm_cmpeq_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(b)), wantB));
}

__attribute__((target("sse2"))) inline uint64_t Bits64Sse2(__m128i p0, __m128i p1, __m128i p2, __m128i p3) {
    return static_cast<uint64_t>(static_cast<uint32_t>(_mm_movemask_epi8(p0))) |
           static_cast<uint64_t>(static_cast<uint32_t>(_mm_movemask_epi8(p1))) << 16 |
           static_cast<uint64_t>(static_cast<uint32_t>(_mm_movemask_epi8(p2))) << 32 |
           static_cast<uint64_t>(static_cast<uint32_t>(_mm_movemask_epi8(p3))) << 48;
}

__attribute__((target("sse2"))) uint32_t FindSse2(const uint8_t* image, uint32_t size, uint32_t from, uint32_t stop,
                                                   const PairFilter& filter) {
    const __m128i wantA = _mm_set1_epi8(static_cast<char>(filter.byteA));
    const __m128i wantB = _mm_set1_epi8(static_cast<char>(filter.byteB));
    const uint8_t* const a = image + filter.offsetA;
    const uint8_t* const b = image + filter.offsetB;
    const uint32_t loadable = LoadableEnd(size, filter);
    auto mask64 = [=](uint32_t x) __attribute__((target("sse2"))) {
        return Bits64Sse2(PairsSse2(a + x, b + x, wantA, wantB), PairsSse2(a + x + 16, b + x + 16, wantA, wantB),
                          PairsSse2(a + x + 32, b + x + 32, wantA, wantB),
                          PairsSse2(a + x + 48, b + x + 48, wantA, wantB));
    };
    const uint32_t wholeEnd = WholeGroupsEnd(stop, loadable, 64);
    uint32_t x = from;
    if (x < wholeEnd) {
        const uint64_t head = mask64(x);
        if (head != 0) return x + LowestBit(head);
        x = NextLineStart(a, x);
    }
    for (; x < wholeEnd; x += 64) {
        const __m128i p0 = PairsSse2(a + x, b + x, wantA, wantB);
        const __m128i p1 = PairsSse2(a + x + 16, b + x + 16, wantA, wantB);
        const __m128i p2 = PairsSse2(a + x + 32, b + x + 32, wantA, wantB);
        const __m128i p3 = PairsSse2(a + x + 48, b + x + 48, wantA, wantB);
        if (_mm_movemask_epi8(_mm_or_si128(_mm_or_si128(p0, p1), _mm_or_si128(p2, p3))) != 0) {
            return x + LowestBit(Bits64Sse2(p0, p1, p2, p3));
        }
    }
    for (; x < stop && x < loadable; x += 64) {
        const uint64_t mask = mask64(x) & BelowStop(x, stop);
        if (mask != 0) return x + LowestBit(mask);
    }
    return x < stop ? FindPlain(image, x, stop, filter) : stop;
}

__attribute__((target("avx2"))) inline __m256i PairsAvx2(const uint8_t* a, const uint8_t* b, __m256i wantA,
                                                          __m256i wantB) {
    return _mm256_and_si256(_mm256_cmpeq_epi8(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(a)), wantA),
                            _mm256_cmpeq_epi8(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(b)), wantB));
}

__attribute__((target("avx2"))) inline uint64_t Bits64Avx2(__m256i p0, __m256i p1) {
    return static_cast<uint64_t>(static_cast<uint32_t>(_mm256_movemask_epi8(p0))) |
           static_cast<uint64_t>(static_cast<uint32_t>(_mm256_movemask_epi8(p1))) << 32;
}

__attribute__((target("avx2"))) uint32_t FindAvx2(const uint8_t* image, uint32_t size, uint32_t from, uint32_t stop,
                                                   const PairFilter& filter) {
    const __m256i wantA = _mm256_set1_epi8(static_cast<char>(filter.byteA));
    const __m256i wantB = _mm256_set1_epi8(static_cast<char>(filter.byteB));
    const uint8_t* const a = image + filter.offsetA;
    const uint8_t* const b = image + filter.offsetB;
    const uint32_t loadable = LoadableEnd(size, filter);
    auto mask64 = [=](uint32_t x) __attribute__((target("avx2"))) {
        return Bits64Avx2(PairsAvx2(a + x, b + x, wantA, wantB), PairsAvx2(a + x + 32, b + x + 32, wantA, wantB));
    };
    const uint32_t wholeEnd = WholeGroupsEnd(stop, loadable, 64);
    uint32_t x = from;
    if (x < wholeEnd) {
        const uint64_t head = mask64(x);
        if (head != 0) return x + LowestBit(head);
        x = NextLineStart(a, x);
    }
    for (; x < wholeEnd; x += 64) {
        const __m256i p0 = PairsAvx2(a + x, b + x, wantA, wantB);
        const __m256i p1 = PairsAvx2(a + x + 32, b + x + 32, wantA, wantB);
        const __m256i any = _mm256_or_si256(p0, p1);
        if (!_mm256_testz_si256(any, any)) return x + LowestBit(Bits64Avx2(p0, p1));
    }
    for (; x < stop && x < loadable; x += 64) {
        const uint64_t mask = mask64(x) & BelowStop(x, stop);
        if (mask != 0) return x + LowestBit(mask);
    }
    return x < stop ? FindPlain(image, x, stop, filter) : stop;
}

// Bytes distance to distance + 63 of the 128 bytes low, high.
template <int distance>
__attribute__((target("avx512f,avx512bw"))) inline __m512i ShiftedAvx512(__m512i low, __m512i high) {
    // The zero-masking form with every lane kept: the plain one trips GCC 12's
    // uninitialised-value warning inside its own header.
    const __m512i nextLanes = _mm512_maskz_alignr_epi32(static_cast<__mmask16>(0xFFFF), high, low, 4);
    return _mm512_alignr_epi8(nextLanes, low, distance);
}

// The AVX-512 search loads only whole cache lines, each once, and shifts the second filter
// byte's bytes into place in registers: straddling loads of 64 bytes slow the streaming of
// an image from memory to about half. The distance between the filter bytes is built in.
template <int distance>
__attribute__((target("avx512f,avx512bw"))) uint32_t FindAvx512(const uint8_t* image, uint32_t size, uint32_t from,
                                                                 uint32_t stop, const PairFilter& filter) {
    const __m512i wantA = _mm512_set1_epi8(static_cast<char>(filter.byteA));
    const __m512i wantB = _mm512_set1_epi8(static_cast<char>(filter.byteB));
    const uint8_t* const a = image + filter.offsetA;
    const uint8_t* const b = image + filter.offsetB;
    const uint32_t loadable = LoadableEnd(size, filter);
    // A byte of (A ^ wantA) | (B ^ wantB) is zero where both bytes fit.
    auto misses = [=](__m512i bytesA, __m512i bytesB) __attribute__((target("avx512f,avx512bw"))) {
        return _mm512_ternarylogic_epi32(_mm512_xor_si512(bytesA, wantA), bytesB, wantB, 0xF6);
    };
    auto fits = [](__m512i miss) __attribute__((target("avx512f,avx512bw"))) {
        return static_cast<uint64_t>(_mm512_testn_epi8_mask(miss, miss));
    };
    auto mask64 = [=](uint32_t x) __attribute__((target("avx512f,avx512bw"))) {
        return fits(misses(_mm512_loadu_si512(a + x), _mm512_loadu_si512(b + x)));
    };
    // Two groups per round, reading the lines at a + x up to a + x + 191.
    const uint32_t wholeEnd = stop >= 128 ? stop - 127 : 0;
    const uint32_t linesEnd = size >= filter.offsetA + 192 ? size - filter.offsetA - 191 : 0;
    const uint32_t roundsEnd = wholeEnd < linesEnd ? wholeEnd : linesEnd;
    uint32_t x = from;
    if (x < roundsEnd) {
        const uint64_t head = mask64(x);
        if (head != 0) return x + LowestBit(head);
        x = NextLineStart(a, x);
    }
    if (x < roundsEnd) {
        __m512i line = _mm512_loadu_si512(a + x);
        for (; x < roundsEnd; x += 128) {
            const __m512i next = _mm512_loadu_si512(a + x + 64);
            const __m512i after = _mm512_loadu_si512(a + x + 128);
            const __m512i miss0 = misses(line, ShiftedAvx512<distance>(line, next));
            const __m512i miss1 = misses(next, ShiftedAvx512<distance>(next, after));
            if (fits(_mm512_min_epu8(miss0, miss1)) != 0) {
                const uint64_t low = fits(miss0);
                return low != 0 ? x + LowestBit(low) : x + 64 + LowestBit(fits(miss1));
            }
            line = after;
        }
    }
    for (; x < stop && x < loadable; x += 64) {
        const uint64_t mask = mask64(x) & BelowStop(x, stop);
        if (mask != 0) return x + LowestBit(mask);
    }
    return x < stop ? FindPlain(image, x, stop, filter) : stop;
}

uint32_t FindAvx512Any(const uint8_t* image, uint32_t size, uint32_t from, uint32_t stop, const PairFilter& filter) {
    static_assert(BYTE_PATTERN_MAX <= 8, "one search for every distance between two pattern bytes");
    switch (filter.offsetB - filter.offsetA) {
    case 0: return FindAvx512<0>(image, size, from, stop, filter);
    case 1: return FindAvx512<1>(image, size, from, stop, filter);
    case 2: return FindAvx512<2>(image, size, from, stop, filter);
    case 3: return FindAvx512<3>(image, size, from, stop, filter);
    case 4: return FindAvx512<4>(image, size, from, stop, filter);
    case 5: return FindAvx512<5>(image, size, from, stop, filter);
    case 6: return FindAvx512<6>(image, size, from, stop, filter);
    default: return FindAvx512<7>(image, size, from, stop, filter);
    }
}


// The joint search over several filters. Each filter is taken from its first byte, the
// anchor: byte A at the anchor and byte B `distance` on. Filters are padded to the
// kernel's width with copies of the first, which change nothing. The loads of 64 bytes
// straddle cache lines for the B bytes; the lines come in ahead of the loop through
// prefetches, which is what lets one pass over all the filters run at the rate of one
// memchr from memory on these machines, where the hardware prefetcher alone does not.
struct FusedSlots {
    uint8_t byteA[FUSED_FILTER_MAX];
    uint8_t byteB[FUSED_FILTER_MAX];
    uint32_t distance[FUSED_FILTER_MAX];
};

const uintptr_t PREFETCH_AHEAD = 2048;

inline const char* Ahead(const uint8_t* at, uintptr_t bytes) {
    return reinterpret_cast<const char*>(reinterpret_cast<uintptr_t>(at) + bytes);
}

template <int N>
__attribute__((target("sse2"))) uint32_t FindAnySse2(const uint8_t* image, uint32_t from, uint32_t stop,
                                                      const FusedSlots& slots) {
    __m128i wantA[N], wantB[N];
    for (int k = 0; k < N; ++k) {
        wantA[k] = _mm_set1_epi8(static_cast<char>(slots.byteA[k]));
        wantB[k] = _mm_set1_epi8(static_cast<char>(slots.byteB[k]));
    }
    auto fits = [&](const uint8_t* at) __attribute__((target("sse2"))) {
        const __m128i line = _mm_loadu_si128(reinterpret_cast<const __m128i*>(at));
        __m128i any = _mm_setzero_si128();
        for (int k = 0; k < N; ++k) {
            const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(at + slots.distance[k]));
            any = _mm_or_si128(any, _mm_and_si128(_mm_cmpeq_epi8(line, wantA[k]), _mm_cmpeq_epi8(b, wantB[k])));
        }
        return any;
    };
    uint32_t x = from;
    for (; x + 64 <= stop; x += 64) {
        _mm_prefetch(Ahead(image + x, PREFETCH_AHEAD), _MM_HINT_T0);
        const __m128i p0 = fits(image + x), p1 = fits(image + x + 16);
        const __m128i p2 = fits(image + x + 32), p3 = fits(image + x + 48);
        if (_mm_movemask_epi8(_mm_or_si128(_mm_or_si128(p0, p1), _mm_or_si128(p2, p3))) != 0) {
            return x + LowestBit(Bits64Sse2(p0, p1, p2, p3));
        }
    }
    return x;
}

template <int N>
__attribute__((target("avx2"))) uint32_t FindAnyAvx2(const uint8_t* image, uint32_t from, uint32_t stop,
                                                      const FusedSlots& slots) {
    __m256i wantA[N], wantB[N];
    for (int k = 0; k < N; ++k) {
        wantA[k] = _mm256_set1_epi8(static_cast<char>(slots.byteA[k]));
        wantB[k] = _mm256_set1_epi8(static_cast<char>(slots.byteB[k]));
    }
    auto fits = [&](const uint8_t* at) __attribute__((target("avx2"))) {
        const __m256i line = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(at));
        __m256i any = _mm256_setzero_si256();
        for (int k = 0; k < N; ++k) {
            const __m256i b = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(at + slots.distance[k]));
            any = _mm256_or_si256(any,
                                  _mm256_and_si256(_mm256_cmpeq_epi8(line, wantA[k]), _mm256_cmpeq_epi8(b, wantB[k])));
        }
        return any;
    };
    uint32_t x = from;
    for (; x + 64 <= stop; x += 64) {
        _mm_prefetch(Ahead(image + x, PREFETCH_AHEAD), _MM_HINT_T0);
        const __m256i p0 = fits(image + x), p1 = fits(image + x + 32);
        const __m256i any = _mm256_or_si256(p0, p1);
        if (!_mm256_testz_si256(any, any)) return x + LowestBit(Bits64Avx2(p0, p1));
    }
    return x;
}

template <int N>
__attribute__((target("avx512f,avx512bw"))) uint32_t FindAnyAvx512(const uint8_t* image, uint32_t from,
                                                                    uint32_t stop, const FusedSlots& slots) {
    __m512i wantA[N], wantB[N];
    for (int k = 0; k < N; ++k) {
        wantA[k] = _mm512_set1_epi8(static_cast<char>(slots.byteA[k]));
        wantB[k] = _mm512_set1_epi8(static_cast<char>(slots.byteB[k]));
    }
    // A byte of the result is zero where some filter's two bytes both fit: per filter
    // (A ^ wantA) | (B ^ wantB), and the least of them.
    auto misses = [&](const uint8_t* at) __attribute__((target("avx512f,avx512bw"))) {
        const __m512i line = _mm512_loadu_si512(at);
        __m512i least = _mm512_set1_epi8(-1);
        for (int k = 0; k < N; ++k) {
            const __m512i miss = _mm512_ternarylogic_epi32(_mm512_xor_si512(line, wantA[k]),
                                                           _mm512_loadu_si512(at + slots.distance[k]), wantB[k], 0xF6);
            least = _mm512_min_epu8(least, miss);
        }
        return least;
    };
    auto fits = [](__m512i miss) __attribute__((target("avx512f,avx512bw"))) {
        return static_cast<uint64_t>(_mm512_testn_epi8_mask(miss, miss));
    };
    uint32_t x = from;
    for (; x + 128 <= stop; x += 128) {
        _mm_prefetch(Ahead(image + x, PREFETCH_AHEAD), _MM_HINT_T0);
        _mm_prefetch(Ahead(image + x, PREFETCH_AHEAD + 64), _MM_HINT_T0);
        const __m512i low = misses(image + x), high = misses(image + x + 64);
        if (fits(_mm512_min_epu8(low, high)) != 0) {
            const uint64_t first = fits(low);
            return first != 0 ? x + LowestBit(first) : x + 64 + LowestBit(fits(high));
        }
    }
    for (; x + 64 <= stop; x += 64) {
        const uint64_t mask = fits(misses(image + x));
        if (mask != 0) return x + LowestBit(mask);
    }
    return x;
}

template <int N>
uint32_t FindAnyWith(ScanIsa isa, const uint8_t* image, uint32_t from, uint32_t stop, const FusedSlots& slots) {
    switch (isa) {
    case SCAN_ISA_AVX512: return FindAnyAvx512<N>(image, from, stop, slots);
    case SCAN_ISA_AVX2: return FindAnyAvx2<N>(image, from, stop, slots);
    case SCAN_ISA_SSE2: return FindAnySse2<N>(image, from, stop, slots);
    default: return from;
    }
}

#endif

}  // namespace

PairFilter MakePairFilter(const BytePattern& pattern) {
    PairFilter filter = {0, 0, 0, 0, true};
    // The two bytes marked rare, when there are two; else the first fixed byte and the last.
    uint32_t rare[2] = {0, 0};
    int rareCount = 0;
    for (uint32_t i = 0; i < pattern.length; ++i) {
        if (pattern.fixed[i] == BYTE_RARE && rareCount < 2) rare[rareCount++] = i;
        if (!pattern.fixed[i]) continue;
        if (filter.anyPosition) {
            filter.offsetA = i;
            filter.anyPosition = false;
        }
        filter.offsetB = i;
    }
    if (rareCount == 2) {
        filter.offsetA = rare[0];
        filter.offsetB = rare[1];
    }
    filter.byteA = pattern.bytes[filter.offsetA];
    filter.byteB = pattern.bytes[filter.offsetB];
    return filter;
}

ScanIsa BestScanIsa() {
    // A constant-initialised cache rather than a guarded local static: the guard would pull
    // the threads library into the program. Detection gives the same answer every time, so
    // threads that race here all store the same value.
    static std::atomic<int> best{-1};
    int isa = best.load(std::memory_order_relaxed);
    if (isa < 0) {
        isa = DetectBestScanIsa();
        best.store(isa, std::memory_order_relaxed);
    }
    return static_cast<ScanIsa>(isa);
}

ScanIsa CurrentScanIsa() { return g_scanIsaInUse == SCAN_ISA_COUNT ? BestScanIsa() : g_scanIsaInUse; }

void UseScanIsa(ScanIsa isa) { g_scanIsaInUse = isa <= BestScanIsa() ? isa : BestScanIsa(); }

const char* ScanIsaName(ScanIsa isa) {
    switch (isa) {
    case SCAN_ISA_PLAIN: return "plain";
    case SCAN_ISA_SSE2: return "SSE2";
    case SCAN_ISA_AVX2: return "AVX2";
    case SCAN_ISA_AVX512: return "AVX-512";
    case SCAN_ISA_COUNT: break;
    }
    return "";
}

namespace {

// Relaxed stores only: a plain move on every processor, nothing in the search's way.
std::atomic<int> g_lastSearchIsa{SCAN_ISA_COUNT};

void NoteSearchIsa(ScanIsa isa) { g_lastSearchIsa.store(isa, std::memory_order_relaxed); }

}  // namespace

ScanIsa LastSearchIsa() { return static_cast<ScanIsa>(g_lastSearchIsa.load(std::memory_order_relaxed)); }

void ForgetLastSearchIsa() { NoteSearchIsa(SCAN_ISA_COUNT); }

uint32_t FindCandidate(ScanIsa isa, const uint8_t* image, uint32_t size, uint32_t from, uint32_t stop,
                       const PairFilter& filter) {
    if (from >= stop) return stop;
    if (filter.anyPosition) return from;
    NoteSearchIsa(isa);
    switch (isa) {
#ifdef BYTE_SCAN_X86
    case SCAN_ISA_AVX512: return FindAvx512Any(image, size, from, stop, filter);
    case SCAN_ISA_AVX2: return FindAvx2(image, size, from, stop, filter);
    case SCAN_ISA_SSE2: return FindSse2(image, size, from, stop, filter);
#endif
    default: return FindPlain(image, from, stop, filter);
    }
}

bool FusedSearchAvailable(int filterCount) {
#ifdef BYTE_SCAN_X86
    return CurrentScanIsa() != SCAN_ISA_PLAIN && filterCount <= FUSED_FILTER_MAX;
#else
    (void)filterCount;
    return false;
#endif
}

uint32_t FindAnyCandidate(const uint8_t* image, uint32_t from, uint32_t stop, const PairFilter* filters, int count) {
    if (from >= stop || count <= 0 || !FusedSearchAvailable(count)) return from;
#ifdef BYTE_SCAN_X86
    FusedSlots slots;
    for (int k = 0; k < FUSED_FILTER_MAX; ++k) {
        const PairFilter& filter = filters[k < count ? k : 0];
        slots.byteA[k] = filter.byteA;
        slots.byteB[k] = filter.byteB;
        slots.distance[k] = filter.offsetB - filter.offsetA;
    }
    const ScanIsa isa = CurrentScanIsa();
    NoteSearchIsa(isa);
    return count <= 4 ? FindAnyWith<4>(isa, image, from, stop, slots) : FindAnyWith<8>(isa, image, from, stop, slots);
#else
    (void)image;
    (void)filters;
    return from;
#endif
}

namespace {

// One round of the staggered scan: each rule in turn goes on up to `frontier`, but not past
// SWEEP_LAG below the next position of an earlier rule that has not finished.
void SweepStep(uint8_t* image, uint32_t size, SweepRule* rules, int count, uint64_t frontier) {
    uint64_t limit = frontier;
    for (int k = 0; k < count; ++k) {
        SweepRule& rule = rules[k];
        ScanCursor& cursor = rule.cursor;
        if (!CursorFinished(cursor) && limit > cursor.next) {
            const uint32_t to = limit < cursor.end ? static_cast<uint32_t>(limit) : cursor.end;
            ScanRange(image, size, *rule.pattern, cursor, to,
                      [&rule](uint8_t* at) { return rule.onHit(at, rule.context); });
        }
        if (!CursorFinished(cursor)) {
            const uint64_t behind = cursor.next >= SWEEP_LAG ? cursor.next - SWEEP_LAG : 0;
            if (behind < limit) limit = behind;
        }
    }
}

// Where the first full match of any unfinished rule may lie, in the image as it is.
struct FirstMatch {
    bool anyUnfinished;
    bool found;    // a rule fully matches at `bound` or less than BYTE_PATTERN_MAX above it
    uint32_t bound; // no unfinished rule fully matches at a position of its own below it
};

bool FullMatchAt(const uint8_t* image, const SweepRule& rule, uint32_t at) {
    return at >= rule.cursor.next && at < rule.cursor.end && MatchesAt(image + at, *rule.pattern);
}

FirstMatch FindFirstMatch(const uint8_t* image, uint32_t size, const SweepRule* rules, int count) {
    uint32_t leader = 0;
    bool any = false;
    for (int k = 0; k < count; ++k) {
        if (CursorFinished(rules[k].cursor)) continue;
        any = true;
        if (rules[k].cursor.next > leader) leader = rules[k].cursor.next;
    }
    if (!any) return {false, false, 0};

    // Each rule's own positions below the leader's, which the joint search leaves out: the
    // rules behind the leader by their stagger.
    PairFilter filters[FUSED_FILTER_MAX];
    const SweepRule* owners[FUSED_FILTER_MAX];
    int n = 0;
    uint32_t first = UINT32_MAX;
    const ScanIsa isa = CurrentScanIsa();
    for (int k = 0; k < count; ++k) {
        const SweepRule& rule = rules[k];
        if (CursorFinished(rule.cursor)) continue;
        const PairFilter filter = MakePairFilter(*rule.pattern);
        if (filter.anyPosition) {
            if (rule.cursor.next < first) first = rule.cursor.next;
            continue;
        }
        const uint32_t headStop = leader < rule.cursor.end ? leader : rule.cursor.end;
        for (uint32_t pos = rule.cursor.next;; ++pos) {
            pos = FindCandidate(isa, image, size, pos, headStop, filter);
            if (pos >= headStop) break;
            if (MatchesAt(image + pos, *rule.pattern)) {
                if (pos < first) first = pos;
                break;
            }
        }
        filters[n] = filter;
        owners[n++] = &rule;
    }
    if (first != UINT32_MAX) return {true, true, first};

    // From the leader on, all the filters in one pass. An anchor at t stands for positions
    // t - 7 to t, so the bound it gives is t - 7.
    const uint32_t back = BYTE_PATTERN_MAX - 1;
    const uint32_t stop = size > back ? size - back : 0;
    uint32_t t = leader;
    while (t < stop) {
        t = FindAnyCandidate(image, t, stop, filters, n);
        if (t >= stop) break;
        bool fits = false;
        for (int i = 0; i < n; ++i) {
            const PairFilter& f = filters[i];
            if (image[t] != f.byteA || image[t + f.offsetB - f.offsetA] != f.byteB) continue;
            fits = true;
            if (t >= f.offsetA && FullMatchAt(image, *owners[i], t - f.offsetA)) {
                return {true, true, t >= back ? t - back : 0};
            }
        }
        // Nothing fits here: the search ended short of a whole group before `stop`.
        if (!fits) break;
        ++t;
    }
    if (t > stop) t = stop;
    return {true, false, t >= back ? t - back : 0};
}

}  // namespace

void SweepScan(uint8_t* image, uint32_t size, SweepRule* rules, int count, uint32_t block) {
    for (int k = 0; k < count; ++k) rules[k].cursor = StartCursor(size, *rules[k].pattern);
    uint64_t done = 0;  // where the staggered rounds below go on from
    if (FusedSearchAvailable(count)) {
        // A hit at y makes new hits for later rules at most 7 positions lower, so after
        // count rules' worth of them no write reaches below y - 7 * count: every rule may
        // go on from below that, and the staggered round around y does the rest.
        const uint64_t margin = SWEEP_LAG + 8 * static_cast<uint64_t>(count);
        for (;;) {
            const FirstMatch match = FindFirstMatch(image, size, rules, count);
            if (!match.anyUnfinished) return;
            const uint32_t resume = match.bound > margin ? static_cast<uint32_t>(match.bound - margin) : 0;
            for (int k = 0; k < count; ++k) {
                ScanCursor& cursor = rules[k].cursor;
                if (CursorFinished(cursor) || cursor.next >= resume) continue;
                cursor.next = resume < cursor.end ? resume : cursor.end;
            }
            if (!match.found) {
                done = resume;
                break;
            }
            SweepStep(image, size, rules, count, match.bound + static_cast<uint64_t>(count) * SWEEP_LAG + 1);
        }
    }
    for (uint64_t frontier = done + block;; frontier += block) {
        SweepStep(image, size, rules, count, frontier);
        if (frontier >= size) break;
    }
}
