#include "bounded_text.h"
#include "report_output.h"

#include <cstdio>

#include "console_text.h"
#include "exit_codes.h"
#include "json_text.h"
#include "no_target_report.h"
#include "version.h"
#include "result_text.h"

namespace {

// The window's texts end their lines with CRLF; a terminal and a script want plain ones.
std::string PlainLines(const char* text) {
    std::string lines;
    for (const char* c = text; *c != '\0'; ++c) {
        if (c[0] == '\r' && c[1] == '\n') continue;
        lines += *c;
    }
    return lines;
}

std::string Hex(const uint8_t* bytes, unsigned count, const char* separator) {
    static const char DIGITS[] = "0123456789ABCDEF";
    std::string hex;
    for (unsigned i = 0; i < count; ++i) {
        if (i != 0) hex += separator;
        hex += DIGITS[bytes[i] >> 4];
        hex += DIGITS[bytes[i] & 15];
    }
    return hex;
}

}  // namespace

namespace {

std::string ValueWords(PatchRule rule, uint32_t bits);
std::string RuleValueJson(PatchRule rule, uint32_t bits);

std::string JsonNameOrNull(const char* name) { return name[0] == '\0' ? "null" : JsonString(name); }
const char* JsonBool(bool value) { return value ? "true" : "false"; }

// One member of a report's object on a line of its own: `  "name": value,`. Appended in
// place, which spares the temporary strings of a concatenation per member.
void FieldName(std::string& json, const char* name) {
    json += "  \"";
    json += name;
    json += "\": ";
}
void Field(std::string& json, const char* name, const char* value) {
    FieldName(json, name);
    json += value;
    json += ",\n";
}
void Field(std::string& json, const char* name, const std::string& value) {
    FieldName(json, name);
    json += value;
    json += ",\n";
}

// The copy's name as the run found or spelt it; the game's name with the suffix where the
// run stopped before it knew.
std::string CopyName(const PatchJob& job, const JobReport& report, KeptCopy kind) {
    const char* name = kind == COPY_BAK ? report.backupName : report.originalName;
    return name[0] != '\0' ? std::string(name) : std::string(job.target_name) + KeptCopySuffix(kind);
}

std::string SystemReasonText(unsigned long error) {
    char reason[PATCH_TEXT_SIZE];
    FormatSystemErrorText(error, reason);
    return reason;
}

// The step that failed, in the system's own words: one line the window does not show.
std::string SystemReasonLine(const PatchJob& job, const JobReport& report) {
    if (report.failedStep == STEP_NONE || (report.systemError == 0 && !report.notSafe)) return "";
    const std::string reason = SystemReasonText(report.systemError);
    if (report.notSafe) {
        const std::string copy = report.failedStep == STEP_ORIGINAL ? "The original copy " + CopyName(job, report, COPY_ORIG)
                                                                     : "The backup " + CopyName(job, report, COPY_BAK);
        return copy + ": " + NotYetSafeText(report.systemError);
    }
    switch (report.failedStep) {
    case STEP_ORIGINAL: return "The original copy " + CopyName(job, report, COPY_ORIG) + " could not be written: " + reason;
    case STEP_BACKUP: return "The backup " + CopyName(job, report, COPY_BAK) + " could not be written: " + reason;
    case STEP_WRITE_BACK: return std::string("Writing ") + job.target_name + " failed: " + reason;
    case STEP_NONE: break;
    }
    return "";
}

// What the look at the other processes could not see. Other users' processes matter only
// where one of them could have the game open at all.
std::string UncheckedProcessesLines(const JobReport& report) {
    std::string lines;
    if (report.processView == VIEW_PID_NAMESPACE) {
        lines += "could not check the processes outside this PID namespace for the game: its /proc does not list them\n";
    } else if (report.processView == VIEW_HIDEPID) {
        lines += "could not check the processes of other users for the game: /proc hides them (hidepid)\n";
    }
    if (!report.othersMayOpen || report.processView == VIEW_HIDEPID) return lines;
    if (report.uncheckedProcesses < 0) {
        return lines + "could not check the processes of other users for the game: /proc cannot be read\n";
    }
    if (report.uncheckedProcesses == 0) return lines;
    return lines + "could not check " + std::to_string(report.uncheckedProcesses) +
           " processes of other users for the game\n";
}

// After a stop signal: what each file is now, one line each.
std::string StoppedText(const PatchJob& job, const JobReport& report) {
    std::string text = std::string("\nstopped by ") + StopSignalName() + ":\n";
    text += std::string("  ") + job.target_name + ": " + (report.gameWritten ? "patched" : "not changed") + "\n";
    text += "  " + CopyName(job, report, COPY_ORIG) + ": " +
            (report.originalWritten ? "written" : report.originalExisted ? "already there, left alone" : "not written") + "\n";
    text += "  " + CopyName(job, report, COPY_BAK) + ": " + (report.backupWritten ? "written" : "not changed") + "\n";
    return text;
}

std::string RefusalLines(const char* refusal, const char* hint) {
    if (refusal[0] == '\0') return "";
    return std::string(refusal) + "\n" + (hint[0] != '\0' ? std::string(hint) + "\n" : "");
}

bool AnyCopyWritten(const JobReport& report) { return report.backupWritten || report.originalWritten; }

std::string CopiesText(const PatchJob& job, const JobReport& report) {
    const char* written = report.dryRun ? "would be written" : "written";
    std::string text = "\ncopies:\n";
    text += "  " + CopyName(job, report, COPY_BAK) + ": " + (report.backupWritten ? written : "not written") + "\n";
    text += "  " + CopyName(job, report, COPY_ORIG) + ": ";
    if (report.originalExisted) {
        text += "already there, left alone\n";
    } else if (report.originalWritten) {
        text += std::string(written) +
                (report.originalFrom == ORIGINAL_FROM_BACKUP ? " from " + CopyName(job, report, COPY_BAK) +
                                                                    ", which holds the game unpatched"
                                                              : std::string()) +
                "\n";
    } else if (report.originalNowhere) {
        text += "not written: no file holds the game unpatched\n";
    } else {
        text += "not written\n";
    }
    if (report.previousOriginal[0] != '\0') {
        text += std::string("  the game is a new version: the previous original ") +
                (report.dryRun ? "would be moved to " : "is now ") + report.previousOriginal + "\n";
    }
    return text;
}

std::string JsonError(const JobReport& report) {
    if (report.failedStep == STEP_NONE || report.systemError == 0) return "null";
    char code[32];
    char reason[PATCH_TEXT_SIZE];
    FormatSystemErrorCode(report.systemError, code);
    FormatSystemErrorText(report.systemError, reason);
    return "{\"code\": " + JsonString(code) + ", \"text\": " + JsonString(reason) + "}";
}

std::string JsonTextOrNull(const char* text) { return text[0] == '\0' ? "null" : JsonString(text); }

// Every candidate that is there, with why it would not open; the ones that opened have no
// reason. A name that is missing or a folder is not listed, as the window does not name it.
std::string JsonCandidates(const CandidateFiles& files) {
    std::string json = "[";
    bool first = true;
    for (int i = 0; i < files.count; ++i) {
        const CandidateFile& file = files.files[i];
        const OpenReason reason = file.reason;
        if (reason != OPEN_OK && OpenReasonText(reason)[0] == '\0') continue;
        char path[PATCH_TEXT_SIZE];
        char hint[PATCH_TEXT_SIZE] = {};
        if (HintPathOf(file.name, path)) FormatOpenReasonHint(reason, path, hint);
        json += first ? "\n" : ",\n";
        first = false;
        json += std::string("    {\"name\": ") + JsonString(file.name) +
                ", \"opened\": " + JsonBool(reason == OPEN_OK) + ", \"reason\": " + JsonTextOrNull(OpenReasonText(reason)) +
                ", \"reason_code\": " + JsonTextOrNull(OpenReasonCode(reason)) +
                ", \"hint\": " + JsonTextOrNull(hint) + "}";
    }
    return json + (first ? "]" : "\n  ]");
}

}  // namespace

