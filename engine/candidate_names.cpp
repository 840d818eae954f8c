#include "candidate_names.h"

#include "bounded_text.h"

#include <algorithm>
#include <string>
#include <vector>

#include <cstring>

#ifndef _WIN32
#include <dirent.h>
#endif

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

#ifndef _WIN32
bool ComesBefore(const CandidateFile& a, const CandidateFile& b) {
    return a.candidate != b.candidate ? a.candidate < b.candidate : std::strcmp(a.name, b.name) < 0;
}

// The folder's names of the candidates, in a fixed order whatever order the file system
// lists them in. False when the folder cannot be read.
bool AddNamesOnDisk(const char* folder, int only, const char* exe, CandidateFiles* out) {
    DIR* listing = opendir(folder);
    if (listing == nullptr) return false;
    CandidateFiles found;
    bool exact = false;
    while (const dirent* entry = readdir(listing)) {
        const int candidate = CandidateIndexOf(entry->d_name);
        if (candidate < 0 || (only >= 0 && candidate != only)) continue;
        if (only >= 0 && std::strcmp(entry->d_name, exe) == 0) exact = true;
        Add(&found, candidate, entry->d_name);
    }
    closedir(listing);
    // Insertion sort: a handful of names at most.
    for (int i = 1; i < found.count; ++i) {
        for (int j = i; j > 0 && ComesBefore(found.files[j], found.files[j - 1]); --j) {
            const CandidateFile moved = found.files[j];
            found.files[j] = found.files[j - 1];
            found.files[j - 1] = moved;
        }
    }
    for (int i = 0; i < found.count; ++i) {
        if (!exact || std::strcmp(found.files[i].name, exe) == 0) Add(out, found.files[i].candidate, found.files[i].name);
    }
    return true;
}
#endif

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
#ifdef _WIN32
    (void)folder;
#else
    if (AddNamesOnDisk(folder, only, exe, out)) return;
#endif
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
#ifndef _WIN32
    std::string folder(path, folderLength);
    DIR* listing = opendir(folder.empty() ? "." : folder.c_str());
    if (listing != nullptr) {
        std::vector<std::string> found;
        while (const dirent* entry = readdir(listing)) {
            if (SameButForCase(entry->d_name, last)) found.push_back(entry->d_name);
        }
        closedir(listing);
        std::sort(found.begin(), found.end());
        for (size_t i = 0; i < found.size(); ++i) put(static_cast<int>(i), found[i].c_str());
        return static_cast<int>(found.size());
    }
#endif
    put(0, last);
    return 1;
}
