#include "cli_options.h"

#include <cstring>

#include "candidate_names.h"
#include "console_text.h"
#include "version.h"

// The usage lines, once for the errors and once for --help, in the form help2man reads.
#define VELMORA_USAGE                                                   \
    "Usage: velmora-patch [--dir DIR] [FEATURE...] [--dry-run] [--json]\n" \
    "  or:  velmora-patch --restore [--dir DIR] [--force] [--json]\n"       \
    "  or:  velmora-patch --status [--dir DIR] [--exe NAME] [--json]\n"      \
    "  or:  velmora-patch --find [DIR] [--json]\n"                           \
    "  or:  velmora-patch -h | --help | -V | --version\n"

const char USAGE_LINES[] = VELMORA_USAGE;

// At most 79 columns a line: an 80-column terminal would otherwise break them itself.
const char HELP_TEXT[] =
    VELMORA_USAGE
    "Patches the executable of a Velmora 2345 game in place, as the Widescreen\n"
    "Velmora 2345 window does, and says what it changed and why not.\n"
    "\n"
    "With no option it does in the current folder what Apply does with the window's\n"
    "defaults: widescreen 16:9 on, the other three features off. Each feature given\n"
    "is switched on.\n"
    "\n"
    "Features:\n"
    "  --aspect W:H     display width and height, also as WxH (default 16:9)\n"
    "  --no-widescreen  leave the game's 4:3 aspect ratio alone\n"
    "  --camera N       camera distance from Siona, 1 to 65535 (the game's is 1536)\n"
    "  --fov WIDTH      the screen width set in the game's setup, 1 to 16777215;\n"
    "                   undef leaves the field of view alone\n"
    "  --fps            unlock 60 FPS (games 2 and 3 only)\n"
    "\n"
    "Options:\n"
    "  --dir DIR        the game folder (default: the current folder)\n"
    "  --exe NAME       open only this one of the game's executables (any case)\n"
    "  --dry-run        read the game and report what a run would do; write nothing\n"
    "  --json           print one JSON object instead of the text, errors included\n"
    "  --restore        put back <name>.orig, or else <name>.bak, whichever the game\n"
    "                   is a patched form of; refused when it is neither (an update)\n"
    "  --force          restore even then; the executable is first kept as\n"
    "                   <name>.before-restore\n"
    "  --status         show whether the game is patched, and how; write nothing\n"
    "  --find [DIR]     list the game folders of the Steam libraries and Wine\n"
    "                   prefixes, or below DIR, with executable and state\n"
    "  -h, --help       show this help\n"
    "  -V, --version    show the version\n"
    "  --               end of the options\n"
    "\n"
    "The first run keeps the original as <name>.orig, which undoes every change;\n"
    "each run keeps the contents it found as <name>.bak, which undoes the last run.\n"
    "\n"
    "Exit codes:\n"
    "  0  done, and every rule asked for found its pattern or was already patched\n"
    "  1  done, but a rule that was asked for found nothing\n"
    "  2  usage error or refused value; nothing touched\n"
    "  3  no target, with the reasons\n"
    "  4  failure: nothing changed, a refused restore, a failed write-back (then\n"
    "     the .bak message), or the output could not be written\n"
    "  130  stopped by Ctrl-C, SIGTERM or SIGHUP after the step it was in\n";

