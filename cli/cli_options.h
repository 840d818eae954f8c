#pragma once
// The command line of velmora-patch, turned into what to do. The values stay text: they are
// checked later by the same input checks as the window's fields, with the same messages.

#include <string>

enum CliCommand { CLI_PATCH, CLI_RESTORE, CLI_STATUS, CLI_HELP, CLI_VERSION };

struct CliOptions {
    CliCommand command = CLI_PATCH;
    std::string dir;  // empty: the current folder

    // The four features as the window starts: widescreen 16:9 on, the other three off, with
    // the window's default texts in their fields.
    bool widescreen = true;
    std::string displayWidth = "16";
    std::string displayHeight = "9";
    bool camera = false;
    std::string cameraDistance = "1536";
    bool fieldOfView = false;
    std::string fovWidth = "undef";
    bool fps = false;

    bool dryRun = false;
    bool json = false;
    bool force = false;
};

// Fills `options` from the arguments after the program name. On a usage error returns
// false and puts into `error` one line saying what is wrong.
bool ParseArguments(int argc, const char* const* argv, CliOptions* options, std::string* error);

// The three usage lines, and the whole --help text with the options and the exit codes.
extern const char USAGE_LINES[];
extern const char HELP_TEXT[];
