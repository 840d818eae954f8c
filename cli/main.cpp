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
#include "no_target_report.h"
#include "report_output.h"
#include "restore.h"
#include "shell_text.h"
#include "target_file.h"
#include "version.h"

namespace {

// A write to stdout that failed (a full disk, a closed pipe): the run must not end as if
// its report had been read.
int g_outputError = 0;
// The run changed files on the disk: its report is then the only word of it.
bool g_changedDisk = false;

void Print(const std::string& text) {
    if (text.empty()) return;
    errno = 0;
    if (!console::Write(stdout, text)) {
        if (g_outputError == 0) g_outputError = errno != 0 ? errno : EIO;
    }
}

// What the player reads and a script does not: stderr.
void Tell(const std::string& text) { console::Write(stderr, text); }
void Complain(const std::string& line) { Tell("velmora-patch: " + line + "\n"); }

const char* CommandName(CliCommand command) {
    switch (command) {
        case CLI_PATCH: return "patch";
        case CLI_RESTORE: return "restore";
        case CLI_FIND: return "find";
        case CLI_STATUS: return "status";
        case CLI_HELP: return "help";
        case CLI_VERSION: return "version";
        case CLI_COMMAND_COUNT: break;
    }
    return nullptr;
}

// A run refused before it began: one line on stderr and where to read more, and with
// --json its one object. `command` null: the line was refused before it named one.
int Refuse(const CliOptions& options, const char* command, const char* code, const std::string& error,
           const std::string& folder = "", const std::string& hint = "") {
    Complain(error);
    if (!hint.empty()) Tell(hint + "\n");
    Tell("Try '" + ProgramAsStarted() + " --help'.\n");
    if (options.json) Print(ErrorJson(command, code, error, EXIT_USAGE, folder));
    return EXIT_USAGE;
}

// A folder name that starts with "~" reached the program as it was: the shell expands it
// only unquoted, at the start of a word.
std::string TildeHint(const std::string& dir) {
    if (dir.empty() || dir[0] != '~') return "";
    return "The shell did not expand the \"~\" (it does not within quotes): write $HOME instead, or leave the ~ "
           "outside the quotes.";
}

// The folder the command names, refused the same way whichever option named it.
int RefuseFolder(const CliOptions& options, const std::string& dir, bool missing, const std::string& why) {
    const std::string text = (missing ? "no such folder " : "cannot enter the folder ") + QuotedPath(dir) +
                             (missing || why.empty() ? "" : ": " + why);
    return Refuse(options, CommandName(options.command), missing ? "no_such_folder" : "cannot_enter_folder", text, dir,
                  TildeHint(dir));
}

int Patch(const CliOptions& options) {
    PatchOutcome outcome;
    std::string refusal;
    if (!RunPatchCommand(options, &outcome, &refusal)) return Refuse(options, "patch", "bad_value", refusal);
    const JobReport& report = outcome.report;
    g_changedDisk = !report.dryRun && (report.backupWritten || report.originalWritten || report.gameWritten);
    const bool noTarget = outcome.exitCode == EXIT_NO_TARGET;
    if (options.json) {
        Print(PatchReportJson(outcome));
    } else if (noTarget) {
        Tell(PatchReportText(outcome));
    } else {
        Print(PatchReportText(outcome));
    }
    // A stop that came while the report was being printed: the files are as it says.
    if (StopRequested() && !report.stopped && !options.json) Print(PatchStoppedText(outcome));
    if (report.folderBusy) {
        Complain(FOLDER_BUSY_TEXT);
    } else if (noTarget) {
        Complain("no game executable could be opened; the reasons are above");
    } else if (outcome.exitCode == EXIT_FAILED) {
        Complain(report.systemError != 0 || report.refusal[0] != '\0' ? "the patch failed; the reason is above"
                                                                      : "the patch failed");
    }
    return outcome.exitCode;
}

int Restore(const CliOptions& options) {
    RestoreResult result;
    const char* exe = options.exe.empty() ? nullptr : options.exe.c_str();
    RunRestore(options.force, &result, exe);
    g_changedDisk = result.outcome == RESTORE_DONE || result.outcome == RESTORE_NOT_SAFE || result.kept_name[0] != '\0';
    const int code = RestoreExitCode(result);
    if (options.json) {
        Print(RestoreReportJson(result, options.force));
    } else if (code == EXIT_NO_TARGET) {
        Tell(RestoreReportText(result, exe));
    } else {
        Print(RestoreReportText(result, exe));
    }
    if (StopRequested() && !result.stopped && !options.json) Print(RestoreStoppedText(result));
    if (result.folderBusy) {
        Complain(FOLDER_BUSY_TEXT);
    } else if (code == EXIT_NO_TARGET) {
        Complain("no game executable could be opened; the reasons are above");
    } else if (result.outcome == RESTORE_NOT_SAFE) {
        Complain("the restore is not yet safe on the disk; the reason is above");
    } else if (code == EXIT_FAILED) {
        Complain(result.systemError != 0 || result.refusal[0] != '\0' ? "the restore did not happen; the reason is above"
                                                                      : "the restore did not happen");
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
    const int code = StatusExitCode(outcome);
    if (options.json) {
        Print(StatusReportJson(outcome));
    } else if (code == EXIT_NO_TARGET) {
        Tell(StatusReportText(outcome));
    } else {
        Print(StatusReportText(outcome));
    }
    if (code == EXIT_NO_TARGET) Complain("no game executable could be opened; the reasons are above");
    return code;
}

int Find(const CliOptions& options) {
    if (!options.findDir.empty()) {
        const FileFacts facts = g_fileOps.inspect(options.findDir.c_str());
        if (!facts.exists) return RefuseFolder(options, options.findDir, true, "");
        if (!facts.directory) {
            return Refuse(options, "find", "not_a_folder", "not a folder " + QuotedPath(options.findDir), options.findDir);
        }
    }
    std::string output, messages;
    const int code = RunFindCommand(options.findDir, options.json, &output, &messages);
    Print(output);
    Tell(messages);
    return code;
}

int Run(int argc, const char* const* argv) {
    CliOptions options;
    std::string error;
    const char* code = nullptr;
    if (!ParseArguments(argc - 1, argv + 1, &options, &error, &code)) return Refuse(options, nullptr, code, error);
    switch (options.command) {
        case CLI_HELP: Print(options.json ? HelpJson(HelpText().c_str()) : HelpText()); return EXIT_DONE;
        case CLI_VERSION:
            Print(options.json ? VersionJson() : "velmora-patch " VELMORA_PATCH_VERSION "\n" VELMORA_LICENCE "\n");
            return EXIT_DONE;
        case CLI_FIND: return Find(options);
        default: break;
    }
    std::string why;
    bool missing = false;
    if (!options.dir.empty() && !console::EnterFolder(options.dir, &why, &missing)) {
        return RefuseFolder(options, options.dir, missing, why);
    }
    if (options.command == CLI_STATUS) return Status(options);
    return options.command == CLI_RESTORE ? Restore(options) : Patch(options);
}

// Said once, on stderr, when a run has to wait for another in the same folder.
void SayWaiting() { Complain("waiting for another velmora-patch working in this folder (up to 10 s)"); }

}  // namespace

// `argv` as UTF-8, as every name is kept inside.
int Main(int argc, const char* const* argv) {
    console::StartProcess();
    CatchStopSignals();
    g_onFolderWait = SayWaiting;
    SetUtf8Output(console::LocaleIsUtf8());
    if (argc > 0) SetProgramAsStarted(argv[0]);
    int code = Run(argc, argv);
    if (std::fflush(stdout) != 0 && g_outputError == 0) g_outputError = errno != 0 ? errno : EIO;
    if (g_outputError != 0) {
        // The code stays the job's own; only a job that changed the disk says more: its
        // report, the one word of what it did, is lost.
        if (g_changedDisk) {
            Complain(std::string("done, but the report could not be written: ") + std::strerror(g_outputError));
            code = EXIT_REPORT_LOST;
        } else {
            Complain(std::string("the output could not be written: ") + std::strerror(g_outputError));
        }
    }
    if (StopRequested()) code = StopExitCode();
    MarkRunEnded();
    console::EndProcess();
    return code;
}

#ifdef _WIN32
// Windows gives the command line as UTF-16: a folder's name in any script reaches the
// program whole, whatever the code page.
int wmain(int argc, wchar_t** argv) {
    const std::vector<std::string> arguments = console::Arguments(argc, argv);
    std::vector<const char*> pointers;
    for (const std::string& argument : arguments) pointers.push_back(argument.c_str());
    pointers.push_back(nullptr);
    return Main(argc, pointers.data());
}
#else
int main(int argc, char** argv) { return Main(argc, argv); }
#endif
