// velmora-patch: the patcher without a window, for scripts and for players without Wine.
// The same engine as the window: its input checks, its job, its copies and its texts.

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>

#ifdef _WIN32
#include <windows.h>
#else
#include <unistd.h>
#endif

#include "cli_options.h"
#include "console_text.h"
#include "exit_codes.h"
#include "find_command.h"
#include "patch_command.h"
#include "candidates.h"
#include "report_output.h"
#include "restore.h"
#include "system_dlls.h"
#include "version.h"

namespace {

// A write to stdout that failed (a full disk, a closed pipe): the run must not end as if
// its report had been read.
int g_outputError = 0;

void Print(const std::string& text) {
    if (std::fwrite(text.data(), 1, text.size(), stdout) != text.size() || std::fflush(stdout) != 0) {
        if (g_outputError == 0) g_outputError = errno != 0 ? errno : EIO;
    }
}

// fputs, not fprintf: MinGW's own formatter would add about 28 KB to velmora-patch.exe.
void Complain(const std::string& line) { std::fputs(("velmora-patch: " + line + "\n").c_str(), stderr); }

// A run refused before it began: the line on stderr, and with --json its one object.
int Refuse(const CliOptions& options, const std::string& error, bool withUsage) {
    Complain(error);
    if (withUsage) std::fputs(USAGE_LINES, stderr);
    if (options.json) Print(ErrorJson(error, EXIT_USAGE));
    return EXIT_USAGE;
}

bool EnterFolder(const std::string& dir, std::string* error) {
#ifdef _WIN32
    if (SetCurrentDirectoryA(dir.c_str())) return true;
    *error = "cannot enter the folder " + Quoted(dir);
#else
    if (chdir(dir.c_str()) == 0) return true;
    *error = "cannot enter the folder " + Quoted(dir) + ": " + std::strerror(errno);
#endif
    return false;
}

int Patch(const CliOptions& options) {
    PatchOutcome outcome;
    std::string refusal;
    if (!RunPatchCommand(options, &outcome, &refusal)) return Refuse(options, refusal, false);
    Print(options.json ? PatchReportJson(outcome) : PatchReportText(outcome));
    // A stop that came while the report was being printed: the files are as it says.
    if (StopRequested() && !outcome.report.stopped && !options.json) Print(PatchStoppedText(outcome));
    if (outcome.report.folderBusy) {
        Complain(FOLDER_BUSY_TEXT);
    } else if (outcome.exitCode == EXIT_NO_TARGET) {
        Complain("no game executable could be opened; the reasons are above");
    } else if (outcome.exitCode == EXIT_FAILED) {
        Complain("the patch failed; the reason is above");
    }
    return outcome.exitCode;
}

int Restore(const CliOptions& options) {
    RestoreResult result;
    const char* exe = options.exe.empty() ? nullptr : options.exe.c_str();
    RunRestore(options.force, &result, exe);
    Print(options.json ? RestoreReportJson(result, options.force) : RestoreReportText(result, exe));
    if (StopRequested() && !result.stopped && !options.json) Print(RestoreStoppedText(result));
    const int code = RestoreExitCode(result);
    if (result.folderBusy) {
        Complain(FOLDER_BUSY_TEXT);
    } else if (code == EXIT_NO_TARGET) {
        Complain("no game executable could be opened; the reasons are above");
    } else if (result.outcome == RESTORE_NOT_SAFE) {
        Complain("the restore is not yet safe on the disk; the reason is above");
    } else if (code == EXIT_FAILED) {
        Complain("the restore did not happen; the reason is above");
    }
    return code;
}

int Status(const CliOptions& options) {
    StatusOutcome outcome;
    outcome.exe = options.exe.empty() ? nullptr : options.exe.c_str();
    HolderSurvey survey;
    ProbeCandidates(outcome.exe, &survey, outcome.targetName, outcome.candidates, &outcome.files);
    if (outcome.targetName[0] != '\0') ReadGameStatus(outcome.targetName, outcome.targetName, &outcome.status);
    Print(options.json ? StatusReportJson(outcome) : StatusReportText(outcome));
    const int code = StatusExitCode(outcome);
    if (code == EXIT_NO_TARGET) Complain("no game executable could be opened; the reasons are above");
    return code;
}

int Run(int argc, char** argv) {
    CliOptions options;
    std::string error;
    if (!ParseArguments(argc - 1, argv + 1, &options, &error)) return Refuse(options, error, true);
    switch (options.command) {
        case CLI_HELP: Print(options.json ? HelpJson(HELP_TEXT) : HELP_TEXT); return EXIT_DONE;
        case CLI_VERSION:
            Print(options.json ? VersionJson() : "velmora-patch " VELMORA_PATCH_VERSION "\n");
            return EXIT_DONE;
        default: break;
    }
    if (options.command == CLI_FIND) {
        std::string output;
        const int code = RunFindCommand(options.findDir, options.json, &output);
        Print(output);
        return code;
    }
    if (!options.dir.empty() && !EnterFolder(options.dir, &error)) return Refuse(options, error, false);
    if (options.command == CLI_STATUS) return Status(options);
    return options.command == CLI_RESTORE ? Restore(options) : Patch(options);
}

#ifdef _WIN32
// Started by a double click, the program has a console of its own, which closes the moment
// it ends: the player would not read a word. Started from a shell, it shares the shell's
// console (two processes or more) and must not wait; with its input not a console (a
// script's pipe or file) there is no one to press Enter either.
bool OwnsItsConsole() {
    DWORD processes[2];
    DWORD mode = 0;
    return GetConsoleProcessList(processes, 2) == 1 && GetConsoleMode(GetStdHandle(STD_INPUT_HANDLE), &mode);
}

void WaitForEnter() {
    std::fputs("\nPress Enter to close this window.", stderr);
    std::fflush(stderr);
    for (int c = std::getchar(); c != EOF && c != '\n'; c = std::getchar()) {
    }
}
#endif

// Said once, on stderr, when a run has to wait for another in the same folder.
void SayWaiting() {
    Complain("waiting for another velmora-patch working in this folder (up to 10 s)");
}

}  // namespace

int main(int argc, char** argv) {
#ifdef _WIN32
    RestrictDllSearch();
#endif
    CatchStopSignals();
    g_onFolderWait = SayWaiting;
    SetUtf8Output(LocaleIsUtf8());
    int code = Run(argc, argv);
    if (std::fflush(stdout) != 0 && g_outputError == 0) g_outputError = errno != 0 ? errno : EIO;
    if (g_outputError != 0) {
        Complain(std::string("the output could not be written: ") + std::strerror(g_outputError));
        code = EXIT_FAILED;
    }
    if (StopRequested()) code = StopExitCode();
    MarkRunEnded();
#ifdef _WIN32
    // A closed console is gone: there is no one to press Enter.
    if (!StopRequested() && OwnsItsConsole()) WaitForEnter();
#endif
    return code;
}
