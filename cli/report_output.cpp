#include "bounded_text.h"
#include "report_output.h"

#include <cstdio>

#include "console_platform.h"
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

// After a failed write-back: what the game on the disk holds, read back, stretch by stretch.
std::string GameOnDiskText(const PatchJob& job, const JobReport& report) {
    if (report.gameOnDisk == GAME_ON_DISK_NOT_READ) return "";
    std::string text = std::string(job.target_name) + " on the disk: ";
    switch (report.gameOnDisk) {
    case GAME_AS_IT_WAS: return text + "as it was before this run\n";
    case GAME_FULLY_PATCHED: return text + "fully patched, but perhaps not yet safe on the disk\n";
    case GAME_PARTLY_PATCHED: text += "partly patched\n"; break;
    case GAME_NOT_READ_BACK: text += "could not be read back\n"; break;
    case GAME_ON_DISK_NOT_READ: break;
    }
    for (const WrittenSpan& span : report.spans) {
        char line[96];
        const char* words = span.onDisk == SPAN_AS_BEFORE ? "as before"
                            : span.onDisk == SPAN_PATCHED ? "patched"
                            : span.onDisk == SPAN_PARTLY  ? "partly written"
                                                          : "could not be read back";
        sprintf_s(line, "  0x%08lX, %lu bytes: %s\n", static_cast<unsigned long>(span.offset),
                  static_cast<unsigned long>(span.length), words);
        text += line;
    }
    return text;
}