std::string NotYetSafeText(unsigned long error) {
    return "written, but not yet safe on the disk: " + SystemReasonText(error);
}

std::string PatchReportText(const PatchOutcome& outcome) {
    const PatchJob& job = outcome.job;
    const JobReport& report = outcome.report;
    std::string text;
    // A dry run shows the text a real run would show, "Done" included; it must not read as
    // if something had been done.
    if (report.dryRun) text += "Dry run: nothing was written. A real run would show:\n\n";
    text += PlainLines(outcome.resultText) + "\n";
    const std::string reasonLine = SystemReasonLine(job, report);
    if (!reasonLine.empty()) text += reasonLine + "\n";
    text += RefusalLines(report.refusal, report.refusalHint);
    text += UncheckedProcessesLines(report);
    if (report.folderBusy) return text;
    if (job.target_name[0] == '\0') {
        text += "\n" + NoTargetReport(report.files, report.exe);
        if (outcome.look) {
            std::string lookText = PatchReportText(*outcome.look);
            const std::string header = "Dry run: nothing was written. A real run would show:\n\n";
            if (lookText.compare(0, header.size(), header) == 0) lookText.erase(0, header.size());
            text += std::string("\nRead as it is, without writing, ") + outcome.look->job.target_name +
                    " would take this once it can be written:\n\n" + lookText;
        }
        return text;
    }
    if (!RulesRan(job)) {
        if (AnyCopyWritten(report)) text += CopiesText(job, report);
        return report.stopped ? text + StoppedText(job, report) : text;
    }

    text += "\nrules:\n";
    for (int rule = 0; rule < RULE_COUNT; ++rule) {
        const RuleReport& rr = report.rules[rule];
        text += std::string("  ") + RULE_TABLE[rule].name + ": ";
        if (rr.reason != RULE_USED) {
            text += std::string(RuleReasonText(rr.reason)) + "\n";
            continue;
        }
        text += std::to_string(rr.hits.size()) + (rr.hits.size() == 1 ? " hit" : " hits");
        if (rr.replaced) text += ", replaces " + ValueWords(static_cast<PatchRule>(rule), rr.replacedBits);
        text += "\n";
        size_t listed = 0;
        for (const RuleHit& hit : rr.hits) {
            if (listed == TEXT_HITS_PER_RULE) break;
            char offset[16];
            sprintf_s(offset, "0x%08lX", static_cast<unsigned long>(hit.offset));
            text += std::string("    ") + offset + "  " + Hex(hit.before, hit.length, " ") + " " + ArrowText() + " " +
                    Hex(hit.after, hit.length, " ") + "\n";
            ++listed;
        }
        if (rr.hits.size() > listed) text += std::string("    ") + EllipsisText() + " and " + std::to_string(rr.hits.size() - listed) + " more\n";
    }
    text += CopiesText(job, report);
    return report.stopped ? text + StoppedText(job, report) : text;
}

