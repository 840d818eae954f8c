#include "game_model.h"

#include <cstdlib>
#include <cstring>
#include <set>

#include "byte_scan.h"

namespace {

// The sweep only writes through its callbacks; this one writes nothing and never stops.
bool NotePlace(uint8_t* at, const void* context) {
    const auto* note = static_cast<const std::pair<const uint8_t*, std::vector<uint32_t>*>*>(context);
    note->second->push_back(static_cast<uint32_t>(at - note->first));
    return true;
}

uint32_t FirstDifference(const uint8_t* a, const uint8_t* b, uint32_t from, uint32_t size) {
    const uint32_t CHUNK = 4096;
    for (uint32_t at = from; at < size;) {
        const uint32_t count = size - at < CHUNK ? size - at : CHUNK;
        if (std::memcmp(a + at, b + at, count) != 0) {
            while (a[at] == b[at]) ++at;
            return at;
        }
        at += count;
    }
    return size;
}

// The image as the replayed writes leave it, kept as the base and a mark on each byte that
// a write has given the game's value: every write is checked to give the game's bytes, so
// a marked byte is the game's.
class Replay {
public:
    Replay(const uint8_t* target, const uint8_t* base, uint32_t size, int candidate)
        : target_(target), base_(base), size_(size), candidate_(candidate) {}
    ~Replay() { std::free(marks_); }
    Replay(const Replay&) = delete;
    Replay& operator=(const Replay&) = delete;

    bool Start(const PatternPlaces& places) {
        marks_ = static_cast<uint64_t*>(std::calloc(size_ / 64 + 1, sizeof(uint64_t)));
        if (marks_ == nullptr) return false;
        for (int rule = 0; rule < RULE_COUNT; ++rule) {
            places_[rule].insert(places.offsets[rule].begin(), places.offsets[rule].end());
        }
        return true;
    }

    // One run: each rule in its order, run where the game shows a value of it.
    bool ReplayRun(uint32_t run, std::vector<RuleWrite>* writes) {
        bool changed = false;
        for (int rule = 0; rule < RULE_COUNT; ++rule) {
            if (ReplayRule(static_cast<PatchRule>(rule), run, writes)) changed = true;
        }
        return changed;
    }

    // The first byte at or after `from` in which the image differs from the game.
    uint32_t FirstUnexplained(uint32_t from) const {
        for (uint32_t at = FirstDifference(target_, base_, from, size_); at < size_;
             at = FirstDifference(target_, base_, at + 1, size_)) {
            if (!Marked(at)) return at;
        }
        return size_;
    }

    uint32_t Occurrences(PatchRule rule) const { return static_cast<uint32_t>(places_[rule].size()); }

private:
    bool Marked(uint32_t at) const { return (marks_[at >> 6] >> (at & 63)) & 1u; }
    void Mark(uint32_t at) { marks_[at >> 6] |= uint64_t(1) << (at & 63); }
    void Unmark(uint32_t at) { marks_[at >> 6] &= ~(uint64_t(1) << (at & 63)); }
    uint8_t At(uint32_t at) const { return Marked(at) ? target_[at] : base_[at]; }

    bool Matches(PatchRule rule, uint32_t at) const {
        const BytePattern& pattern = RuleOf(rule).pattern;
        if (at > size_ || size_ - at < pattern.length) return false;
        for (uint32_t i = 0; i < pattern.length; ++i) {
            if (pattern.fixed[i] && At(at + i) != pattern.bytes[i]) return false;
        }
        return true;
    }

    bool SpanDiffers(const RuleRow& row, uint32_t hit) const {
        for (unsigned i = 0; i < row.span.length; ++i) {
            const uint32_t at = hit + row.span.offset + i;
            if (At(at) != target_[at]) return true;
        }
        return false;
    }

    // The next hit of the rule's scan after `after`: one there before the scan, or one that
    // its own writes made, and still there.
    bool NextHit(PatchRule rule, const std::set<uint32_t>& made, uint32_t after, uint32_t* hit) const {
        auto old = places_[rule].upper_bound(after);
        auto fresh = made.upper_bound(after);
        while (old != places_[rule].end() || fresh != made.end()) {
            const bool takeOld = fresh == made.end() || (old != places_[rule].end() && *old <= *fresh);
            const uint32_t at = takeOld ? *old : *fresh;
            if (takeOld) {
                ++old;
            } else {
                ++fresh;
            }
            if (Matches(rule, at)) {
                *hit = at;
                return true;
            }
        }
        return false;
    }

