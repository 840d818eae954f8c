#include "candidates.h"

#include "bounded_text.h"

const char* const TARGET_CANDIDATES[TARGET_CANDIDATE_COUNT] = {
    "Vlmr2.exe", "v2plus.exe", "vlmr3.exe", "vm3plus.exe", "vlmr4.exe", "PCVlmr5.exe",
};

namespace {

// Who holds each listed candidate and its .bak and .orig, in one look at the other
// processes, put in effect for the opens of the run. The names as they are spelt on the
// disk: the copies take the same spelling.
void SurveyListedCandidates(const CandidateFiles& files, HolderSurvey* survey) {
    static const char* const COPIES[] = {"", ".bak", ".orig"};
    for (int i = 0; i < files.count; ++i) {
        for (const char* suffix : COPIES) {
            char name[PATCH_TEXT_SIZE];
            if (strcpy_s(name, files.files[i].name) == 0 && strcat_s(name, suffix) == 0) survey->Add(name);
        }
    }
    survey->Take();
}

}  // namespace

// Every name that opens replaces the one before, so the last openable name is the target.
// Why each of the others would not open is kept for the player.
void ProbeCandidates(const char* exe, HolderSurvey* survey, char (&targetName)[PATCH_TEXT_SIZE],
                     OpenReason (&reasons)[TARGET_CANDIDATE_COUNT], CandidateFiles* found, bool readOnly) {
    CandidateFiles own;
    CandidateFiles& files = found != nullptr ? *found : own;
    ListCandidateNames(".", exe, &files);
    if (survey != nullptr) SurveyListedCandidates(files, survey);
    for (OpenReason& reason : reasons) reason = OPEN_MISSING;
    char opened[PATCH_TEXT_SIZE] = {};
    for (int i = 0; i < files.count; ++i) {
        CandidateFile& file = files.files[i];
        FILE* probe = readOnly ? OpenForReading(file.name, &file.reason) : OpenForUpdate(file.name, &file.reason);
        reasons[file.candidate] = file.reason;
        if (probe == nullptr) continue;
        g_fileOps.close(probe);
        strcpy_s(opened, file.name);
    }
    SettleCandidateFiles(&files);
    if (opened[0] != '\0' && !files.caseTwins) strcpy_s(targetName, opened);
}