std::string PatchReportJson(const PatchOutcome& outcome) {
    const PatchJob& job = outcome.job;
    const JobReport& report = outcome.report;
    std::string json = JsonObjectHead();
    Field(json, "target", JsonNameOrNull(job.target_name));
    Field(json, "candidates", JsonCandidates(report.files));
    Field(json, "result_text", JsonString(PlainLines(outcome.resultText)));
    json += "  \"rules\": [";
    if (RulesRan(job)) {
        for (int rule = 0; rule < RULE_COUNT; ++rule) {
            const RuleReport& rr = report.rules[rule];
            json += rule == 0 ? "\n" : ",\n";
            json += std::string("    {\"rule\": \"") + RULE_TABLE[rule].name + "\", \"line\": " +
                    JsonString(job.status[rule]) + ", \"reason\": " +
                    JsonTextOrNull(RuleReasonText(rr.reason)) + ", \"reason_code\": " +
                    JsonTextOrNull(RuleReasonCode(rr.reason)) + ", \"replaces\": " +
                    (rr.replaced ? RuleValueJson(static_cast<PatchRule>(rule), rr.replacedBits) : std::string("null")) +
                    ", \"hits\": [";
            for (size_t i = 0; i < rr.hits.size(); ++i) {
                const RuleHit& hit = rr.hits[i];
                json += (i == 0 ? "" : ", ");
                json += "{\"offset\": " + std::to_string(hit.offset) + ", \"before\": \"" +
                        Hex(hit.before, hit.length, "") + "\", \"after\": \"" + Hex(hit.after, hit.length, "") +
                        "\"}";
            }
            json += "]}";
        }
        json += "\n  ";
    }
    json += "],\n";
    json += "  \"copies\": [";
    if (report.backupWritten) json += JsonString(CopyName(job, report, COPY_BAK));
    if (report.originalWritten) json += std::string(report.backupWritten ? ", " : "") + JsonString(CopyName(job, report, COPY_ORIG));
    json += "],\n";
    Field(json, "orig_existed", JsonBool(report.originalExisted));
    json += std::string("  \"orig_from\": ") +
            (report.originalFrom == ORIGINAL_FROM_GAME     ? JsonString(job.target_name)
             : report.originalFrom == ORIGINAL_FROM_BACKUP ? JsonString(CopyName(job, report, COPY_BAK))
                                                           : std::string("null")) +
            ",\n";
    Field(json, "orig_nowhere", JsonBool(report.originalNowhere));
    Field(json, "previous_orig", JsonNameOrNull(report.previousOriginal));
    Field(json, "error", JsonError(report));
    Field(json, "unchecked_processes", std::to_string(report.uncheckedProcesses));
    Field(json, "dry_run", JsonBool(report.dryRun));
    json += "  \"exit_code\": " + std::to_string(outcome.exitCode) + "\n}\n";
    return json;
}