    // Runs `rule` as a patch run would, with the value the game holds at the first hit whose
    // bytes it changed; takes it only when every write gives the game's bytes there.
    bool ReplayRule(PatchRule rule, uint32_t run, std::vector<RuleWrite>* writes) {
        if (!RuleMayRunOn(rule, candidate_)) return false;
        const RuleRow& row = RuleOf(rule);
        const std::set<uint32_t>& places = places_[rule];
        if (places.empty()) return false;

        bool valueFound = false;
        uint32_t valueAt = 0;
        for (uint32_t hit : places) {
            if (SpanDiffers(row, hit)) {
                valueFound = true;
                valueAt = hit;
                break;
            }
            if (row.firstHitOnly) break;
        }
        if (!valueFound) return false;
        RuleValue shown;
        uint32_t bits = 0;
        if (!row.readBack(ReadSpan(target_ + valueAt, row), &shown, &bits)) return false;

        std::vector<uint32_t> marked;
        std::vector<RuleWrite> made;
        std::set<uint32_t> madeHits;
        const uint32_t spanEnd = row.span.offset + row.span.length;
        uint32_t hit = *places.begin();
        for (bool more = true; more; more = !row.firstHitOnly && NextHit(rule, madeHits, hit, &hit)) {
            uint8_t written[BYTE_PATTERN_MAX];
            for (uint32_t i = 0; i < row.pattern.length; ++i) written[i] = At(hit + i);
            row.write(written, row, bits);
            bool changed = false;
            for (uint32_t i = row.span.offset; i < spanEnd; ++i) {
                const uint32_t at = hit + i;
                if (written[i] != target_[at]) {
                    for (uint32_t undo : marked) Unmark(undo);
                    return false;
                }
                if (At(at) != target_[at]) {
                    Mark(at);
                    marked.push_back(at);
                    changed = true;
                }
            }
            if (changed) made.push_back(RuleWrite{rule, hit, bits, run});
            // What this write makes of the positions after it, which the scan comes to.
            for (uint32_t at = hit + 1; at < hit + spanEnd; ++at) {
                if (Matches(rule, at)) madeHits.insert(at);
            }
        }
        for (const RuleWrite& write : made) Refresh(write.offset + row.span.offset, row.span.length);
        writes->insert(writes->end(), made.begin(), made.end());
        return !made.empty();
    }

    // Every rule's places among the positions whose pattern reaches the written bytes.
    void Refresh(uint32_t from, uint32_t length) {
        const uint32_t first = from >= BYTE_PATTERN_MAX - 1 ? from - (BYTE_PATTERN_MAX - 1) : 0;
        for (uint32_t at = first; at < from + length; ++at) {
            for (int rule = 0; rule < RULE_COUNT; ++rule) {
                if (Matches(static_cast<PatchRule>(rule), at)) {
                    places_[rule].insert(at);
                } else {
                    places_[rule].erase(at);
                }
            }
        }
    }

    const uint8_t* target_;
    const uint8_t* base_;
    uint32_t size_;
    int candidate_;
    uint64_t* marks_ = nullptr;
    std::set<uint32_t> places_[RULE_COUNT];
};

}  // namespace

void FindPatternPlaces(const uint8_t* image, uint32_t size, PatternPlaces* places) {
    std::pair<const uint8_t*, std::vector<uint32_t>*> notes[RULE_COUNT];
    SweepRule rules[RULE_COUNT];
    for (int rule = 0; rule < RULE_COUNT; ++rule) {
        places->offsets[rule].clear();
        notes[rule] = {image, &places->offsets[rule]};
        rules[rule] = SweepRule{&RuleOf(static_cast<PatchRule>(rule)).pattern, NotePlace, &notes[rule], {}};
    }
    SweepScan(const_cast<uint8_t*>(image), size, rules, RULE_COUNT);
}

bool GameModel::Patched(PatchRule rule) const {
    for (const RuleWrite& write : writes) {
        if (write.rule == rule) return true;
    }
    return false;
}

bool ExplainGame(const uint8_t* target, uint32_t targetSize, const uint8_t* base, uint32_t baseSize, int candidate,
                 GameModel* model, const PatternPlaces* baseplaces) {
    *model = GameModel();
    if (targetSize != baseSize) {
        model->sizesDiffer = true;
        model->firstUnexplained = targetSize < baseSize ? targetSize : baseSize;
        return false;
    }
    const uint32_t size = targetSize;
    PatternPlaces own;
    if (baseplaces == nullptr) {
        FindPatternPlaces(base, size, &own);
        baseplaces = &own;
    }
    const uint32_t first = FirstDifference(target, base, 0, size);
    if (first == size) {
        model->fits = model->identical = true;
        for (int rule = 0; rule < RULE_COUNT; ++rule) {
            model->occurrences[rule] = static_cast<uint32_t>(baseplaces->offsets[rule].size());
        }
        return true;
    }

    Replay replay(target, base, size, candidate);
    if (!replay.Start(*baseplaces)) {
        model->noMemory = true;
        return false;
    }
    while (replay.ReplayRun(model->runs + 1, &model->writes)) ++model->runs;
    model->firstUnexplained = replay.FirstUnexplained(first);
    model->fits = model->firstUnexplained == size;
    if (!model->fits) return false;
    model->firstUnexplained = 0;
    for (int rule = 0; rule < RULE_COUNT; ++rule) model->occurrences[rule] = replay.Occurrences(static_cast<PatchRule>(rule));
    return true;
}
