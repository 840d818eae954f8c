#include "patch_state.h"

#include <cstdio>
#include <cstring>

#include "bounded_text.h"
#include "candidate_names.h"
#include "platform.h"
#include "target_file.h"

namespace {

bool EndsUpperCase(const char* name) {
    const size_t length = std::strlen(name);
    return length != 0 && name[length - 1] >= 'A' && name[length - 1] <= 'Z';
}

// The name a new copy of `kind` takes: the other copy's spelling when it is there, so that
// the two stay together in a listing, else the game's; the suffix in the case of the other.
void SpellNewCopy(const char* targetPath, const CopyCheck& other, KeptCopy otherKind, KeptCopy kind,
                  char (&name)[STATE_PATH_SIZE]) {
    char suffix[16];
    strcpy_s(suffix, KeptCopySuffix(kind));
    name[0] = '\0';
    if (other.exists) {
        const size_t otherSuffix = std::strlen(KeptCopySuffix(otherKind));
        const size_t length = std::strlen(other.name);
        if (EndsUpperCase(other.name)) {
            for (char* c = suffix; *c != '\0'; ++c) *c = static_cast<char>(*c >= 'a' && *c <= 'z' ? *c - 'a' + 'A' : *c);
        }
        if (length > otherSuffix && length - otherSuffix + std::strlen(suffix) < sizeof name) {
            std::memcpy(name, other.name, length - otherSuffix);
            name[length - otherSuffix] = '\0';
            strcat_s(name, suffix);
            return;
        }
    }
    // A path too long for the name leaves it empty, which names nothing: no copy.
    if (strcpy_s(name, targetPath) == 0) strcat_s(name, suffix);
}

// Each rule that may run on the game finds at least as many occurrences of its pattern in
// `image` as in `reference`: nothing shows `image` patched against it.
bool AsManyOccurrences(const PatternPlaces& image, const PatternPlaces& reference, int candidate) {
    for (int rule = 0; rule < RULE_COUNT; ++rule) {
        if (!RuleMayRunOn(static_cast<PatchRule>(rule), candidate)) continue;
        if (image.offsets[rule].size() < reference.offsets[rule].size()) return false;
    }
    return true;
}

void FindCopy(const char* targetPath, KeptCopy kind, CopyCheck* copy) {
    char wanted[STATE_PATH_SIZE];
    if (strcpy_s(wanted, targetPath) != 0 || strcat_s(wanted, KeptCopySuffix(kind)) != 0) return;
    enum { MAX_NAMES = 2 };
    // The PE compiler puts zero-initialised data with a section of its own (-fdata-sections)
    // into .data, which would store these 8 KB in the program file; .bss keeps them out of it.
#ifdef _WIN32
    __attribute__((section(".bss")))
#endif
    static char names[MAX_NAMES][STATE_PATH_SIZE];
    const int count = NamesInAnyCase(wanted, names[0], MAX_NAMES, STATE_PATH_SIZE);
    if (count >= 1 && g_fileOps.identify(names[0]).exists) {
        strcpy_s(copy->name, names[0]);
        copy->exists = true;
    }
    if (count >= 2) strcpy_s(copy->twin, names[1]);
}

void ReadCopy(const FileIdentity& targetIdentity, bool mapped, bool read, CopyCheck* copy) {
    if (!copy->exists) return;
    const FileIdentity identity = g_fileOps.identify(copy->name);
    if (!identity.exists) {
        copy->exists = false;
        return;
    }
    if (!identity.regular) {
        copy->notAFile = true;
        return;
    }
    if (SameFile(identity, targetIdentity)) {
        copy->sameFile = true;
        return;
    }
    if (!read) return;
    if (mapped) {
        copy->bytes = const_cast<uint8_t*>(platform::MapFileForReading(copy->name, &copy->size));
    } else if (!ReadFileWhole(copy->name, &copy->bytes, &copy->size)) {
        copy->bytes = nullptr;
    }
    if (copy->bytes == nullptr) {
        copy->unreadable = true;
        return;
    }
    if (copy->size == 0) {
        // An empty file is no original: none is kept of it, and none is put back.
        if (mapped) {
            platform::UnmapFile(copy->bytes, 0);
        } else {
            g_fileOps.release(copy->bytes);
        }
        copy->bytes = nullptr;
        copy->empty = true;
        return;
    }
    copy->present = true;
}

}  // namespace

