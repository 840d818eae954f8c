#include "result_text.h"

#include "bounded_text.h"

namespace {

const char NO_TARGET_TEXT[] = "No Velmora 2345 files\r\nMaybe file is busy";
// More lines than this would not fit the result box.
const int MAX_REASON_LINES = 3;

// Missing names and folders are what any game folder has: only real refusals are named.
bool IsWorthNaming(OpenReason reason) {
    return reason != OPEN_OK && reason != OPEN_MISSING && reason != OPEN_NOT_A_FILE;
}

}  // namespace

void FormatNoTargetText(const OpenReason (&reasons)[TARGET_CANDIDATE_COUNT], char (&text)[PATCH_TEXT_SIZE]) {
    strcpy_s(text, NO_TARGET_TEXT);
    int first = -1;
    int named = 0;
    for (int i = 0; i < TARGET_CANDIDATE_COUNT && named < MAX_REASON_LINES; ++i) {
        if (!IsWorthNaming(reasons[i])) continue;
        if (named++ == 0) first = i;
        strcat_s(text, "\r\n");
        strcat_s(text, TARGET_CANDIDATES[i]);
        strcat_s(text, ": ");
        strcat_s(text, OpenReasonText(reasons[i]));
    }
    if (first < 0) return;
    // A hint that names the file names it in full where that fits, else as it is named above.
    char path[PATCH_TEXT_SIZE];
    char hint[PATCH_TEXT_SIZE] = {};
    for (int attempt = 0; attempt < 2; ++attempt) {
        const bool full = attempt == 0 && HintPathOf(TARGET_CANDIDATES[first], path);
        if (!full) strcpy_s(path, TARGET_CANDIDATES[first]);
        FormatOpenReasonHint(reasons[first], path, hint);
        char withHint[PATCH_TEXT_SIZE];
        if (hint[0] == '\0' || strcpy_s(withHint, text) != 0 || strcat_s(withHint, "\r\n") != 0 ||
            strcat_s(withHint, hint) != 0) {
            continue;
        }
        strcpy_s(text, withHint);
        return;
    }
}

void FormatResultText(const PatchJob& job, char (&text)[PATCH_TEXT_SIZE]) {
    if (job.failure_text[0] != '\0') {
        strcpy_s(text, job.failure_text);
    } else if (job.target_name[0] == '\0') {
        strcpy_s(text, NO_TARGET_TEXT);
    } else {
        sprintf_s(text, "Done %s!\r\n", job.target_name);
        for (const char* line : job.status) {
            strcat_s(text, "\r\n");
            strcat_s(text, line);
        }
    }
}