int RestoreExitCode(const RestoreResult& result) {
    if (result.stopped) return StopExitCode();
    switch (result.outcome) {
        case RESTORE_DONE:
        case RESTORE_ALREADY: return EXIT_DONE;
        case RESTORE_NO_TARGET: return EXIT_NO_TARGET;
        default: return EXIT_FAILED;
    }
}

std::string PatchStoppedText(const PatchOutcome& outcome) { return StoppedText(outcome.job, outcome.report); }

std::string RestoreStoppedText(const RestoreResult& result) {
    const bool restored = result.outcome == RESTORE_DONE || result.outcome == RESTORE_NOT_SAFE;
    std::string text = std::string("\nstopped by ") + StopSignalName() + ":\n";
    if (result.target_name[0] != '\0') {
        text += std::string("  ") + result.target_name + ": " + (restored ? "restored" : "not changed") + "\n";
    }
    if (result.kept_name[0] != '\0') text += std::string("  ") + result.kept_name + ": written\n";
    return text;
}

std::string RestoreReportText(const RestoreResult& result, const char* exe) {
    std::string text = PlainLines(result.text) + "\n";
    text += RefusalLines(result.refusal, result.refusalHint);
    if (result.outcome == RESTORE_NOT_SAFE) {
        text += std::string(result.target_name) + ": " + NotYetSafeText(result.systemError) + "\n";
    }
    if (result.notKept[0] != '\0') text += std::string("not kept from the game it replaced: ") + result.notKept + "\n";
    if (result.outcome == RESTORE_NO_TARGET) text += "\n" + NoTargetReport(result.files, exe);
    return result.stopped ? text + RestoreStoppedText(result) : text;
}