const char* KeptCopySuffix(KeptCopy copy) { return copy == COPY_BAK ? ".bak" : ".orig"; }

float AspectOfBits(uint32_t bits) {
    float aspect;
    std::memcpy(&aspect, &bits, sizeof aspect);
    return aspect;
}

bool AspectNameOfBits(uint32_t bits, char (&text)[16]) {
    static const int RATIOS[][2] = {{4, 3}, {5, 4}, {16, 10}, {16, 9}, {21, 9}, {32, 9}};
    for (const auto& ratio : RATIOS) {
        // As the player's W and H are taken: each a single-precision number, then divided.
        volatile float width = static_cast<float>(ratio[0]);
        volatile float height = static_cast<float>(ratio[1]);
        volatile float quotient = width / height;
        const float value = quotient;
        uint32_t ratioBits;
        std::memcpy(&ratioBits, &value, sizeof ratioBits);
        if (ratioBits == bits) {
            sprintf_s(text, "%d:%d", ratio[0], ratio[1]);
            return true;
        }
    }
    return false;
}

int32_t FovWidthOfConstant(int32_t constant) {
    if (constant < 0) return 0;
    // width / 1.3333334 truncated: the width is about 4/3 of the constant, a few below at most.
    const int64_t guess = static_cast<int64_t>(constant) * 4 / 3;
    for (int64_t width = guess > 4 ? guess - 4 : 1; width <= guess + 4 && width <= 0x7FFFFFFF; ++width) {
        if (FovConstant(static_cast<int32_t>(width)) == constant) return static_cast<int32_t>(width);
    }
    return 0;
}

bool ReadFileWhole(const char* name, uint8_t** bytes, uint32_t* size) {
    FILE* file = OpenForReading(name, nullptr);
    if (file == nullptr) return false;
    const bool read = ReadWholeFile(file, bytes, size) == READ_WHOLE;
    g_fileOps.close(file);
    return read;
}

bool NothingShowsPatched(const uint8_t* image, uint32_t size, const PatternPlaces& places, int candidate) {
    // A missing pattern shows nothing by itself: a game may lack it. But a file with none
    // of the patterns is nothing the rules know, and a rule's written form that is a
    // pattern of its own, in a game that lacks the rule's pattern, shows the change.
    bool anyPattern = false;
    for (int i = 0; i < RULE_COUNT; ++i) {
        const PatchRule rule = static_cast<PatchRule>(i);
        if (!RuleMayRunOn(rule, candidate)) continue;
        if (!places.offsets[rule].empty()) anyPattern = true;
        uint32_t at = 0;
        if (places.offsets[rule].empty() && FindWrittenForm(image, size, rule, &at)) return false;
    }
    return anyPattern;
}

bool FindWrittenForm(const uint8_t* image, uint32_t size, PatchRule rule, uint32_t* offset) {
    const RuleRow& row = RuleOf(rule);
    RuleValue none = {};
    uint32_t bits = 0;
    if (row.kind != VALUE_NONE || !row.encode(none, &bits)) return false;
    BytePattern written = row.pattern;
    row.write(written.bytes, row, bits);
    bool found = false;
    ScanFast(const_cast<uint8_t*>(image), size, written, [&](uint8_t* at) {
        *offset = static_cast<uint32_t>(at - image);
        found = true;
        return false;
    });
    return found;
}

KeptCopies::~KeptCopies() {
    for (CopyCheck& copy : copies) {
        if (copy.bytes == nullptr) continue;
        if (mapped) {
            platform::UnmapFile(copy.bytes, copy.size);
        } else {
            g_fileOps.release(copy.bytes);
        }
    }
}

