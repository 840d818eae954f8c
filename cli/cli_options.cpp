#include "cli_options.h"

#include <cstring>

#include "version.h"

const char USAGE_LINES[] =
    "velmora-patch [--dir DIR] [--aspect W:H | --no-widescreen] [--camera N] [--fov WIDTH] [--fps] [--dry-run] "
    "[--json]\n"
    "velmora-patch --restore [--dir DIR] [--force] [--json]\n"
    "velmora-patch --status [--dir DIR] [--json]\n"
    "velmora-patch --help | --version\n";

const char HELP_TEXT[] =
    "velmora-patch " VELMORA_PATCH_VERSION
    ": patches the executable of a Velmora 2345 game in place, as the\n"
    "Widescreen Velmora 2345 window does, and says what it changed and why not.\n"
    "\n"
    "Usage:\n"
    "  velmora-patch [--dir DIR] [--aspect W:H | --no-widescreen] [--camera N] [--fov WIDTH] [--fps] [--dry-run] "
    "[--json]\n"
    "  velmora-patch --restore [--dir DIR] [--force] [--json]\n"
    "  velmora-patch --status [--dir DIR] [--json]\n"
    "  velmora-patch --help | --version\n"
    "\n"
    "With no option it does in the current folder what Apply does with the window's defaults:\n"
    "widescreen 16:9 on, the other three features off.\n"
    "\n"
    "  --dir DIR        the game folder (default: the current folder)\n"
    "  --aspect W:H     display width and height, also as WxH (default 16:9)\n"
    "  --no-widescreen  leave the game's 4:3 aspect ratio alone\n"
    "  --camera N       camera distance from Siona, 1 to 65535 (the game's is 1536)\n"
    "  --fov WIDTH      the screen width set in the game's setup, 1 to 16777215, or undef\n"
    "  --fps            unlock 60 FPS (games 2 and 3 only)\n"
    "  --dry-run        read the game and report what a run would do; write nothing at all\n"
    "  --json           print one JSON object instead of the text\n"
    "  --restore        put back <name>.orig, or else <name>.bak, whichever the game\n"
    "                   is a patched form of; refused when it is neither (an update)\n"
    "  --force          restore even then; the executable is first kept as\n"
    "                   <name>.before-restore\n"
    "  --status         show whether the game is patched, and how; write nothing\n"
    "\n"
    "The first run keeps the original as <name>.orig, which undoes every change; each run\n"
    "keeps the contents it found as <name>.bak, which undoes the last run.\n"
    "\n"
    "Exit codes:\n"
    "  0  done, and every rule asked for found its pattern or was already patched\n"
    "  1  done, but a rule that was asked for found nothing\n"
    "  2  usage error or refused value; nothing touched\n"
    "  3  no target, with the reasons\n"
    "  4  failure: nothing changed, a refused restore, or a failed write-back (then the .bak message)\n";

namespace {

enum OptionId {
    OPT_DIR,
    OPT_ASPECT,
    OPT_NO_WIDESCREEN,
    OPT_CAMERA,
    OPT_FOV,
    OPT_FPS,
    OPT_DRY_RUN,
    OPT_JSON,
    OPT_RESTORE,
    OPT_FORCE,
    OPT_HELP,
    OPT_VERSION,
    OPT_STATUS,
    OPT_COUNT,
};

struct OptionSpec {
    const char* name;
    bool takesValue;
    bool forPatch;    // allowed in a patch run
    bool forRestore;  // allowed with --restore
};

const OptionSpec OPTIONS[OPT_COUNT] = {
    {"--dir", true, true, true},        {"--aspect", true, true, false}, {"--no-widescreen", false, true, false},
    {"--camera", true, true, false},    {"--fov", true, true, false},    {"--fps", false, true, false},
    {"--dry-run", false, true, false},  {"--json", false, true, true},   {"--restore", false, false, true},
    {"--force", false, false, true},    {"--help", false, false, false}, {"--version", false, false, false},
    {"--status", false, false, false},
};

// --status reads the game where a patch run would, and may print JSON; nothing else goes with it.
bool AllowedWithStatus(int id) { return id == OPT_STATUS || id == OPT_DIR || id == OPT_JSON; }

// "16:9" or "16x9" into its two fields; either may be empty, as a field of the window may.
bool SplitAspect(const std::string& text, std::string* width, std::string* height) {
    const size_t at = text.find_first_of(":xX");
    if (at == std::string::npos || text.find_first_of(":xX", at + 1) != std::string::npos) return false;
    *width = text.substr(0, at);
    *height = text.substr(at + 1);
    return true;
}

}  // namespace

