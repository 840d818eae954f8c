#include "report_agreement.h"

#include <algorithm>

#include <gtest/gtest.h>

#include "json_value.h"
#include "text_report.h"

void ExpectReportsAgree(const CliRun& text, const CliRun& json, const std::string& label) {
    SCOPED_TRACE(label);
    TextReport report;
    std::string error;
    ASSERT_TRUE(ParseTextReport(text.out, &report, &error)) << error << "\n" << text.out;
    JsonValue value;
    ASSERT_TRUE(ParseJson(json.out, &value, &error)) << error << "\n" << json.out;
    ASSERT_EQ(value.kind, JsonValue::OBJECT);
    for (const char* key : {"target", "result_text", "rules", "copies", "orig_existed", "dry_run", "exit_code"}) {
        EXPECT_TRUE(value.Has(key)) << key;
    }

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
            EXPECT_EQ(rule["reason"].text, told.reason) << NAMES[i];
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
    for (const JsonValue& copy : value["copies"].items) listed.push_back(copy.text);
    std::sort(written.begin(), written.end());
    std::sort(listed.begin(), listed.end());
    EXPECT_EQ(listed, written);
    EXPECT_EQ(value["orig_existed"].boolean, origExisted);
}