std::string RestoreReportJson(const RestoreResult& result, bool forced) {
    std::string json = JsonObjectHead();
    Field(json, "target", JsonNameOrNull(result.target_name));
    Field(json, "candidates", JsonCandidates(result.files));
    Field(json, "result_text", JsonString(PlainLines(result.text)));
    Field(json, "copy", JsonNameOrNull(result.copy_name));
    // Every kept copy that was read and compared with the target.
    json += "  \"copies_checked\": [";
    bool first = true;
    for (const RestoreCopy& copy : result.copies) {
        if (!copy.checked) continue;
        json += first ? "\n" : ",\n";
        first = false;
        json += "    {\"name\": " + JsonString(copy.name) + ", \"fits\": " + JsonBool(copy.fits) +
                ", \"first_difference\": " + (copy.fits ? std::string("null") : std::to_string(copy.firstDifference)) +
                "}";
    }
    json += first ? "],\n" : "\n  ],\n";
    Field(json, "restored", JsonBool(result.outcome == RESTORE_DONE || result.outcome == RESTORE_NOT_SAFE));
    // What the restored game could not keep of the one it replaced.
    Field(json, "not_kept", JsonTextOrNull(result.notKept));
    Field(json, "forced", JsonBool(forced));
    Field(json, "before_restore", JsonNameOrNull(result.kept_name));
    Field(json, "copy_patched", JsonBool(result.copyPatched));
    json += "  \"rules_kept\": [";
    bool firstKept = true;
    for (int rule = 0; rule < RULE_COUNT; ++rule) {
        if (!result.rulesKept[rule]) continue;
        json += std::string(firstKept ? "" : ", ") + JsonString(RuleOf(static_cast<PatchRule>(rule)).name);
        firstKept = false;
    }
    json += "],\n";
    Field(json, "game_was_missing", JsonBool(result.gameWasMissing));
    json += "  \"exit_code\": " + std::to_string(RestoreExitCode(result)) + "\n}\n";
    return json;
}

std::string ErrorJson(const std::string& error, int exitCode) {
    return JsonObjectHead() + "  \"error\": " + JsonString(error) +
           ",\n  \"exit_code\": " + std::to_string(exitCode) + "\n}\n";
}

std::string VersionJson() {
    return JsonObjectHead() + "  \"version\": \"" VELMORA_PATCH_VERSION
           "\",\n  \"exit_code\": 0\n}\n";
}

std::string HelpJson(const char* help) {
    return JsonObjectHead() + "  \"help\": " + JsonString(help) +
           ",\n  \"exit_code\": 0\n}\n";
}