bool ParseArguments(int argc, const char* const* argv, CliOptions* options, std::string* error) {
    *options = CliOptions();
    bool seen[OPT_COUNT] = {};
    std::string values[OPT_COUNT];

    for (int i = 0; i < argc; ++i) {
        const std::string argument = argv[i];
        std::string name = argument;
        std::string inlineValue;
        bool hasInlineValue = false;
        const size_t equals = argument.find('=');
        if (argument.compare(0, 2, "--") == 0 && equals != std::string::npos) {
            name = argument.substr(0, equals);
            inlineValue = argument.substr(equals + 1);
            hasInlineValue = true;
        }
        int id = 0;
        while (id < OPT_COUNT && name != OPTIONS[id].name) ++id;
        if (id == OPT_COUNT) {
            *error = argument.compare(0, 1, "-") == 0 ? "unknown option " + argument : "unexpected argument " + argument;
            return false;
        }
        if (seen[id]) {
            *error = name + " given twice";
            return false;
        }
        seen[id] = true;
        if (!OPTIONS[id].takesValue) {
            if (hasInlineValue) {
                *error = name + " takes no value";
                return false;
            }
            continue;
        }
        if (hasInlineValue) {
            values[id] = inlineValue;
        } else if (i + 1 < argc) {
            values[id] = argv[++i];
        } else {
            *error = name + " needs a value";
            return false;
        }
    }

    // --help and --version answer whatever else is on the line.
    if (seen[OPT_HELP]) {
        options->command = CLI_HELP;
        return true;
    }
    if (seen[OPT_VERSION]) {
        options->command = CLI_VERSION;
        return true;
    }

    options->command = seen[OPT_RESTORE] ? CLI_RESTORE : CLI_PATCH;
    if (seen[OPT_STATUS]) {
        for (int id = 0; id < OPT_COUNT; ++id) {
            if (seen[id] && !AllowedWithStatus(id)) {
                *error = std::string(OPTIONS[id].name) + " does not go with --status";
                return false;
            }
        }
        options->command = CLI_STATUS;
    }
    for (int id = 0; id < OPT_COUNT && options->command != CLI_STATUS; ++id) {
        if (!seen[id]) continue;
        const bool allowed = options->command == CLI_RESTORE ? OPTIONS[id].forRestore : OPTIONS[id].forPatch;
        if (!allowed) {
            *error = std::string(OPTIONS[id].name) +
                     (options->command == CLI_RESTORE ? " does not go with --restore" : " goes only with --restore");
            return false;
        }
    }
    if (seen[OPT_ASPECT] && seen[OPT_NO_WIDESCREEN]) {
        *error = "--aspect and --no-widescreen exclude each other";
        return false;
    }
    if (seen[OPT_DIR] && values[OPT_DIR].empty()) {
        *error = "--dir needs a folder";
        return false;
    }

    options->dir = values[OPT_DIR];
    if (seen[OPT_ASPECT] &&
        !SplitAspect(values[OPT_ASPECT], &options->displayWidth, &options->displayHeight)) {
        *error = "--aspect takes W:H or WxH, for example 16:9, not " + values[OPT_ASPECT];
        return false;
    }
    // The window's fields keep their texts when a feature is off; so do these.
    options->widescreen = !seen[OPT_NO_WIDESCREEN];
    if (seen[OPT_CAMERA]) {
        options->camera = true;
        options->cameraDistance = values[OPT_CAMERA];
    }
    if (seen[OPT_FOV]) {
        options->fieldOfView = true;
        options->fovWidth = values[OPT_FOV];
    }
    options->fps = seen[OPT_FPS];
    options->dryRun = seen[OPT_DRY_RUN];
    options->json = seen[OPT_JSON];
    options->force = seen[OPT_FORCE];
    return true;
}
