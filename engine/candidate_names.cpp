#include "candidate_names.h"

#include "bounded_text.h"

#include <algorithm>
#include <string>
#include <vector>

#include <cstring>

#include "platform.h"

namespace {

char Folded(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

// ASCII only: the candidates' names are, and no locale may make another byte match.
bool SameButForCase(const char* a, const char* b) {
    for (; *a != '\0' && *b != '\0'; ++a, ++b) {
        if (Folded(*a) != Folded(*b)) return false;
    }
    return *a == *b;
}

void Add(CandidateFiles* out, int candidate, const char* name) {
    if (out->count == CANDIDATE_FILES_MAX) return;
    CandidateFile& file = out->files[out->count];
    if (strcpy_s(file.name, name) != 0) return;
    file.candidate = candidate;
    file.reason = OPEN_MISSING;
    ++out->count;
}

// The candidates' own names: all six, or the one that `exe` picks.
void AddOwnNames(int only, CandidateFiles* out) {
    for (int i = 0; i < TARGET_CANDIDATE_COUNT; ++i) {
        if (only < 0 || only == i) Add(out, i, TARGET_CANDIDATES[i]);
    }
}

bool ComesBefore(const CandidateFile& a, const CandidateFile& b) {
    return a.candidate != b.candidate ? a.candidate < b.candidate : std::strcmp(a.name, b.name) < 0;
}

struct Listing {
    int only;
    const char* exe;
    CandidateFiles found;
    bool exact = false;
};

void Take(const char* name, void* context) {
    Listing& listing = *static_cast<Listing*>(context);
    const int candidate = CandidateIndexOf(name);
    if (candidate < 0 || (listing.only >= 0 && candidate != listing.only)) return;
    if (listing.only >= 0 && std::strcmp(name, listing.exe) == 0) listing.exact = true;
    Add(&listing.found, candidate, name);
}

// The folder's names of the candidates, in a fixed order whatever order the file system
// lists them in. False when the folder cannot be read, or is not to be (see
// platform::ListNamesToFold).
bool AddNamesOnDisk(const char* folder, int only, const char* exe, CandidateFiles* out) {
    Listing listing = {only, exe, CandidateFiles()};
    if (!platform::ListNamesToFold(folder, Take, &listing)) return false;
    CandidateFiles& found = listing.found;
    // Insertion sort: a handful of names at most.
    for (int i = 1; i < found.count; ++i) {
        for (int j = i; j > 0 && ComesBefore(found.files[j], found.files[j - 1]); --j) {
            const CandidateFile moved = found.files[j];
            found.files[j] = found.files[j - 1];
            found.files[j - 1] = moved;
        }
    }
    for (int i = 0; i < found.count; ++i) {
        if (!listing.exact || std::strcmp(found.files[i].name, exe) == 0) {
            Add(out, found.files[i].candidate, found.files[i].name);
        }
    }
    return true;
}

}  // namespace

int CandidateIndexOf(const char* name) {
    for (int i = 0; i < TARGET_CANDIDATE_COUNT; ++i) {
        if (SameButForCase(name, TARGET_CANDIDATES[i])) return i;
    }
    return -1;
}

void ListCandidateNames(const char* folder, const char* exe, CandidateFiles* out) {
    *out = CandidateFiles();
    const bool picked = exe != nullptr && exe[0] != '\0';
    const int only = picked ? CandidateIndexOf(exe) : -1;
    if (picked && only < 0) return;  // a name that is no candidate's opens nothing
    if (AddNamesOnDisk(folder, only, exe, out)) return;
    AddOwnNames(only, out);
}

void SettleCandidateFiles(CandidateFiles* files) {
    int kept = 0;
    for (int i = 0; i < files->count; ++i) {
        if (files->files[i].reason != OPEN_MISSING) files->files[kept++] = files->files[i];
    }
    files->count = kept;
    files->caseTwins = false;
    int names[TARGET_CANDIDATE_COUNT] = {};
    for (int i = 0; i < files->count; ++i) {
        const CandidateFile& file = files->files[i];
        if (file.reason == OPEN_NOT_A_FILE) continue;
        if (++names[file.candidate] > 1) files->caseTwins = true;
    }
}

int NamesInAnyCase(const char* path, char* names, int max, size_t room) {
    const char* slash = std::strrchr(path, '/');
    const char* backslash = std::strrchr(path, '\\');
    if (backslash != nullptr && (slash == nullptr || backslash > slash)) slash = backslash;
    const char* last = slash != nullptr ? slash + 1 : path;
    const size_t folderLength = static_cast<size_t>(last - path);
    auto put = [&](int at, const char* entry) {
        if (at >= max || folderLength + std::strlen(entry) >= room) return;
        char* name = names + static_cast<size_t>(at) * room;
        std::memcpy(name, path, folderLength);
        std::strcpy(name + folderLength, entry);
    };
    struct Listing {
        const char* last;
        std::vector<std::string> found;
    } listing{last, {}};
    const std::string folder(path, folderLength);
    const bool listed = platform::ListNamesToFold(
        folder.empty() ? "." : folder.c_str(),
        [](const char* entry, void* context) {
            Listing* seen = static_cast<Listing*>(context);
            if (SameButForCase(entry, seen->last)) seen->found.push_back(entry);
        },
        &listing);
    if (listed) {
        std::sort(listing.found.begin(), listing.found.end());
        for (size_t i = 0; i < listing.found.size(); ++i) put(static_cast<int>(i), listing.found[i].c_str());
        return static_cast<int>(listing.found.size());
    }
    put(0, last);
    return 1;
}
