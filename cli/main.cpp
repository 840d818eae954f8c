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
#include "exit_codes.h"
#include "patch_command.h"
#include "patch_worker.h"
#include "report_output.h"
#include "restore.h"
#include "version.h"

namespace {

void Print(const std::string& text) {
    std::fwrite(text.data(), 1, text.size(), stdout);
    std::fflush(stdout);
}

void Complain(const std::string& line) { std::fprintf(stderr, "velmora-patch: %s\n", line.c_str()); }

bool EnterFolder(const std::string& dir) {
#ifdef _WIN32
    if (SetCurrentDirectoryA(dir.c_str())) return true;
    Complain("cannot enter the folder " + dir);
#else
    if (chdir(dir.c_str()) == 0) return true;
    Complain("cannot enter the folder " + dir + ": " + std::strerror(errno));
#endif
    return false;
}

int Patch(const CliOptions& options) {
    PatchOutcome outcome;
    char message[PATCH_TEXT_SIZE] = {};
    if (!RunPatchCommand(options, &outcome, message)) {
        Complain(message);
        return EXIT_USAGE;
    }
    Print(options.json ? PatchReportJson(outcome) : PatchReportText(outcome));
    if (outcome.exitCode == EXIT_NO_TARGET) Complain("no game executable could be opened; the reasons are above");
    if (outcome.exitCode == EXIT_FAILED) Complain("the patch failed; the reason is above");
    return outcome.exitCode;
}

int Restore(const CliOptions& options) {
    RestoreResult result;
    RunRestore(options.force, &result);
    Print(options.json ? RestoreReportJson(result, options.force) : RestoreReportText(result));
    const int code = RestoreExitCode(result);
    if (code == EXIT_NO_TARGET) Complain("no game executable could be opened; the reasons are above");
    if (code == EXIT_FAILED) Complain("the restore did not happen; the reason is above");
    return code;
}

int Status(const CliOptions& options) {
    StatusOutcome outcome;
    ProbeCandidates(outcome.targetName, outcome.candidates);
    if (outcome.targetName[0] != '\0') ReadGameStatus(outcome.targetName, outcome.targetName, &outcome.status);
    Print(options.json ? StatusReportJson(outcome) : StatusReportText(outcome));
    const int code = StatusExitCode(outcome);
    if (code == EXIT_NO_TARGET) Complain("no game executable could be opened; the reasons are above");
    return code;
}

int Run(int argc, char** argv) {
    CliOptions options;
    std::string error;
    if (!ParseArguments(argc - 1, argv + 1, &options, &error)) {
        Complain(error);
        std::fprintf(stderr, "usage:\n%s", USAGE_LINES);
        return EXIT_USAGE;
    }
    switch (options.command) {
        case CLI_HELP: Print(HELP_TEXT); return EXIT_DONE;
        case CLI_VERSION: Print("velmora-patch " VELMORA_PATCH_VERSION "\n"); return EXIT_DONE;
        default: break;
    }
    if (!options.dir.empty() && !EnterFolder(options.dir)) return EXIT_USAGE;
    if (options.command == CLI_STATUS) return Status(options);
    return options.command == CLI_RESTORE ? Restore(options) : Patch(options);
}

}  // namespace

int main(int argc, char** argv) {
#ifdef _WIN32
    // The report's arrows and ellipsis are UTF-8; a console shows them only in that code
    // page, which is put back for the shell afterwards.
    const UINT previousCodePage = GetConsoleOutputCP();
    if (previousCodePage != 0) SetConsoleOutputCP(CP_UTF8);
    const int code = Run(argc, argv);
    if (previousCodePage != 0) SetConsoleOutputCP(previousCodePage);
    return code;
#else
    return Run(argc, argv);
#endif
}
