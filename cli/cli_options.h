#pragma once
// The command line of velmora-patch, turned into what to do. The values stay text: they are
// checked later by the same input checks as the window's fields; only what the window would
// take for "no value" (an empty or blank value, half an aspect ratio) is refused here.
//
// The options live in one table in cli_options.cpp, with a row for each rule's options
// made from the rule table; the help and the usage lines are made from it.

#include <string>

#include "rule_table.h"

enum CliCommand { CLI_PATCH, CLI_RESTORE, CLI_FIND, CLI_STATUS, CLI_HELP, CLI_VERSION, CLI_COMMAND_COUNT };

struct CliOptions {
    CliCommand command = CLI_PATCH;
    std::string dir;  // empty: the current folder
    std::string exe;  // the one candidate to open; empty: all of them
    std::string findDir;  // --find: the folder to search below; empty: the usual places

    // The rules as the window starts: switched on as their rows say, with the window's
    // default texts in their fields. A ratio is kept as given ("16:9"), for the messages.
    bool ruleOn[RULE_COUNT];
    std::string ruleValue[RULE_COUNT];

    bool dryRun = false;
    // Set as soon as --json is on the line, even when the rest of it is refused, so that
    // the refusal too comes out as JSON.
    bool json = false;
    bool force = false;

    CliOptions();
};

// A ratio's two fields: "16:9" or "16x9" into "16" and "9". False unless both hold something:
// the window would take a missing one for "no value" and leave the ratio alone.
bool SplitRatio(const std::string& text, std::string* width, std::string* height);

// Fills `options` from the arguments after the program name. On a usage error returns
// false and puts into `error` one line saying what is wrong, naming the option and its value,
// and into `code` (unless null) its stable code for scripts: unknown_option, ambiguous_option,
// unexpected_argument, missing_value, value_not_taken, bad_value, excluded_options,
// not_with_command, nothing_to_do. --help and --version win over any mistake on the line.
bool ParseArguments(int argc, const char* const* argv, CliOptions* options, std::string* error,
                    const char** code = nullptr);

// The line of a refused value: `--camera: "--fps" is not a whole number from 1 to 65535`.
// `option` is the option's long name; what it takes comes from the table.
std::string RefusedValue(const char* option, const std::string& value);

// The usage lines, and the whole --help text with the options and the exit codes; both fit
// an 80-column terminal.
std::string UsageLines();
std::string HelpText();
