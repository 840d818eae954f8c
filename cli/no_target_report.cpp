#include "bounded_text.h"
#include "no_target_report.h"

#include <cstdio>
#include <cstring>

#include "console_platform.h"
#include "game_search.h"
#include "platform.h"
#include "shell_text.h"

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


std::string g_program = "velmora-patch";

}  // namespace

void SetProgramAsStarted(const std::string& argv0) {
    // Found through PATH, the shell was given the bare name: so is the player.
    const bool path = argv0.find_first_of(platform::PATH_SEPARATOR == '/' ? "/" : "/\\") != std::string::npos;
    if (path) g_program = argv0;
}

const std::string& ProgramAsStarted() { return g_program; }

namespace {

// The program as a word of the command: quoted only where it needs it, as players type it.
std::string ProgramWord() {
    for (const char c : g_program) {
        const bool plain = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
                           std::strchr("./\\_-:+", c) != nullptr;
        if (!plain) return QuotedPath(g_program);
    }
    return g_program;
}

}  // namespace

std::string CommandHint(const std::string& folder, const std::string& arguments) {
    return ProgramWord() + " --dir " + QuotedPath(folder) + (arguments.empty() ? "" : " " + arguments);
}

std::string NoTargetLines(const char* windowText, const CandidateFiles& files) {
    std::string lines;
    for (const char* c = windowText; *c != '\0'; ++c) {
        if (c[0] == '\r' && c[1] == '\n') continue;
        lines += *c;
    }
    // The window's second line guesses at a busy file; with none of the names there, the
    // guess would only mislead.
    const std::string BUSY = "\nMaybe file is busy";
    const size_t at = lines.find(BUSY);
    if (files.count == 0 && at != std::string::npos) lines.erase(at, BUSY.size());
    return lines;
}

std::string NoTargetReport(const CandidateFiles& files, const char* exe) {
    std::string text = "Searched " + QuotedPath(console::CurrentFolder()) + " for\n  " + NamesLookedFor(exe) + "\n";
    text += console::NAMES_IN_ANY_CASE;
    if (files.count == 0) {
        text += exe != nullptr && exe[0] != '\0' ? "It is not there.\n" : "None of them is there.\n";
        // The game may be in a folder of its own below (bin/, game/bin/x86).
        GameSearch below;
        const std::string here = console::CurrentFolder();
        SearchBelow(here, &below, 2);
        std::vector<FoundGame> deeper;
        for (const FoundGame& game : below.games) {
            if (game.folder != here) deeper.push_back(game);
        }
        if (!deeper.empty()) {
            text += "Below this folder:\n";
            for (const FoundGame& game : deeper) text += "  " + QuotedPath(game.folder) + "  " + game.exe + "\n";
            text += "Patch one with " + CommandHint(deeper[0].folder, "") + "\n";
        }
        text += "To search the usual places of games: " + ProgramWord() + " --find\n";
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
        text += "Names that differ only in case are not chosen between:\n  pick one with --exe, for example\n  " +
                CommandHint(console::CurrentFolder(), "--exe " + QuotedPath(twinExample)) + "\n";
    }
    return text;
}