const CopyCheck* KeptCopies::OriginalCopy() const {
    if (original == HELD_BY_ORIG) return &copies[COPY_ORIG];
    if (original == HELD_BY_BAK) return &copies[COPY_BAK];
    return nullptr;
}

void CheckKeptCopies(const char* targetPath, int candidate, const uint8_t* target, uint32_t targetSize,
                     KeptCopies* kept) {
    CopyCheck& original = kept->copies[COPY_ORIG];
    CopyCheck& backup = kept->copies[COPY_BAK];
    for (int kind = 0; kind < COPY_KINDS; ++kind) {
        CopyCheck& copy = kept->copies[kind];
        FindCopy(targetPath, static_cast<KeptCopy>(kind), &copy);
        if (copy.twin[0] != '\0') kept->caseTwins = true;
    }
    if (!original.exists) SpellNewCopy(targetPath, backup, COPY_BAK, COPY_ORIG, original.name);
    if (!backup.exists) SpellNewCopy(targetPath, original, COPY_ORIG, COPY_BAK, backup.name);
    if (kept->caseTwins) return;  // which of the two is the copy cannot be told

    const FileIdentity targetIdentity = g_fileOps.identify(targetPath);
    ReadCopy(targetIdentity, kept->mapped, true, &original);
    // The original's patterns always; the backup's only where the original does not
    // explain the game, which spares a pass over it in the common case.
    if (original.present) FindPatternPlaces(original.bytes, original.size, &original.places);
    if (original.present &&
        ExplainGame(target, targetSize, original.bytes, original.size, candidate, &original.model, &original.places)) {
        kept->base = &original;
    }
    // A run that the original explains needs nothing of the backup but where it is.
    ReadCopy(targetIdentity, kept->mapped, kept->base == nullptr || !kept->backupOnlyIfNeeded, &backup);
    if (backup.present && original.present) {
        kept->backupChecked = true;
        ExplainGame(backup.bytes, backup.size, original.bytes, original.size, candidate, &kept->backupModel,
                    &original.places);
    }
    if (backup.present && kept->base == nullptr) {
        FindPatternPlaces(backup.bytes, backup.size, &backup.places);
        if (ExplainGame(target, targetSize, backup.bytes, backup.size, candidate, &backup.model, &backup.places)) {
            kept->base = &backup;
        }
    }

    if (kept->base == &original) {
        kept->gameKnown = true;
        kept->original = HELD_BY_ORIG;
        kept->gamePatched = !original.model.identical;
        kept->backupPatched = kept->backupChecked && kept->backupModel.fits && !kept->backupModel.identical;
        return;
    }
    if (kept->base == &backup) {
        kept->gameKnown = true;
        if (original.present && kept->backupModel.fits) {
            kept->original = HELD_BY_ORIG;
            kept->backupPatched = !kept->backupModel.identical;
        } else if (original.present ? AsManyOccurrences(backup.places, original.places, candidate)
                                    : NothingShowsPatched(backup.bytes, backup.size, backup.places, candidate)) {
            // A store update that an earlier run kept as the backup, or a backup with no
            // original beside it that shows no rule's change.
            kept->original = HELD_BY_BAK;
        } else {
            kept->backupPatched = true;
        }
        kept->gamePatched = !backup.model.identical || kept->backupPatched;
        return;
    }

    PatternPlaces places;
    FindPatternPlaces(target, targetSize, &places);
    const CopyCheck* reference = original.present ? &original : backup.present ? &backup : nullptr;
    if (reference != nullptr) {
        // Fits no copy: a new version only where nothing shows it patched.
        kept->newVersion = AsManyOccurrences(places, reference->places, candidate);
    } else if (!original.unreadable && !backup.unreadable &&
               NothingShowsPatched(target, targetSize, places, candidate)) {
        kept->newVersion = false;
        kept->gameKnown = true;
        kept->original = HELD_BY_GAME;
        return;
    }
    if (kept->newVersion) {
        kept->gameKnown = true;
        kept->original = HELD_BY_GAME;
    }
}