namespace {

enum OptionId {
    OPT_DIR,
    OPT_EXE,
    OPT_ASPECT,
    OPT_NO_WIDESCREEN,
    OPT_CAMERA,
    OPT_FOV,
    OPT_FPS,
    OPT_DRY_RUN,
    OPT_JSON,
    OPT_RESTORE,
    OPT_FORCE,
    OPT_FIND,
    OPT_STATUS,
    OPT_HELP,
    OPT_VERSION,
    OPT_COUNT,
};

enum ValueKind {
    NO_VALUE,
    NEEDS_VALUE,     // --dir DIR or --dir=DIR
    OPTIONAL_VALUE,  // --opt=VALUE, or --opt VALUE when VALUE does not start with "-"
};

// The commands an option goes with.
enum : unsigned {
    WITH_PATCH = 1u << CLI_PATCH,
    WITH_RESTORE = 1u << CLI_RESTORE,
    WITH_FIND = 1u << CLI_FIND,
    WITH_STATUS = 1u << CLI_STATUS,
    WITH_ANY = ~0u,
};

struct OptionRow {
    const char* name;   // the long name, "--dir"
    char shortName;     // -h; 0 for none
    ValueKind value;
    const char* takes;  // what the value must be, for the errors; null for no value
    CliCommand selects; // the command the option asks for; CLI_PATCH: none
    unsigned goesWith;  // the commands it may be given with
};

const OptionRow OPTIONS[OPT_COUNT] = {
    {"--dir", 0, NEEDS_VALUE, "a folder", CLI_PATCH, WITH_PATCH | WITH_RESTORE | WITH_STATUS},
    {"--exe", 0, NEEDS_VALUE, "one of Vlmr2.exe, v2plus.exe, vlmr3.exe, vm3plus.exe, vlmr4.exe, PCVlmr5.exe",
     CLI_PATCH, WITH_PATCH | WITH_RESTORE | WITH_STATUS},
    {"--aspect", 0, NEEDS_VALUE, "W:H or WxH, two whole numbers from 1 up", CLI_PATCH, WITH_PATCH},
    {"--no-widescreen", 0, NO_VALUE, nullptr, CLI_PATCH, WITH_PATCH},
    {"--camera", 0, NEEDS_VALUE, "a whole number from 1 to 65535", CLI_PATCH, WITH_PATCH},
    {"--fov", 0, NEEDS_VALUE, "undef or a whole number from 1 to 16777215", CLI_PATCH, WITH_PATCH},
    {"--fps", 0, NO_VALUE, nullptr, CLI_PATCH, WITH_PATCH},
    {"--dry-run", 0, NO_VALUE, nullptr, CLI_PATCH, WITH_PATCH},
    {"--json", 0, NO_VALUE, nullptr, CLI_PATCH, WITH_PATCH | WITH_RESTORE | WITH_FIND | WITH_STATUS},
    {"--restore", 0, NO_VALUE, nullptr, CLI_RESTORE, WITH_RESTORE},
    {"--force", 0, NO_VALUE, nullptr, CLI_PATCH, WITH_RESTORE},
    {"--find", 0, OPTIONAL_VALUE, "a folder", CLI_FIND, WITH_FIND},
    {"--status", 0, NO_VALUE, nullptr, CLI_STATUS, WITH_STATUS},
    {"--help", 'h', NO_VALUE, nullptr, CLI_HELP, WITH_ANY},
    {"--version", 'V', NO_VALUE, nullptr, CLI_VERSION, WITH_ANY},
};

int FindOption(const std::string& name) {
    for (int id = 0; id < OPT_COUNT; ++id) {
        const OptionRow& row = OPTIONS[id];
        if (name == row.name) return id;
        if (row.shortName != 0 && name.size() == 2 && name[0] == '-' && name[1] == row.shortName) return id;
    }
    return -1;
}

bool LooksLikeOption(const std::string& argument) { return argument.size() > 1 && argument[0] == '-'; }

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

// Empty, or blanks only: the window's fields take that for "no value".
bool IsBlankText(const std::string& text) {
    for (const char c : text) {
        if (!IsBlank(c)) return false;
    }
    return true;
}

// "16:9" or "16x9" into its two fields. Both must hold something: the window would take a
// missing one for "no value" and leave the aspect ratio alone.
bool SplitAspect(const std::string& text, std::string* width, std::string* height) {
    const size_t at = text.find_first_of(":xX");
    if (at == std::string::npos || text.find_first_of(":xX", at + 1) != std::string::npos) return false;
    *width = text.substr(0, at);
    *height = text.substr(at + 1);
    return !IsBlankText(*width) && !IsBlankText(*height);
}

// "--restore" or "--restore or --status": the options that ask for one of `commands`.
std::string CommandOptionsOf(unsigned commands) {
    std::string names;
    for (const OptionRow& row : OPTIONS) {
        if (row.selects == CLI_PATCH || row.selects == CLI_HELP || row.selects == CLI_VERSION) continue;
        if ((commands & (1u << row.selects)) == 0) continue;
        names += (names.empty() ? "" : " or ") + std::string(row.name);
    }
    return names;
}

const char* CommandOptionOf(CliCommand command) {
    for (const OptionRow& row : OPTIONS) {
        if (row.selects == command) return row.name;
    }
    return "";
}

}  // namespace

std::string RefusedValue(const char* option, const std::string& value) {
    const int id = FindOption(option);
    const char* takes = id >= 0 && OPTIONS[id].takes != nullptr ? OPTIONS[id].takes : "a value it takes";
    return std::string(option) + ": " + Quoted(value) + " is not " + takes;
}