namespace {

const char* const RULE_STATE_WORDS[] = {"original", "patched", "not found", "unknown"};
const char* const RULE_STATE_CODES[] = {"original", "patched", "not_found", "unknown"};

// The value a patched rule holds, as the player would type it.
std::string TypedValue(PatchRule rule, uint32_t bits) {
    char text[64];
    switch (rule) {
    case RULE_WIDESCREEN: {
        char ratio[16];
        if (AspectNameOfBits(bits, ratio)) return ratio;
        sprintf_s(text, "%.4f", static_cast<double>(AspectOfBits(bits)));
        return text;
    }
    case RULE_CAMERA: return std::to_string(bits);
    case RULE_FOV: {
        const int32_t width = FovWidthOfConstant(static_cast<int32_t>(bits >> 8));
        return width != 0 ? std::to_string(width) : "";
    }
    case RULE_FPS:
    case RULE_COUNT: break;
    }
    return "";
}

// One value in words: "aspect ratio 1.7778 (16:9)", "camera distance 2000", "screen width
// 1920 (FOV constant 1440)", "60 FPS on".
std::string ValueWords(PatchRule rule, uint32_t bits) {
    const RuleRow& row = RuleOf(rule);
    RuleValue shown = {};
    uint32_t stored = 0;
    row.readBack(bits, &shown, &stored);
    char text[64];
    switch (rule) {
    case RULE_WIDESCREEN: {
        sprintf_s(text, "%s %.4f", row.valueWords, static_cast<double>(shown.ratio));
        char ratio[16];
        return AspectNameOfBits(bits, ratio) ? std::string(text) + " (" + ratio + ")" : text;
    }
    case RULE_FOV: {
        const std::string width = TypedValue(rule, bits);
        const std::string constant = std::string(row.valueWords) + " " + std::to_string(shown.whole);
        return width.empty() ? constant : "screen width " + width + " (" + constant + ")";
    }
    case RULE_CAMERA: return std::string(row.valueWords) + " " + std::to_string(shown.whole);
    case RULE_FPS:
    case RULE_COUNT: break;
    }
    return row.valueWords;
}

// The distinct values of a rule's places, in the order the runs wrote them.
std::vector<uint32_t> DistinctValues(const std::vector<RuleWrite>& writes) {
    std::vector<uint32_t> values;
    for (const RuleWrite& write : writes) {
        bool seen = false;
        for (uint32_t value : values) seen = seen || value == write.bits;
        if (!seen) values.push_back(write.bits);
    }
    return values;
}

std::string RuleValueText(PatchRule rule, const RuleStatus& rs) {
    std::string text;
    for (uint32_t bits : DistinctValues(rs.writes)) text += (text.empty() ? "" : " and ") + ValueWords(rule, bits);
    const size_t places = rs.writes.size();
    return text + (places == 1 ? "" : " at " + std::to_string(places) + " places");
}

// The value for scripts: the first place's, as a number (true for a rule without a value).
std::string RuleValueJson(PatchRule rule, uint32_t bits) {
    RuleValue shown = {};
    uint32_t stored = 0;
    RuleOf(rule).readBack(bits, &shown, &stored);
    char text[64];
    switch (rule) {
    case RULE_WIDESCREEN:
        sprintf_s(text, "%.4f", static_cast<double>(shown.ratio));
        return text;
    case RULE_CAMERA:
    case RULE_FOV: return std::to_string(shown.whole);
    case RULE_FPS:
    case RULE_COUNT: break;
    }
    return "true";
}

// Whether the game was explained from the copy: the .bak is not, where the .orig explains it.
bool Compared(const KeptCopies& kept, const CopyCheck& copy) {
    return copy.present && (&copy == &kept.Original() || kept.base != &kept.Original());
}

std::string CopyStateText(const KeptCopies& kept, const CopyCheck& copy, const char* target, uint32_t targetSize) {
    char text[PATCH_TEXT_SIZE * 2];
    if (copy.twin[0] != '\0') return std::string("also there as ") + copy.twin + ": which one is the copy cannot be told";
    if (!copy.exists) return "not there";
    if (copy.notAFile) return "not a file, no copy";
    if (copy.sameFile) return std::string("the same file as ") + target + ", no copy";
    if (copy.unreadable) return "could not be read";
    if (copy.empty) return "empty, no copy";
    std::string held;
    if (&copy == &kept.Backup() && kept.OriginalCopy() == &copy) held = "; it holds the original";
    if (&copy == &kept.Backup() && kept.backupPatched) held = "; it is patched itself";
    if (!Compared(kept, copy)) return "not compared: the original explains the game" + held;
    if (kept.base == &copy) {
        if (copy.model.identical) return "the game holds its bytes" + held;
        return "the game is a patched form of it, " + std::to_string(copy.model.runs) +
               (copy.model.runs == 1 ? " run away" : " runs away") + held;
    }
    if (copy.model.sizesDiffer) {
        sprintf_s(text, "the game is not a patched form of it: the sizes differ (%lu and %lu bytes)",
                  static_cast<unsigned long>(targetSize), static_cast<unsigned long>(copy.size));
    } else {
        sprintf_s(text, "the game is not a patched form of it: byte 0x%lX differs",
                  static_cast<unsigned long>(copy.model.firstUnexplained));
    }
    return text + held;
}

}  // namespace

int StatusExitCode(const StatusOutcome& outcome) {
    if (outcome.targetName[0] == '\0') return EXIT_NO_TARGET;
    return outcome.status.targetRead ? EXIT_DONE : EXIT_FAILED;
}

std::string StatusReportText(const StatusOutcome& outcome) {
    const GameStatus& status = outcome.status;
    const char* name = outcome.targetName;
    if (name[0] == '\0') {
        char text[PATCH_TEXT_SIZE];
        FormatNoTargetText(outcome.candidates, text);
        return PlainLines(text) + "\n\n" + NoTargetReport(outcome.files, outcome.exe);
    }
    if (!status.targetRead) return std::string(name) + " could not be read whole.\n";
    std::string text = std::string(name) + ": " + GameStateWord(status.state) + "\n";
    if (status.copies.newVersion) text += "It fits no kept copy and shows no rule's change: a new version, unpatched.\n";
    text += "\ncopies:\n";
    for (const CopyCheck& copy : status.copies.copies) {
        text += std::string("  ") + copy.name + ": " + CopyStateText(status.copies, copy, name, status.targetSize) + "\n";
    }
    text += "\nrules:\n";
    for (int i = 0; i < RULE_COUNT; ++i) {
        const PatchRule rule = static_cast<PatchRule>(i);
        const RuleStatus& rs = status.rules[rule];
        text += std::string("  ") + RULE_TABLE[rule].name + ": " + RULE_STATE_WORDS[rs.state];
        switch (rs.state) {
        case RULE_STATE_ORIGINAL:
            text += ", " + std::to_string(rs.occurrences) + (rs.occurrences == 1 ? " occurrence" : " occurrences");
            break;
        case RULE_STATE_PATCHED: text += ", " + RuleValueText(rule, rs); break;
        case RULE_STATE_UNKNOWN: text += " (no kept copy explains the game)"; break;
        case RULE_STATE_NOT_FOUND: break;
        }
        text += "\n";
    }
    return text;
}

