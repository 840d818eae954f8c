#include "text_report.h"

#include <cstdio>
#include <cstdlib>

#include "cli_runner.h"

namespace {

const char DRY_RUN_NOTE[] = "Dry run: nothing was written. A real run would show:";
const char ARROW[] = " -> ";
const char MORE[] = "    ... and ";

std::string WithoutBlanks(const std::string& text) {
    std::string packed;
    for (const char c : text) {
        if (c != ' ') packed += c;
    }
    return packed;
}

bool StartsWith(const std::string& text, const std::string& start) { return text.compare(0, start.size(), start) == 0; }

bool ParseHit(const std::string& line, TextHit* hit) {
    // "    0x00000100  AB AA AA 3F -> 39 8E E3 3F"
    if (!StartsWith(line, "    0x") || line.size() < 16 || line.compare(14, 2, "  ") != 0) return false;
    char* end = nullptr;
    hit->offset = std::strtoul(line.c_str() + 6, &end, 16);
    if (end != line.c_str() + 14) return false;
    const size_t arrow = line.find(ARROW);
    if (arrow == std::string::npos) return false;
    hit->before = WithoutBlanks(line.substr(16, arrow - 16));
    hit->after = WithoutBlanks(line.substr(arrow + sizeof ARROW - 1));
    return !hit->before.empty() && hit->before.size() == hit->after.size();
}

}  // namespace

bool ParseTextReport(const std::string& text, TextReport* report, std::string* error) {
    *report = TextReport();
    std::vector<std::string> lines = Lines(text);
    size_t i = 0;
    if (i < lines.size() && lines[i] == DRY_RUN_NOTE) {
        report->dryRunNote = true;
        i += 2;
    }
    // The result text runs up to "rules:" after a blank line, or to the end.
    std::vector<std::string> result;
    for (; i < lines.size(); ++i) {
        // Or up to where the folder searched is named, when no target opened.
        if ((lines[i] == "rules:" || StartsWith(lines[i], "Searched ")) && !result.empty() && result.back().empty()) {
            result.pop_back();
            if (lines[i] != "rules:") i = lines.size();
            break;
        }
        result.push_back(lines[i]);
    }
    for (size_t k = 0; k < result.size(); ++k) report->resultText += (k == 0 ? "" : "\n") + result[k];
    if (i == lines.size()) return true;

    ++i;
    std::string current;
    for (; i < lines.size() && !lines[i].empty(); ++i) {
        const std::string& line = lines[i];
        TextHit hit;
        if (ParseHit(line, &hit)) {
            if (current.empty()) return *error = "a hit before any rule: " + line, false;
            report->rules[current].hits.push_back(hit);
        } else if (StartsWith(line, MORE)) {
            if (current.empty()) return *error = "a count before any rule", false;
            report->rules[current].more = std::strtoul(line.c_str() + sizeof MORE - 1, nullptr, 10);
        } else if (StartsWith(line, "  ") && line.find(": ") != std::string::npos) {
            current = line.substr(2, line.find(": ") - 2);
            const std::string rest = line.substr(line.find(": ") + 2);
            TextRule& rule = report->rules[current];
            report->ruleOrder.push_back(current);
            unsigned long count = 0;
            char word[8] = {};
            if (std::sscanf(rest.c_str(), "%lu %7s", &count, word) == 2 &&
                (std::string(word) == "hit" || std::string(word) == "hits")) {
                rule.hitCount = count;
            } else {
                rule.reason = rest;
            }
        } else {
            return *error = "unexpected line in the rules: " + line, false;
        }
    }
    if (i == lines.size()) return *error = "no copies after the rules", false;
    ++i;
    if (i >= lines.size() || lines[i] != "copies:") return *error = "\"copies:\" expected", false;
    for (++i; i < lines.size(); ++i) {
        const std::string& line = lines[i];
        const size_t colon = line.find(": ");
        if (!StartsWith(line, "  ") || colon == std::string::npos) return *error = "bad copy line: " + line, false;
        report->copies[line.substr(2, colon - 2)] = line.substr(colon + 2);
    }
    return true;
}