bool ParseArguments(int argc, const char* const* argv, CliOptions* options, std::string* error) {
    *options = CliOptions();
    // --json first, so that even a refusal of what comes before it is printed as JSON.
    for (int i = 0; i < argc && std::strcmp(argv[i], "--") != 0; ++i) {
        if (std::strcmp(argv[i], "--json") == 0) options->json = true;
    }

    bool seen[OPT_COUNT] = {};
    std::string values[OPT_COUNT];
    bool optionsEnded = false;
    for (int i = 0; i < argc; ++i) {
        const std::string argument = argv[i];
        if (!optionsEnded && argument == "--") {
            optionsEnded = true;
            continue;
        }
        if (optionsEnded || !LooksLikeOption(argument)) {
            *error = "unexpected argument " + Quoted(argument);
            return false;
        }
        std::string name = argument;
        std::string value;
        bool hasInlineValue = false;
        const size_t equals = argument.find('=');
        if (argument.compare(0, 2, "--") == 0 && equals != std::string::npos) {
            name = argument.substr(0, equals);
            value = argument.substr(equals + 1);
            hasInlineValue = true;
        }
        const int id = FindOption(name);
        if (id < 0) {
            *error = "unknown option " + Quoted(name);
            return false;
        }
        const OptionRow& row = OPTIONS[id];
        if (seen[id]) {
            *error = std::string(row.name) + " given twice";
            return false;
        }
        seen[id] = true;
        if (row.value == NO_VALUE) {
            if (hasInlineValue) {
                *error = std::string(row.name) + " takes no value";
                return false;
            }
            continue;
        }
        if (!hasInlineValue) {
            const bool nextIsValue = i + 1 < argc && (row.value == NEEDS_VALUE || !LooksLikeOption(argv[i + 1]));
            if (nextIsValue) {
                value = argv[++i];
            } else if (row.value == NEEDS_VALUE) {
                *error = std::string(row.name) + " needs a value: " + row.takes;
                return false;
            }
        }
        // A value that starts with "--" is most likely the next option with this one's value
        // forgotten: taking it would run with a value nobody meant. Written as --dir=--x, it is
        // meant. The numbers would refuse it anyway; this names the option that lacks a value.
        if (!hasInlineValue && row.value == NEEDS_VALUE && value.compare(0, 2, "--") == 0) {
            *error = RefusedValue(row.name, value);
            return false;
        }
        if ((row.value == NEEDS_VALUE || hasInlineValue) && IsBlankText(value)) {
            *error = RefusedValue(row.name, value);
            return false;
        }
        values[id] = value;
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

    options->command = CLI_PATCH;
    int commandOption = -1;
    for (int id = 0; id < OPT_COUNT; ++id) {
        if (!seen[id] || OPTIONS[id].selects == CLI_PATCH) continue;
        if (commandOption >= 0) {
            *error = std::string(OPTIONS[commandOption].name) + " and " + OPTIONS[id].name + " exclude each other";
            return false;
        }
        commandOption = id;
        options->command = OPTIONS[id].selects;
    }
    for (int id = 0; id < OPT_COUNT; ++id) {
        if (!seen[id] || (OPTIONS[id].goesWith & (1u << options->command)) != 0) continue;
        *error = std::string(OPTIONS[id].name) +
                 (options->command == CLI_PATCH ? " goes only with " + CommandOptionsOf(OPTIONS[id].goesWith)
                                                : std::string(" does not go with ") + CommandOptionOf(options->command));
        return false;
    }
    if (seen[OPT_ASPECT] && seen[OPT_NO_WIDESCREEN]) {
        *error = "--aspect and --no-widescreen exclude each other";
        return false;
    }

    options->dir = values[OPT_DIR];
    options->findDir = values[OPT_FIND];
    if (seen[OPT_EXE] && CandidateIndexOf(values[OPT_EXE].c_str()) < 0) {
        *error = RefusedValue("--exe", values[OPT_EXE]);
        return false;
    }
    options->exe = values[OPT_EXE];
    if (seen[OPT_ASPECT]) {
        options->aspect = values[OPT_ASPECT];
        if (!SplitAspect(values[OPT_ASPECT], &options->displayWidth, &options->displayHeight)) {
            *error = RefusedValue("--aspect", values[OPT_ASPECT]);
            return false;
        }
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
    options->force = seen[OPT_FORCE];
    return true;
}
