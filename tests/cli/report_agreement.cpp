#include "report_agreement.h"

#include <algorithm>

#include <gtest/gtest.h>

#include "json_value.h"
#include "text_report.h"

namespace {

// The stable names scripts read, beside the texts people read.
std::string CodeOf(const std::string& reason) {
    static const char* const CODES[][2] = {
        {"in use", "in_use"},
        {"immutable", "immutable"},
        {"read-only", "read_only"},
        {"read-only file system", "read_only_fs"},
        {"permission denied", "permission_denied"},
        {"access denied", "access_denied"},
        {"cannot be opened", "cannot_open"},
        {"switched off", "switched_off"},
        {"no value", "no_value"},
        {"pattern not found", "not_found"},
        {"already patched", "already_patched"},
        {"not for this game", "not_for_this_game"},
    };
    for (const auto& code : CODES) {
        if (reason == code[0]) return code[1];
    }
    return "(no code for \"" + reason + "\")";
}

}  // namespace

// Each "<name>: <reason>" line of the result text is a candidate in the JSON with that
// reason and its code, and the target is the one candidate listed as opened last.
void ExpectCandidatesAsTheTextNamesThem(const JsonValue& value, const std::string& resultText) {
    const JsonValue& candidates = value["candidates"];
    ASSERT_EQ(candidates.kind, JsonValue::ARRAY);
    for (const std::string& line : Lines(resultText)) {
        const size_t colon = line.find(": ");
        if (colon == std::string::npos || line.find(' ') < colon) continue;
        const std::string name = line.substr(0, colon), reason = line.substr(colon + 2);
        bool listed = false;
        for (const JsonValue& candidate : candidates.items) {
            if (candidate["name"].text != name) continue;
            listed = true;
            EXPECT_EQ(candidate["reason"]["text"].text, reason) << name;
            EXPECT_EQ(candidate["reason"]["code"].text, CodeOf(reason)) << name;
        }
        EXPECT_TRUE(listed) << name << " is not among the candidates";
    }
    std::string lastOpened;
    for (const JsonValue& candidate : candidates.items) {
        // The one that opened has no reason.
        if (candidate["reason"].kind == JsonValue::NUL) {
            lastOpened = candidate["name"].text;
        } else {
            EXPECT_EQ(candidate["reason"]["code"].text, CodeOf(candidate["reason"]["text"].text));
        }
    }
    if (value["target"].kind == JsonValue::NUL) {
        EXPECT_EQ(lastOpened, "");
    } else {
        EXPECT_EQ(lastOpened, value["target"].text);
    }
}

void ExpectReportsAgree(const CliRun& text, const CliRun& json, const std::string& label) {
    SCOPED_TRACE(label);
    TextReport report;
    std::string error;
    // A run that found no game tells it on stderr, its last line the complaint.
    std::string told = text.out;
    if (text.exitCode == 3) {
        EXPECT_EQ(text.out, "");
        told = text.err.substr(0, text.err.rfind("velmora-patch: "));
    }
    ASSERT_TRUE(ParseTextReport(told, &report, &error)) << error << "\n" << told;
    JsonValue value;
    ASSERT_TRUE(ParseJson(json.out, &value, &error)) << error << "\n" << json.out;
    ASSERT_EQ(value.kind, JsonValue::OBJECT);
    for (const char* key :
         {"schema", "command", "folder", "target", "error", "candidates", "result_text", "rules", "copies", "dry_run",
          "exit_code"}) {
        EXPECT_TRUE(value.Has(key)) << key;
    }
    EXPECT_EQ(value["schema"].number, 2);
    EXPECT_EQ(value["command"].text, "patch");
    // No game, or a failure, is an error object; a done run has none.
    EXPECT_EQ(value["error"].kind, json.exitCode >= 3 ? JsonValue::OBJECT : JsonValue::NUL) << json.out;
    ExpectCandidatesAsTheTextNamesThem(value, report.resultText);

    EXPECT_EQ(value["exit_code"].number, json.exitCode);
    EXPECT_EQ(json.exitCode, text.exitCode);
    EXPECT_EQ(value["result_text"].text, report.resultText);
    EXPECT_EQ(value["dry_run"].boolean, report.dryRunNote);
    const bool found = report.resultText.compare(0, 5, "Done ") == 0;
    if (found) {
        const std::string name = report.resultText.substr(5, report.resultText.find('!') - 5);
        EXPECT_EQ(value["target"].text, name);
    } else if (report.resultText.compare(0, 21, "No Velmora 2345 files") == 0) {
        EXPECT_EQ(value["target"].kind, JsonValue::NUL);
    }

    const JsonValue& rules = value["rules"];
    ASSERT_EQ(rules.items.size(), report.ruleOrder.size());
    static const char* const NAMES[] = {"widescreen", "camera", "fov", "fps"};
    for (size_t i = 0; i < rules.items.size(); ++i) {
        const JsonValue& rule = rules.items[i];
        ASSERT_EQ(rule["rule"].text, NAMES[i]);
        ASSERT_EQ(report.ruleOrder[i], NAMES[i]);
        const TextRule& told = report.rules[NAMES[i]];
        if (told.reason.empty()) {
            EXPECT_EQ(rule["reason"].kind, JsonValue::NUL) << NAMES[i];
        } else {
            EXPECT_EQ(rule["reason"]["text"].text, told.reason) << NAMES[i];
            EXPECT_EQ(rule["reason"]["code"].text, CodeOf(told.reason)) << NAMES[i];
        }
        // The rule's line is one of the four result lines.
        EXPECT_NE(report.resultText.find("\n" + rule["line"].text), std::string::npos) << rule["line"].text;
        const auto& hits = rule["hits"].items;
        EXPECT_EQ(hits.size(), told.hitCount) << NAMES[i];
        EXPECT_EQ(hits.size(), told.hits.size() + told.more) << NAMES[i];
        for (size_t k = 0; k < told.hits.size() && k < hits.size(); ++k) {
            EXPECT_EQ(hits[k]["offset"].number, told.hits[k].offset);
            EXPECT_EQ(hits[k]["before"].text, told.hits[k].before);
            EXPECT_EQ(hits[k]["after"].text, told.hits[k].after);
        }
    }

    std::vector<std::string> written;
    bool origExisted = false;
    for (const auto& [name, what] : report.copies) {
        if (what == "written" || what == "would be written") written.push_back(name);
        if (what == "already there, left alone") origExisted = true;
    }
    std::vector<std::string> listed;
    bool origLeftAlone = false;
    for (const JsonValue& copy : value["copies"].items) {
        if (copy["written"].boolean) listed.push_back(copy["name"].text);
        if (copy["kind"].text == "orig" && copy["exists"].boolean && !copy["written"].boolean) origLeftAlone = true;
    }
    std::sort(written.begin(), written.end());
    std::sort(listed.begin(), listed.end());
    EXPECT_EQ(listed, written);
    EXPECT_EQ(origLeftAlone, origExisted);
}