std::string JsonGameOnDisk(const JobReport& report) {
    if (report.gameOnDisk == GAME_ON_DISK_NOT_READ) return "null";
    std::string json = "{\"state\": " + JsonString(GameOnDiskCode(report.gameOnDisk)) + ", \"spans\": [";
    for (size_t i = 0; i < report.spans.size(); ++i) {
        const WrittenSpan& span = report.spans[i];
        json += std::string(i == 0 ? "" : ", ") + "{\"offset\": " + std::to_string(span.offset) +
                ", \"length\": " + std::to_string(span.length) + ", \"state\": " + JsonString(SpanOnDiskCode(span.onDisk)) + "}";
    }
    return json + "]}";
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

// The system's reason as the error object: its code ("ENOSPC", "WIN32_112") and words.
std::string SystemErrorJson(unsigned long error) {
    char code[32];
    char reason[PATCH_TEXT_SIZE];
    FormatSystemErrorCode(error, code);
    FormatSystemErrorText(error, reason);
    return JsonError(code, reason);
}

const char NO_TARGET_WORDS[] = "no game executable could be opened";

std::string PatchErrorJson(const PatchOutcome& outcome) {
    const JobReport& report = outcome.report;
    if (outcome.exitCode == EXIT_NO_TARGET) return JsonError("no_target", NO_TARGET_WORDS);
    if (report.failedStep != STEP_NONE && report.systemError != 0) return SystemErrorJson(report.systemError);
    if (outcome.exitCode == EXIT_FAILED) {
        const std::string text = PlainLines(outcome.job.failure_text);
        return JsonError("failed", text.empty() ? "nothing was changed" : text);
    }
    return "";
}

// One kept copy, in the one shape that every command prints. What a command did not look
// at is null.
struct CopyJson {
    const char* kind;  // "orig", "bak", "before_restore", "previous_orig"
    std::string name;
    std::string exists = "null", written = "false", from = "null", fits = "null", identical = "null",
                firstDifference = "null", runs = "null", holdsOriginal = "null", problem = "null";
    std::string Text() const {
        return std::string("    {\"kind\": \"") + kind + "\", \"name\": " + JsonString(name) + ", \"exists\": " + exists +
               ", \"written\": " + written + ", \"from\": " + from + ", \"fits\": " + fits +
               ", \"identical\": " + identical + ", \"first_difference\": " + firstDifference + ", \"runs\": " + runs +
               ", \"holds_original\": " + holdsOriginal + ", \"problem\": " + problem + "}";
    }
};

std::string CopiesJson(const std::vector<CopyJson>& copies) {
    std::string json = "[";
    for (size_t i = 0; i < copies.size(); ++i) json += (i == 0 ? "\n" : ",\n") + copies[i].Text();
    return json + (copies.empty() ? "]" : "\n  ]");
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
        json += std::string("    {\"name\": ") + JsonString(file.name) + ", \"reason\": " +
                (reason == OPEN_OK ? std::string("null") : JsonError(OpenReasonCode(reason), OpenReasonText(reason))) +
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
    text += (job.target_name[0] == '\0' ? NoTargetLines(outcome.resultText, report.files)
                                        : PlainLines(outcome.resultText)) +
            "\n";
    const std::string reasonLine = SystemReasonLine(job, report);
    if (!reasonLine.empty()) text += reasonLine + "\n";
    text += GameOnDiskText(job, report);
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
    std::string json = JsonObjectHead("patch");
    Field(json, "candidates", JsonCandidates(report.files));
    Field(json, "result_text", JsonString(job.target_name[0] == '\0' ? NoTargetLines(outcome.resultText, report.files) : PlainLines(outcome.resultText)));
    json += "  \"rules\": [";
    if (RulesRan(job)) {
        for (int rule = 0; rule < RULE_COUNT; ++rule) {
            const RuleReport& rr = report.rules[rule];
            json += rule == 0 ? "\n" : ",\n";
            json += std::string("    {\"rule\": \"") + RULE_TABLE[rule].name + "\", \"line\": " +
                    JsonString(job.status[rule]) + ", \"reason\": " +
                    (rr.reason == RULE_USED ? std::string("null") : JsonError(RuleReasonCode(rr.reason), RuleReasonText(rr.reason))) +
                    ", \"replaces\": " +
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
    std::vector<CopyJson> copies;
    if (job.target_name[0] != '\0') {
        CopyJson backup{"bak", CopyName(job, report, COPY_BAK)};
        backup.written = JsonBool(report.backupWritten);
        if (report.backupWritten) backup.exists = "true";
        copies.push_back(backup);
        CopyJson original{"orig", CopyName(job, report, COPY_ORIG)};
        original.exists = JsonBool(report.originalExisted || report.originalWritten);
        original.written = JsonBool(report.originalWritten);
        if (report.originalFrom == ORIGINAL_FROM_GAME) original.from = JsonString(job.target_name);
        if (report.originalFrom == ORIGINAL_FROM_BACKUP) original.from = JsonString(CopyName(job, report, COPY_BAK));
        if (report.originalNowhere) original.problem = JsonError("no_unpatched_game", "no file holds the game unpatched");
        copies.push_back(original);
        if (report.previousOriginal[0] != '\0') {
            CopyJson previous{"previous_orig", report.previousOriginal};
            previous.exists = "true";
            previous.written = JsonBool(!report.dryRun);
            previous.from = JsonString(CopyName(job, report, COPY_ORIG));
            copies.push_back(previous);
        }
    }
    Field(json, "copies", CopiesJson(copies));
    Field(json, "game_on_disk", JsonGameOnDisk(report));
    Field(json, "unchecked_processes", std::to_string(report.uncheckedProcesses));
    Field(json, "dry_run", JsonBool(report.dryRun));
    return json + JsonObjectTail(console::CurrentFolder(), job.target_name, PatchErrorJson(outcome), outcome.exitCode);
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
    if (result.outcome == RESTORE_NO_TARGET) {
        return NoTargetLines(result.text, result.files) + "\n\n" + NoTargetReport(result.files, exe);
    }
    std::string text = PlainLines(result.text) + "\n";
    text += RefusalLines(result.refusal, result.refusalHint);
    if (result.outcome == RESTORE_NOT_SAFE) {
        text += std::string(result.target_name) + ": " + NotYetSafeText(result.systemError) + "\n";
    } else if (result.systemError != 0) {
        char reason[PATCH_TEXT_SIZE];
        FormatSystemErrorText(result.systemError, reason);
        text += std::string("The system's reason: ") + reason + "\n";
    }
    if (result.notKept[0] != '\0') text += std::string("not kept from the game it replaced: ") + result.notKept + "\n";
    return result.stopped ? text + RestoreStoppedText(result) : text;
}

namespace {

std::string RestoreErrorJson(const RestoreResult& result) {
    if (result.systemError != 0) return SystemErrorJson(result.systemError);
    const std::string text = PlainLines(result.text);
    switch (result.outcome) {
        case RESTORE_DONE:
        case RESTORE_ALREADY: return "";
        case RESTORE_NO_TARGET: return JsonError("no_target", NO_TARGET_WORDS);
        case RESTORE_NO_COPY: return JsonError("no_copy", text);
        case RESTORE_REFUSED: return JsonError("not_a_patched_form", text);
        case RESTORE_NOT_READ: return JsonError("not_read", text);
        case RESTORE_WRITE_FAILED: return JsonError("not_written", text);
        case RESTORE_NOT_SAFE: return JsonError("not_safe", text);
    }
    return "";
}

}  // namespace

std::string RestoreReportJson(const RestoreResult& result, bool forced) {
    std::string json = JsonObjectHead("restore");
    Field(json, "candidates", JsonCandidates(result.files));
    json += "  \"result_text\": " +
            JsonString(result.outcome == RESTORE_NO_TARGET ? NoTargetLines(result.text, result.files)
                                                            : PlainLines(result.text)) +
            ",\n";
    Field(json, "restored_from", JsonNameOrNull(result.copy_name));
    std::vector<CopyJson> copies;
    const char* const KINDS[COPY_KINDS] = {"orig", "bak"};
    for (int kind = 0; kind < COPY_KINDS; ++kind) {
        const RestoreCopy& copy = result.copies[kind];
        if (copy.name[0] == '\0') continue;
        CopyJson shown{KINDS[kind], copy.name};
        const bool there = copy.checked || copy.notAFile || copy.sameFile || copy.empty;
        shown.exists = JsonBool(there);
        if (copy.checked) {
            shown.fits = JsonBool(copy.fits);
            if (!copy.fits) shown.firstDifference = std::to_string(copy.firstDifference);
        }
        if (copy.notAFile) shown.problem = JsonError("not_a_file", "not a file, no copy");
        if (copy.sameFile) shown.problem = JsonError("same_file", std::string("the same file as ") + result.target_name);
        if (copy.empty) shown.problem = JsonError("empty", "empty, no copy");
        copies.push_back(shown);
    }
    if (result.kept_name[0] != '\0') {
        CopyJson kept{"before_restore", result.kept_name};
        kept.exists = "true";
        kept.written = "true";
        kept.from = JsonString(result.target_name);
        copies.push_back(kept);
    }
    Field(json, "copies", CopiesJson(copies));
    Field(json, "restored", JsonBool(result.outcome == RESTORE_DONE || result.outcome == RESTORE_NOT_SAFE));
    // What the restored game could not keep of the one it replaced.
    Field(json, "not_kept", JsonTextOrNull(result.notKept));
    Field(json, "forced", JsonBool(forced));
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
    return json + JsonObjectTail(console::CurrentFolder(), result.target_name, RestoreErrorJson(result),
                                 RestoreExitCode(result));
}

std::string ErrorJson(const char* command, const std::string& code, const std::string& error, int exitCode,
                      const std::string& folder) {
    return JsonObjectHead(command) + JsonObjectTail(folder, "", JsonError(code, error), exitCode);
}

std::string VersionJson() {
    return JsonObjectHead("version") + "  \"version\": \"" VELMORA_PATCH_VERSION "\",\n  \"licence\": " +
           JsonString(VELMORA_LICENCE) + ",\n" + JsonObjectTail("", "", "", EXIT_DONE);
}

std::string HelpJson(const char* help) {
    return JsonObjectHead("help") + "  \"help\": " + JsonString(help) + ",\n" + JsonObjectTail("", "", "", EXIT_DONE);
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
        return NoTargetLines(text, outcome.files) + "\n\n" + NoTargetReport(outcome.files, outcome.exe);
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
    std::string json = JsonObjectHead("status");
    Field(json, "candidates", JsonCandidates(outcome.files));
    std::string error;
    if (outcome.targetName[0] == '\0') {
        char text[PATCH_TEXT_SIZE];
        FormatNoTargetText(outcome.candidates, text);
        Field(json, "result_text", JsonString(NoTargetLines(text, outcome.files)));
        error = JsonError("no_target", NO_TARGET_WORDS);
    } else if (!read) {
        const std::string text = std::string(outcome.targetName) + " could not be read whole.";
        Field(json, "result_text", JsonString(text));
        error = JsonError("not_read", text);
    }
    Field(json, "state", (read ? JsonString(GameStateWord(status.state)) : std::string("null")));
    Field(json, "new_version", JsonBool(read && status.copies.newVersion));
    std::vector<CopyJson> copies;
    if (read) {
        const char* const KINDS[COPY_KINDS] = {"orig", "bak"};
        for (int kind = 0; kind < COPY_KINDS; ++kind) {
            const CopyCheck& copy = status.copies.copies[kind];
            const bool fits = copy.present && status.copies.base == &copy;
            CopyJson shown{KINDS[kind], copy.name};
            shown.exists = JsonBool(copy.exists);
            if (Compared(status.copies, copy)) {
                shown.fits = JsonBool(fits);
                shown.identical = JsonBool(fits && copy.model.identical);
                if (!fits) shown.firstDifference = std::to_string(copy.model.firstUnexplained);
                if (fits) shown.runs = std::to_string(copy.model.runs);
            }
            if (copy.exists) shown.holdsOriginal = JsonBool(status.copies.OriginalCopy() == &copy);
            if (copy.twin[0] != '\0') {
                shown.problem = JsonError("twin", std::string("also there as ") + copy.twin);
            } else if (copy.notAFile) {
                shown.problem = JsonError("not_a_file", "not a file, no copy");
            } else if (copy.sameFile) {
                shown.problem = JsonError("same_file", std::string("the same file as ") + outcome.targetName);
            } else if (copy.unreadable) {
                shown.problem = JsonError("not_read", "could not be read");
            } else if (copy.empty) {
                shown.problem = JsonError("empty", "empty, no copy");
            }
            copies.push_back(shown);
        }
    }
    Field(json, "copies", CopiesJson(copies));
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
    return json + JsonObjectTail(console::CurrentFolder(), outcome.targetName, error, StatusExitCode(outcome));
}
