#include "restore_checks.h"

#include <cstdio>
#include <string>

#include "patch_worker.h"
#include "restore.h"

namespace {

bool ReadAll(const std::string& name, std::vector<uint8_t>* bytes) {
    FILE* file = std::fopen(name.c_str(), "rb");
    if (file == nullptr) return false;
    bytes->clear();
    uint8_t block[65536];
    size_t got;
    while ((got = std::fread(block, 1, sizeof block, file)) > 0) bytes->insert(bytes->end(), block, block + got);
    const bool whole = std::ferror(file) == 0;
    std::fclose(file);
    return whole;
}

}  // namespace

std::vector<CopyCheck> CheckKeptCopies() {
    std::vector<CopyCheck> checks;
    char target[PATCH_TEXT_SIZE] = {};
    OpenReason reasons[TARGET_CANDIDATE_COUNT] = {};
    ProbeCandidates(target, reasons);
    std::vector<uint8_t> current, copy;
    if (target[0] == '\0' || !ReadAll(target, &current)) return checks;
    for (const char* suffix : {".orig", ".bak"}) {
        const std::string name = std::string(target) + suffix;
        if (!ReadAll(name, &copy)) continue;
        size_t first = 0;
        const bool fits = IsPatchedFormOf(current.data(), current.size(), copy.data(), copy.size(), &first);
        checks.push_back({name, fits, first});
    }
    return checks;
}
