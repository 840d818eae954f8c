// velmora-patch: the patcher without a window, for scripts and for players without Wine.
// The same engine as the window: its input checks, its job, its copies and its texts.

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>

#include "cli_options.h"
#include "console_platform.h"
#include "console_text.h"
#include "exit_codes.h"
#include "find_command.h"
#include "patch_command.h"
#include "candidates.h"
#include "report_output.h"
#include "restore.h"
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
    if (withUsage) std::fputs(UsageLines().c_str(), stderr);
    if (options.json) Print(ErrorJson(error, EXIT_USAGE));
    return EXIT_USAGE;
}

bool EnterFolder(const std::string& dir, std::string* error) {
    std::string why;
    if (console::EnterFolder(dir, &why)) return true;
    *error = "cannot enter the folder " + Quoted(dir) + (why.empty() ? "" : ": " + why);
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
    // Read only, with every sharing: the state of a running or read-only game can be told,
    // and who else holds the files does not matter, so no look at the other processes.
    ProbeCandidates(outcome.exe, nullptr, outcome.targetName, outcome.candidates, &outcome.files, true);
    if (outcome.targetName[0] != '\0') {
        ReadGameStatus(outcome.targetName, CandidateIndexOf(outcome.targetName), &outcome.status);
    }
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
        case CLI_HELP: Print(options.json ? HelpJson(HelpText().c_str()) : HelpText()); return EXIT_DONE;
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

// Said once, on stderr, when a run has to wait for another in the same folder.
void SayWaiting() { Complain("waiting for another velmora-patch working in this folder (up to 10 s)"); }

}  // namespace

int main(int argc, char** argv) {
    console::StartProcess();
    CatchStopSignals();
    g_onFolderWait = SayWaiting;
    SetUtf8Output(console::LocaleIsUtf8());
    int code = Run(argc, argv);
    if (std::fflush(stdout) != 0 && g_outputError == 0) g_outputError = errno != 0 ? errno : EIO;
    if (g_outputError != 0) {
        Complain(std::string("the output could not be written: ") + std::strerror(g_outputError));
        code = EXIT_FAILED;
    }
    if (StopRequested()) code = StopExitCode();
    MarkRunEnded();
    console::EndProcess();
    return code;
}