std::string StatusReportJson(const StatusOutcome& outcome) {
    const GameStatus& status = outcome.status;
    const bool read = outcome.targetName[0] != '\0' && status.targetRead;
    std::string json = JsonObjectHead();
    Field(json, "target", JsonNameOrNull(outcome.targetName));
    Field(json, "candidates", JsonCandidates(outcome.files));
    if (outcome.targetName[0] == '\0') {
        char text[PATCH_TEXT_SIZE];
        FormatNoTargetText(outcome.candidates, text);
        Field(json, "result_text", JsonString(PlainLines(text)));
    } else if (!read) {
        json += "  \"result_text\": " + JsonString(std::string(outcome.targetName) + " could not be read whole.") +
                ",\n";
    }
    Field(json, "state", read ? JsonString(GameStateWord(status.state)) : std::string("null"));
    Field(json, "new_version", JsonBool(read && status.copies.newVersion));
    json += "  \"copies\": [";
    if (read) {
        for (int kind = 0; kind < COPY_KINDS; ++kind) {
            const CopyCheck& copy = status.copies.copies[kind];
            json += kind == 0 ? "\n" : ",\n";
            const bool fits = copy.present && status.copies.base == &copy;
            json += "    {\"name\": " + JsonString(copy.name) + ", \"exists\": " + JsonBool(copy.exists) +
                    ", \"fits\": " + JsonBool(fits) + ", \"usable\": " + JsonBool(copy.present) +
                    ", \"patched_form\": " + JsonBool(fits) + ", \"identical\": " +
                    JsonBool(fits && copy.model.identical) + ", \"first_difference\": " +
                    (Compared(status.copies, copy) && !fits ? std::to_string(copy.model.firstUnexplained)
                         : std::string("null")) +
                    ", \"empty\": " + JsonBool(copy.empty) + ", \"holds_original\": " +
                    JsonBool(status.copies.OriginalCopy() == &copy) + ", \"runs\": " +
                    (fits ? std::to_string(copy.model.runs) : std::string("null")) + ", \"twin\": " +
                    JsonNameOrNull(copy.twin) + "}";
        }
        json += "\n  ";
    }
    json += "],\n";
    json += "  \"rules\": [";
    if (read) {
        for (int i = 0; i < RULE_COUNT; ++i) {
            const PatchRule rule = static_cast<PatchRule>(i);
            const RuleStatus& rs = status.rules[rule];
            json += i == 0 ? "\n" : ",\n";
            json += std::string("    {\"rule\": \"") + RULE_TABLE[rule].name + "\", \"state\": \"" + RULE_STATE_CODES[rs.state] +
                    "\", \"occurrences\": " + std::to_string(rs.occurrences) + ", \"value\": " +
                    (rs.state == RULE_STATE_PATCHED ? RuleValueJson(rule, rs.writes[0].bits) : std::string("null")) +
                    ", \"as_typed\": " + (rs.state == RULE_STATE_PATCHED && !TypedValue(rule, rs.writes[0].bits).empty()
                                               ? JsonString(TypedValue(rule, rs.writes[0].bits))
                                               : std::string("null")) +
                    ", \"places\": " + std::to_string(rs.writes.size()) + "}";
        }
        json += "\n  ";
    }
    json += "],\n";
    json += "  \"exit_code\": " + std::to_string(StatusExitCode(outcome)) + "\n}\n";
    return json;
}