void RulePlaces(const KeptCopies& kept, PatchRule rule, std::vector<RuleWrite>* places) {
    places->clear();
    if (kept.base == nullptr) return;
    auto add = [&](const GameModel& model) {
        for (const RuleWrite& write : model.writes) {
            if (write.rule != rule) continue;
            bool replaced = false;
            for (RuleWrite& place : *places) {
                if (place.offset == write.offset) {
                    place = write;
                    replaced = true;
                }
            }
            if (!replaced) places->push_back(write);
        }
    };
    // What the runs before the backup wrote, then what the runs since wrote.
    if (kept.base == &kept.copies[COPY_BAK] && kept.backupChecked && kept.backupModel.fits) add(kept.backupModel);
    add(kept.base->model);
}

const char* GameStateWord(GameState state) {
    switch (state) {
    case GAME_ORIGINAL: return "original";
    case GAME_PATCHED: return "patched";
    case GAME_UNKNOWN: break;
    }
    return "unknown";
}

void ModelGameStatus(const char* targetPath, int candidate, const uint8_t* target, uint32_t size, GameStatus* status) {
    status->targetRead = true;
    status->targetSize = size;
    CheckKeptCopies(targetPath, candidate, target, size, &status->copies);
    const KeptCopies& kept = status->copies;
    status->fitting = kept.base;
    status->state = !kept.gameKnown ? GAME_UNKNOWN : kept.gamePatched ? GAME_PATCHED : GAME_ORIGINAL;

    PatternPlaces places;
    if (kept.base == nullptr) FindPatternPlaces(target, size, &places);
    for (int i = 0; i < RULE_COUNT; ++i) {
        const PatchRule rule = static_cast<PatchRule>(i);
        RuleStatus& rs = status->rules[rule];
        uint32_t at = 0;
        rs.occurrences = kept.base != nullptr ? kept.base->model.occurrences[rule]
                                              : static_cast<uint32_t>(places.offsets[rule].size());
        RulePlaces(kept, rule, &rs.writes);
        if (!rs.writes.empty()) {
            rs.state = RULE_STATE_PATCHED;
        } else if (rs.occurrences != 0) {
            rs.state = RULE_STATE_ORIGINAL;
        } else if ((kept.base == nullptr || (kept.backupPatched && !kept.backupChecked)) && RuleMayRunOn(rule, candidate) &&
                   FindWrittenForm(target, size, rule, &at)) {
            // With nothing to explain the game from, the one change that shows by itself.
            rs.state = RULE_STATE_PATCHED;
            uint32_t bits = 0;
            RuleOf(rule).encode(RuleValue(), &bits);
            rs.writes.push_back(RuleWrite{rule, at, bits, 0});
        } else {
            // Where nothing explains the game, a missing pattern may be a rule's change.
            rs.state = kept.gameKnown ? RULE_STATE_NOT_FOUND : RULE_STATE_UNKNOWN;
        }
    }
}

void ReadGameStatus(const char* targetPath, int candidate, GameStatus* status) {
    status->targetRead = false;
    status->fitting = nullptr;
    status->state = GAME_UNKNOWN;
    for (RuleStatus& rule : status->rules) rule = RuleStatus();

    // Mapped, not read: a status costs one pass over each file, and no memory filled.
    uint32_t size = 0;
    const uint8_t* target = platform::MapFileForReading(targetPath, &size);
    if (target == nullptr) return;
    status->copies.mapped = true;
    ModelGameStatus(targetPath, candidate, target, size, status);
    platform::UnmapFile(target, size);
}

GameState StateOfGame(const char* folder, const char* exeName) {
    char path[STATE_PATH_SIZE] = {};
    if (folder != nullptr && folder[0] != '\0') {
        strcpy_s(path, folder);
        const size_t length = std::strlen(path);
        if (length != 0 && path[length - 1] != '/' && path[length - 1] != '\\') strcat_s(path, "/");
        if (path[0] == '\0') return GAME_UNKNOWN;  // too long
    }
    if (strcat_s(path, exeName) != 0) return GAME_UNKNOWN;
    GameStatus status;
    ReadGameStatus(path, CandidateIndexOf(exeName), &status);
    return status.state;
}
