#pragma once
// The text report of velmora-patch read back into its parts, so that it can be held against
// the JSON report and against the files.

#include <map>
#include <string>
#include <vector>

struct TextHit {
    unsigned long offset;
    std::string before, after;  // hex without blanks, as in the JSON report
};

struct TextRule {
    std::string reason;  // empty when it was used
    size_t hitCount = 0;  // as the rule's line says
    std::vector<TextHit> hits;  // the listed ones
    size_t more = 0;  // from "... and N more"
};

struct TextReport {
    bool dryRunNote = false;
    std::string resultText;  // its lines joined with '\n'
    std::map<std::string, TextRule> rules;  // by rule name; empty when the rules did not run
    std::vector<std::string> ruleOrder;
    std::map<std::string, std::string> copies;  // name -> what happened to it
};

// False with `error` when the text does not have the report's form.
bool ParseTextReport(const std::string& text, TextReport* report, std::string* error);
