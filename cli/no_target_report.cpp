#include "bounded_text.h"
#include "no_target_report.h"

#include <cstdio>

#include "console_platform.h"

namespace {

std::string NamesLookedFor(const char* exe) {
    if (exe != nullptr && exe[0] != '\0') return exe;
    std::string names;
    for (int i = 0; i < TARGET_CANDIDATE_COUNT; ++i) {
        names += (i == 0 ? "" : ", ");
        names += TARGET_CANDIDATES[i];
    }
    return names;
}

// Another name of the same candidate, when there is one that is not a folder.
const char* TwinOf(const CandidateFiles& files, int at) {
    for (int i = 0; i < files.count; ++i) {
        if (i != at && files.files[i].candidate == files.files[at].candidate && files.files[i].reason != OPEN_NOT_A_FILE) {
            return files.files[i].name;
        }
    }
    return nullptr;
}

}  // namespace

std::string QuotedPath(const std::string& text) {
    std::string quoted = "\"";
    for (const char c : text) {
        const unsigned char u = static_cast<unsigned char>(c);
        if (c == '"') {
            quoted += "\\\"";
        } else if (u < 0x20 || u == 0x7F) {
            char escaped[8];
            sprintf_s(escaped, "\\x%02X", u);
            quoted += escaped;
        } else {
            quoted += c;
        }
    }
    return quoted + "\"";
}

std::string NoTargetReport(const CandidateFiles& files, const char* exe) {
    std::string text = "Searched " + QuotedPath(console::CurrentFolder()) + " for\n  " + NamesLookedFor(exe) + "\n";
    text += console::NAMES_IN_ANY_CASE;
    if (files.count == 0) {
        text += exe != nullptr && exe[0] != '\0' ? "It is not there.\n" : "None of them is there.\n";
        return text;
    }
    text += "Found, but not opened:\n";
    const char* twinExample = nullptr;
    for (int i = 0; i < files.count; ++i) {
        const CandidateFile& file = files.files[i];
        const char* twin = file.reason == OPEN_NOT_A_FILE ? nullptr : TwinOf(files, i);
        if (twin != nullptr && twinExample == nullptr) twinExample = file.name;
        text += "  " + std::string(file.name) + ": ";
        if (file.reason == OPEN_NOT_A_FILE) {
            text += "not a file\n";
        } else if (file.reason == OPEN_OK) {
            text += "also there as " + std::string(twin != nullptr ? twin : "another name") + "\n";
        } else {
            text += std::string(OpenReasonText(file.reason)) + "\n";
            char path[PATCH_TEXT_SIZE];
            char hint[PATCH_TEXT_SIZE] = {};
            if (HintPathOf(file.name, path)) FormatOpenReasonHint(file.reason, path, hint);
            if (hint[0] != '\0') text += "    " + std::string(hint) + "\n";
        }
    }
    if (files.caseTwins && twinExample != nullptr) {
        text += "Names that differ only in case are not chosen between:\n  pick one with --exe, for example --exe " +
                QuotedPath(twinExample) + "\n";
    }
    return text;
}
