#include "cli_options.h"

#include <cstring>
#include <vector>

#include "candidate_names.h"
#include "console_platform.h"
#include "shell_text.h"
#include "version.h"

namespace {

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

enum { NO_RULE = -1 };

struct OptionRow {
    const char* name;   // the long name, "--dir"
    char shortName;     // -h; 0 for none
    ValueKind value;
    const char* takes;  // what the value must be, for the errors; null for no value
    CliCommand selects; // the command the option asks for; CLI_PATCH: none
    unsigned goesWith;  // the commands it may be given with
    const char* placeholder;  // the value in the help and the usage lines: "DIR", "[DIR]"
    const char* help;         // its lines in the help, "\n" between them
    int rule = NO_RULE;       // the rule it switches on, or with `off` switches off
    bool off = false;
};

// The options that are no rule's. The rules' own follow --exe, in the order of the rule
// table, each with its option and its off option where it has one.
const OptionRow LEADING_OPTIONS[] = {
    {"--dir", 0, NEEDS_VALUE, "a folder", CLI_PATCH, WITH_PATCH | WITH_RESTORE | WITH_STATUS, "DIR",
     "the game folder (default: the current folder)"},
    {"--exe", 0, NEEDS_VALUE, "one of Vlmr2.exe, v2plus.exe, vlmr3.exe, vm3plus.exe, vlmr4.exe, PCVlmr5.exe",
     CLI_PATCH, WITH_PATCH | WITH_RESTORE | WITH_STATUS, "NAME",
     "open only this one of the game's executables (any case)"},
};
const OptionRow TRAILING_OPTIONS[] = {
    {"--dry-run", 0, NO_VALUE, nullptr, CLI_PATCH, WITH_PATCH, nullptr,
     "read the game and report what a run would do; write nothing"},
    {"--json", 0, NO_VALUE, nullptr, CLI_PATCH, WITH_PATCH | WITH_RESTORE | WITH_FIND | WITH_STATUS, nullptr,
     "print one JSON object instead of the text, errors included"},
    {"--restore", 0, NO_VALUE, nullptr, CLI_RESTORE, WITH_RESTORE, nullptr,
     "put back <name>.orig, or else <name>.bak, whichever the game\n"
     "is a patched form of; refused when it is neither (an update)"},
    {"--force", 0, NO_VALUE, nullptr, CLI_PATCH, WITH_RESTORE, nullptr,
     "restore even then; the executable is first kept as\n<name>.before-restore"},
    {"--status", 0, NO_VALUE, nullptr, CLI_STATUS, WITH_STATUS, nullptr,
     "show whether the game is patched, and how; write nothing"},
    {"--find", 0, OPTIONAL_VALUE, "a folder", CLI_FIND, WITH_FIND, "[DIR]",
     "list the game folders of Steam, the launchers, ~/Games (2\n"
     "levels down) and the Wine prefixes, 5 levels into each\n"
     "game folder and drive_c, or 6 below DIR (a Steam library\n"
     "there searched as one), with executable and state"},
    {"--help", 'h', NO_VALUE, nullptr, CLI_HELP, WITH_ANY, nullptr, "show this help"},
    {"--version", 'V', NO_VALUE, nullptr, CLI_VERSION, WITH_ANY, nullptr, "show the version"},
};

// The whole table: the leading options, each rule's, the trailing ones. Made on each call:
// a kept one would need a guarded static, which brings in the runtime's threads.
std::vector<OptionRow> Options() {
    std::vector<OptionRow> options;
    for (const OptionRow& row : LEADING_OPTIONS) options.push_back(row);
    for (int rule = 0; rule < RULE_COUNT; ++rule) {
        const RuleRow& r = RULE_TABLE[rule];
        OptionRow on = {r.option, 0, r.kind == VALUE_NONE ? NO_VALUE : NEEDS_VALUE, r.takes, CLI_PATCH, WITH_PATCH,
                        r.placeholder, r.help};
        on.rule = rule;
        options.push_back(on);
        if (r.offOption == nullptr) continue;
        OptionRow off = {r.offOption, 0, NO_VALUE, nullptr, CLI_PATCH, WITH_PATCH, nullptr, r.offHelp};
        off.rule = rule;
        off.off = true;
        options.push_back(off);
    }
    for (const OptionRow& row : TRAILING_OPTIONS) options.push_back(row);
    return options;
}

int IdOf(const char* name) {
    const std::vector<OptionRow> rows = Options();
    for (size_t id = 0; id < rows.size(); ++id) {
        if (std::strcmp(rows[id].name, name) == 0) return static_cast<int>(id);
    }
    return -1;
}

int FindOption(const std::string& name) {
    const std::vector<OptionRow> rows = Options();
    for (int id = 0; id < static_cast<int>(rows.size()); ++id) {
        const OptionRow& row = rows[id];
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

// "--restore" or "--restore or --status": the options that ask for one of `commands`.
std::string CommandOptionsOf(unsigned commands) {
    std::string names;
    for (const OptionRow& row : Options()) {
        if (row.selects == CLI_PATCH || row.selects == CLI_HELP || row.selects == CLI_VERSION) continue;
        if ((commands & (1u << row.selects)) == 0) continue;
        names += (names.empty() ? "" : " or ") + std::string(row.name);
    }
    return names;
}

const char* CommandOptionOf(CliCommand command) {
    for (const OptionRow& row : Options()) {
        if (row.selects == command) return row.name;
    }
    return "";
}

}  // namespace

std::string RefusedValue(const char* option, const std::string& value) {
    const int id = FindOption(option);
    const std::vector<OptionRow> rows = Options();
    const char* takes = id >= 0 && rows[id].takes != nullptr ? rows[id].takes : "a value it takes";
    return std::string(option) + ": " + QuotedPath(value) + " is not " + takes;
}

namespace {

// The edits that turn one name into the other (letters put in, left out, changed or two
// swapped): a name one or two edits away is most likely that option mistyped.
size_t EditDistance(const std::string& a, const std::string& b) {
    std::vector<std::vector<size_t>> d(a.size() + 1, std::vector<size_t>(b.size() + 1));
    for (size_t i = 0; i <= a.size(); ++i) d[i][0] = i;
    for (size_t j = 0; j <= b.size(); ++j) d[0][j] = j;
    for (size_t i = 1; i <= a.size(); ++i) {
        for (size_t j = 1; j <= b.size(); ++j) {
            size_t best = std::min(d[i - 1][j] + 1, d[i][j - 1] + 1);
            best = std::min(best, d[i - 1][j - 1] + (a[i - 1] == b[j - 1] ? 0 : 1));
            if (i > 1 && j > 1 && a[i - 1] == b[j - 2] && a[i - 2] == b[j - 1]) best = std::min(best, d[i - 2][j - 2] + 1);
            d[i][j] = best;
        }
    }
    return d[a.size()][b.size()];
}

enum { AMBIGUOUS = -2 };

// The row of a name as given: the whole name, a short one, or a long one's unique
// beginning ("--rest" for --restore). -1 for none, AMBIGUOUS for the beginning of several.
int ResolveOption(const std::vector<OptionRow>& rows, const std::string& name, std::string* candidates) {
    const int exact = FindOption(name);
    if (exact >= 0) return exact;
    if (name.size() < 3 || name.compare(0, 2, "--") != 0) return -1;
    int found = -1;
    for (int id = 0; id < static_cast<int>(rows.size()); ++id) {
        if (std::strncmp(rows[id].name, name.c_str(), name.size()) != 0) continue;
        *candidates += (candidates->empty() ? "" : ", ") + std::string(rows[id].name);
        found = found == -1 ? id : AMBIGUOUS;
    }
    return found;
}

// "; did you mean --dir?" for a name one or two edits from an option's, else nothing.
std::string NearMiss(const std::vector<OptionRow>& rows, const std::string& name) {
    const OptionRow* nearest = nullptr;
    size_t best = 3;
    for (const OptionRow& row : rows) {
        const size_t distance = EditDistance(name, row.name);
        if (distance < best) {
            best = distance;
            nearest = &row;
        }
    }
    return nearest != nullptr && best * 3 <= std::strlen(nearest->name) ? std::string("; did you mean ") + nearest->name + "?"
                                                                        : "";
}

// Whether the argument after an option that needs a value is rather the next option, its
// value forgotten: a long option, or one of the short ones. Anything else is taken as the
// value ("--camera -5" is then refused as a number, "--dir -x" names the folder "-x").
bool IsOptionNotValue(const std::string& argument) {
    return argument.compare(0, 2, "--") == 0 || FindOption(argument) >= 0;
}

}  // namespace

bool ParseArguments(int argc, const char* const* argv, CliOptions* options, std::string* error, const char** code) {
    *options = CliOptions();
    const char* ignoredCode = nullptr;
    if (code == nullptr) code = &ignoredCode;
    *code = nullptr;

    const std::vector<OptionRow> rows = Options();
    const int rowCount = static_cast<int>(rows.size());
    const int jsonId = IdOf("--json");
    // --json first, in any spelling, so that even a refusal of what comes before it is
    // printed as JSON.
    for (int i = 0; i < argc && std::strcmp(argv[i], "--") != 0; ++i) {
        const std::string argument = argv[i];
        std::string ignored;
        if (argument.compare(0, 2, "--") == 0 &&
            ResolveOption(rows, argument.substr(0, argument.find('=')), &ignored) == jsonId) {
            options->json = true;
        }
    }

    std::vector<char> seen(rowCount, 0);
    std::vector<std::string> values(rowCount);
    bool optionsEnded = false;
    // The first thing wrong on the line; the scan goes on, as --help and --version answer
    // even a line that holds a mistake.
    std::string firstError;
    const char* firstCode = nullptr;
    auto refuse = [&](const char* what, const std::string& text) {
        if (firstCode != nullptr) return;
        firstCode = what;
        firstError = text;
    };
    for (int i = 0; i < argc; ++i) {
        std::string argument = argv[i];
        if (!optionsEnded && argument == "--") {
            optionsEnded = true;
            continue;
        }
        if (!optionsEnded && argument == console::HELP_SPELLING) argument = "--help";
        if (optionsEnded || !LooksLikeOption(argument)) {
            refuse("unexpected_argument", "unexpected argument " + QuotedPath(argument));
            continue;
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
        std::string candidates;
        const int id = ResolveOption(rows, name, &candidates);
        if (id == AMBIGUOUS) {
            refuse("ambiguous_option", "option " + QuotedPath(name) + " is ambiguous: it could be " + candidates);
            continue;
        }
        if (id < 0) {
            refuse("unknown_option", "unknown option " + QuotedPath(name) + NearMiss(rows, name));
            continue;
        }
        const OptionRow& row = rows[id];
        // Given again, the last one counts, as in other tools; a switch twice is once.
        seen[id] = true;
        if (row.value == NO_VALUE) {
            if (hasInlineValue) refuse("value_not_taken", std::string(row.name) + " takes no value");
            continue;
        }
        if (!hasInlineValue) {
            const bool nextIsValue = i + 1 < argc && !(row.value == OPTIONAL_VALUE ? LooksLikeOption(argv[i + 1])
                                                                                    : IsOptionNotValue(argv[i + 1]));
            if (nextIsValue) {
                value = argv[++i];
            } else if (row.value == NEEDS_VALUE) {
                refuse("missing_value", std::string(row.name) + " needs a value: " + row.takes);
                continue;
            }
        }
        if ((row.value == NEEDS_VALUE || hasInlineValue) && IsBlankText(value)) {
            refuse("bad_value", RefusedValue(row.name, value));
            continue;
        }
        values[id] = value;
    }

    // --help and --version answer whatever else is on the line.
    for (const CliCommand command : {CLI_HELP, CLI_VERSION}) {
        if (seen[IdOf(CommandOptionOf(command))]) {
            options->command = command;
            return true;
        }
    }
    if (firstCode != nullptr) {
        *code = firstCode;
        *error = firstError;
        return false;
    }

    options->command = CLI_PATCH;
    int commandOption = -1;
    for (int id = 0; id < rowCount; ++id) {
        if (!seen[id] || rows[id].selects == CLI_PATCH) continue;
        if (commandOption >= 0) {
            *code = "excluded_options";
            *error = std::string(rows[commandOption].name) + " and " + rows[id].name + " exclude each other";
            return false;
        }
        commandOption = id;
        options->command = rows[id].selects;
    }
    for (int id = 0; id < rowCount; ++id) {
        if (!seen[id] || (rows[id].goesWith & (1u << options->command)) != 0) continue;
        *code = "not_with_command";
        *error = std::string(rows[id].name) +
                 (options->command == CLI_PATCH ? " goes only with " + CommandOptionsOf(rows[id].goesWith)
                                                : std::string(" does not go with ") + CommandOptionOf(options->command));
        return false;
    }
    // A rule's option and its off option.
    for (int id = 0; id < rowCount; ++id) {
        if (!seen[id] || !rows[id].off) continue;
        const int onId = IdOf(RULE_TABLE[rows[id].rule].option);
        if (seen[onId]) {
            *code = "excluded_options";
            *error = std::string(rows[onId].name) + " and " + rows[id].name + " exclude each other";
            return false;
        }
    }

    const int dirId = IdOf("--dir"), exeId = IdOf("--exe");
    options->dir = values[dirId];
    options->findDir = values[IdOf("--find")];
    if (seen[exeId] && CandidateIndexOf(values[exeId].c_str()) < 0) {
        *code = "bad_value";
        *error = RefusedValue("--exe", values[exeId]);
        return false;
    }
    options->exe = values[exeId];
    // The window's fields keep their texts when a rule is off; so do these.
    for (int id = 0; id < rowCount; ++id) {
        const OptionRow& row = rows[id];
        if (row.rule == NO_RULE || !seen[id]) continue;
        options->ruleOn[row.rule] = !row.off;
        if (row.off || row.value == NO_VALUE) continue;
        std::string width, height;
        if (RULE_TABLE[row.rule].kind == VALUE_RATIO && !SplitRatio(values[id], &width, &height)) {
            *code = "bad_value";
            *error = RefusedValue(row.name, values[id]);
            return false;
        }
        options->ruleValue[row.rule] = values[id];
    }
    options->dryRun = seen[IdOf("--dry-run")];
    if (options->command == CLI_PATCH) {
        bool anyOn = false;
        for (int rule = 0; rule < RULE_COUNT; ++rule) anyOn = anyOn || options->ruleOn[rule];
        if (!anyOn) {
            *code = "nothing_to_do";
            *error = "nothing to do: switch on at least one feature";
            return false;
        }
    }
    options->force = seen[IdOf("--force")];
    return true;
}

namespace {

// One line of the help: the option, its value, and its help text, its later lines under
// the first.
std::string HelpLines(const std::string& option, const char* help) {
    static const size_t COLUMN = 19;
    std::string text = "  " + option;
    text += std::string(text.size() + 2 > COLUMN ? 2 : COLUMN - text.size(), ' ');
    for (const char* c = help; *c != '\0'; ++c) {
        text += *c;
        if (*c == '\n') text += std::string(COLUMN, ' ');
    }
    return text + "\n";
}

std::string Spelt(const OptionRow& row) {
    std::string name = row.name;
    if (row.shortName != 0) name = std::string("-") + row.shortName + ", " + name;
    return row.placeholder != nullptr ? name + " " + row.placeholder : name;
}

bool GoesWithEveryCommand(const OptionRow& row) {
    const unsigned every = WITH_PATCH | WITH_RESTORE | WITH_FIND | WITH_STATUS;
    return (row.goesWith & every) == every;
}

// The usage line of one command: the option that asks for it, then every option it goes
// with, the rules' as FEATURE, and last those that every command takes.
std::string UsageLineOf(CliCommand command) {
    std::string line = "velmora-patch";
    for (const OptionRow& row : Options()) {
        if (row.selects == command && command != CLI_PATCH) line += " " + Spelt(row);
    }
    bool features = false;
    for (const bool everyCommand : {false, true}) {
        for (const OptionRow& row : Options()) {
            if (row.selects != CLI_PATCH || row.goesWith == WITH_ANY || (row.goesWith & (1u << command)) == 0 ||
                GoesWithEveryCommand(row) != everyCommand) {
                continue;
            }
            if (row.rule == NO_RULE) {
                line += " [" + Spelt(row) + "]";
            } else if (!features) {
                line += " [FEATURE...]";
                features = true;
            }
        }
    }
    return line + "\n";
}

}  // namespace

CliOptions::CliOptions() {
    for (int rule = 0; rule < RULE_COUNT; ++rule) {
        ruleOn[rule] = RULE_TABLE[rule].onByDefault;
        if (RULE_TABLE[rule].defaultValue != nullptr) ruleValue[rule] = RULE_TABLE[rule].defaultValue;
    }
}

bool SplitRatio(const std::string& text, std::string* width, std::string* height) {
    const size_t at = text.find_first_of(":xX");
    if (at == std::string::npos || text.find_first_of(":xX", at + 1) != std::string::npos) return false;
    *width = text.substr(0, at);
    *height = text.substr(at + 1);
    return !IsBlankText(*width) && !IsBlankText(*height);
}

// In the form help2man reads.
std::string UsageLines() {
    std::string usage;
    for (const CliCommand command : {CLI_PATCH, CLI_RESTORE, CLI_STATUS, CLI_FIND}) {
        usage += (usage.empty() ? "Usage: " : "  or:  ") + UsageLineOf(command);
    }
    std::string answers;
    for (const OptionRow& row : Options()) {
        if (row.selects != CLI_HELP && row.selects != CLI_VERSION) continue;
        if (row.shortName != 0) answers += std::string(answers.empty() ? "" : " | ") + "-" + row.shortName;
        answers += std::string(answers.empty() ? "" : " | ") + row.name;
    }
    return usage + "  or:  velmora-patch " + answers + "\n";
}

// At most 79 columns a line: an 80-column terminal would otherwise break them itself.
std::string HelpText() {
    std::string features, options;
    for (const OptionRow& row : Options()) {
        (row.rule != NO_RULE ? features : options) += HelpLines(Spelt(row), row.help);
    }
    return UsageLines() +
           "Patches the executable of a Velmora 2345 game in place, as the Widescreen\n"
           "Velmora 2345 window does, and says what it changed and why not.\n"
           "\n"
           "With no option it does in the current folder what Apply does with the window's\n"
           "defaults: widescreen 16:9 on, the other three features off. Each feature given\n"
           "is switched on.\n"
           "\n"
           "Features:\n" +
           features +
           "\n"
           "Options:\n" +
           options + HelpLines("--", "end of the options") +
           "\n"
           "The first run keeps the original as <name>.orig, which undoes every change;\n"
           "each run keeps the contents it found as <name>.bak, which undoes the last run.\n"
           "\n"
           "Exit codes:\n"
           "  0  done, and every rule asked for found its pattern or was already patched\n"
           "  1  done, but a rule that was asked for found nothing\n"
           "  2  usage error or refused value; nothing touched\n"
           "  3  no target, with the reasons\n"
           "  4  failure: nothing changed, a refused restore, or a failed write-back\n"
           "     (then the .bak message)\n"
           "  5  done, but the report could not be written\n"
           "  130  stopped by Ctrl-C, SIGTERM or SIGHUP after the step it was in\n"
           "When the report cannot be written, the code is the job's own, or 5 when the\n"
           "run changed the game or its copies.\n";
}
