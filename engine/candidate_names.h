#pragma once
// The names under which the game's executables are in a folder. Natively a name is a
// candidate's whatever its case, as a copy from a disc or from a Windows drive may be
// spelt (VLMR3.EXE), and it is yielded as it is on the disk, so that the copies beside it
// take the same spelling. On Windows the file system itself ignores case: the candidates'
// own names are yielded, and the texts stay the window's.

#include "patch_job.h"
#include "target_file.h"

// More names than this in one folder that differ only in case are not kept, but still count.
enum { CANDIDATE_FILES_MAX = 16 };

struct CandidateFile {
    int candidate;               // index into TARGET_CANDIDATES
    char name[PATCH_TEXT_SIZE];  // as on the disk
    OpenReason reason;           // how the probe's open went
};

struct CandidateFiles {
    int count = 0;
    CandidateFile files[CANDIDATE_FILES_MAX] = {};
    // A candidate is there under two or more names that differ only in case, and the probe
    // was not told which one: none of them is the target, for either could be the game.
    bool caseTwins = false;
};

// The index in TARGET_CANDIDATES of the candidate that `name` spells, in any case; -1 when
// it spells none.
int CandidateIndexOf(const char* name);

// Fills `out` with the names in `folder` ("." for the current one) that are candidates, in
// the order of TARGET_CANDIDATES and, for one candidate, in byte order; each with the
// reason OPEN_MISSING, for the caller to open. A folder that cannot be listed yields the
// candidates' own names, which may still open.
// `exe`, unless null or empty, names the one candidate to yield (in any case); of its
// names only the one spelt exactly as `exe` is yielded when there is one.
void ListCandidateNames(const char* folder, const char* exe, CandidateFiles* out);

// Takes out the names that turned out not to be there, and tells whether two of the rest
// that are not folders are one candidate's.
void SettleCandidateFiles(CandidateFiles* files);

// The names in the folder of `path` that spell its last part in any case, as on the disk,
// in byte order (natively; on Windows the file system itself ignores case, and `path` is
// the one name there). Up to `max` of them into `names`, each of room `room`; returns how
// many there are, which may be more. A folder that cannot be listed yields `path` itself.
int NamesInAnyCase(const char* path, char* names, int max, size_t room);
