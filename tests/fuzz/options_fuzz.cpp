// velmora-patch's command line, as a script could build it: the input split at its zero
// bytes into at most 64 arguments. Each run either gives a job, or a usage error with exit
// code 2, never a crash:
// - a refusal is one line that names what is wrong, with every byte from the line quoted
//   (no control character, and in plain ASCII unless the output is UTF-8), and with --json
//   one well-formed object with that error and "exit_code": 2;
// - a patch job carries only values the engine can write: for each rule switched on, a
//   value within its row's range (or "no value" where --fov undef asks for it);
// - the same line read twice gives the same result.

#include <cmath>
#include <cstring>
#include <string>
#include <vector>

#include "cli_options.h"
#include "console_text.h"
#include "exit_codes.h"
#include "fuzz_check.h"
#include "json_value.h"
#include "patch_command.h"
#include "report_output.h"

namespace {

// Whether `text` is well-formed UTF-8 without a C0 or C1 control character or DEL; in
// plain ASCII mode, printable ASCII only.
bool IsOneCleanLine(const std::string& text, bool utf8) {
    for (size_t at = 0; at < text.size();) {
        const unsigned char lead = static_cast<unsigned char>(text[at]);
        if (lead < 0x80) {
            if (lead < 0x20 || lead == 0x7F) return false;
            ++at;
            continue;
        }
        if (!utf8) return false;
        const size_t length = lead >= 0xC2 && lead <= 0xDF ? 2 : lead >= 0xE0 && lead <= 0xEF ? 3
                              : lead >= 0xF0 && lead <= 0xF4 ? 4 : 0;
        if (length == 0 || at + length > text.size()) return false;
        unsigned long code = lead & (0xFF >> (length + 1));
        for (size_t i = 1; i < length; ++i) {
            const unsigned char next = static_cast<unsigned char>(text[at + i]);
            if ((next & 0xC0) != 0x80) return false;
            code = code << 6 | (next & 0x3F);
        }
        const unsigned long least[] = {0, 0, 0x80, 0x800, 0x10000};
        if (code < least[length] || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF)) return false;
        if (code < 0xA0) return false;  // C1 controls
        at += length;
    }
    return true;
}

void ExpectUsageError(const std::string& error, bool utf8) {
    FuzzExpect(!error.empty(), "a usage error without a line");
    if (!IsOneCleanLine(error, utf8)) FuzzFailed("the usage error is not one clean line: " + error);
    JsonValue json;
    std::string why;
    if (!ParseJson(ErrorJson(error, EXIT_USAGE), &json, &why)) FuzzFailed("the usage error's JSON is broken: " + why);
    FuzzExpect(json.kind == JsonValue::OBJECT && json.Has("error") && json["error"].kind == JsonValue::STRING &&
                   !json["error"].text.empty(),
               "the usage error's JSON has no error text");
    FuzzExpect(json.Has("exit_code") && json["exit_code"].number == EXIT_USAGE, "the usage error's JSON has no code 2");
    if (!utf8) FuzzExpect(json["error"].text == error, "the usage error's JSON says something else");
}

bool SameOptions(const CliOptions& a, const CliOptions& b) {
    for (int rule = 0; rule < RULE_COUNT; ++rule) {
        if (a.ruleOn[rule] != b.ruleOn[rule] || a.ruleValue[rule] != b.ruleValue[rule]) return false;
    }
    return a.command == b.command && a.dir == b.dir && a.exe == b.exe && a.findDir == b.findDir &&
           a.dryRun == b.dryRun && a.json == b.json && a.force == b.force;
}

// A switched-on rule holds a value its row takes, or "no value" where the row allows it
// (--fov undef): the rules never write garbage into the game.
void ExpectJobOrRefusal(const CliOptions& options, bool utf8) {
    PatchOutcome outcome;
    std::string refusal;
    if (!PrepareJob(options, &outcome, &refusal)) {
        ExpectUsageError(refusal, utf8);
        return;
    }
    for (int rule = 0; rule < RULE_COUNT; ++rule) {
        const RuleRequest& request = outcome.job.requests[rule];
        const RuleRow& row = RULE_TABLE[rule];
        FuzzExpect(request.on == options.ruleOn[rule] && outcome.asked[rule] == options.ruleOn[rule],
                   "the job asks for other rules than the line");
        if (!request.on) continue;
        if (row.kind == VALUE_RATIO) {
            FuzzExpect(std::isfinite(request.value.ratio) && request.value.ratio > 0.0f,
                       "a switched-on ratio rule without a ratio above zero");
        } else if (row.kind == VALUE_WHOLE) {
            // The job may hold a value in the bits the rule writes (the camera's 65535 as
            // the 16-bit -1): what counts is that its row's encoder takes it.
            uint32_t bits = 0;
            const bool undef = rule == RULE_FOV && request.value.whole == 0;
            FuzzExpect(undef || row.encode(request.value, &bits), "a switched-on rule with no value to write");
            FuzzExpect(request.value.whole <= static_cast<int64_t>(row.maximum),
                       "a switched-on rule with a value beyond its row's");
        }
    }
}

void Check(const std::vector<const char*>& argv, bool utf8) {
    SetUtf8Output(utf8);
    const int argc = static_cast<int>(argv.size());
    CliOptions options, again;
    std::string error, errorAgain;
    const bool parsed = ParseArguments(argc, argv.data(), &options, &error);
    const bool parsedAgain = ParseArguments(argc, argv.data(), &again, &errorAgain);
    FuzzExpect(parsed == parsedAgain && error == errorAgain && SameOptions(options, again),
               "the same line read twice gives two results");
    if (!parsed) {
        ExpectUsageError(error, utf8);
        return;
    }
    FuzzExpect(options.command >= CLI_PATCH && options.command < CLI_COMMAND_COUNT, "a command beyond the commands");
    if (options.command == CLI_PATCH) ExpectJobOrRefusal(options, utf8);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // Every argument ends at a zero byte or at the end of the input.
    std::vector<std::string> arguments;
    const char* text = reinterpret_cast<const char*>(data);
    for (size_t at = 0; at < size && arguments.size() < 64;) {
        const void* zero = std::memchr(text + at, 0, size - at);
        const size_t end = zero != nullptr ? static_cast<size_t>(static_cast<const char*>(zero) - text) : size;
        arguments.emplace_back(text + at, end - at);
        at = end + 1;
    }
    std::vector<const char*> argv;
    for (const std::string& argument : arguments) argv.push_back(argument.c_str());
    for (bool utf8 : {false, true}) Check(argv, utf8);
    SetUtf8Output(false);
    return 0;
}
