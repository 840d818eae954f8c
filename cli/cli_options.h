#pragma once
// The command line of velmora-patch, turned into what to do. The values stay text: they are
// checked later by the same input checks as the window's fields; only what the window would
// take for "no value" (an empty or blank value, half an aspect ratio) is refused here.
//
// The options live in one table in cli_options.cpp: a new option is one row there, one
// field here and its lines in the help text.

#include <string>

enum CliCommand { CLI_PATCH, CLI_RESTORE, CLI_FIND, CLI_STATUS, CLI_HELP, CLI_VERSION, CLI_COMMAND_COUNT };

struct CliOptions {
    CliCommand command = CLI_PATCH;
    std::string dir;  // empty: the current folder
    std::string exe;  // the one candidate to open; empty: all of them
    std::string findDir;  // --find: the folder to search below; empty: the usual places

    // The four features as the window starts: widescreen 16:9 on, the other three off, with
    // the window's default texts in their fields.
    bool widescreen = true;
    std::string aspect = "16:9";  // as given, for the messages
    std::string displayWidth = "16";
    std::string displayHeight = "9";
    bool camera = false;
    std::string cameraDistance = "1536";
    bool fieldOfView = false;
    std::string fovWidth = "undef";
    bool fps = false;

    bool dryRun = false;
    // Set as soon as --json is on the line, even when the rest of it is refused, so that
    // the refusal too comes out as JSON.
    bool json = false;
    bool force = false;
};

// Fills `options` from the arguments after the program name. On a usage error returns
// false and puts into `error` one line saying what is wrong, naming the option and its value.
bool ParseArguments(int argc, const char* const* argv, CliOptions* options, std::string* error);

// The line of a refused value: `--camera: "--fps" is not a whole number from 1 to 65535`.
// `option` is the option's long name; what it takes comes from the table.
std::string RefusedValue(const char* option, const std::string& value);

// The usage lines, and the whole --help text with the options and the exit codes; both fit
// an 80-column terminal.
extern const char USAGE_LINES[];
extern const char HELP_TEXT[];
