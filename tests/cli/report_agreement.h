#pragma once
// Holds the text report of one run against the JSON report of the same run in an identical
// folder: both must say the same, and the JSON must parse.

#include <string>

#include "cli_runner.h"

void ExpectReportsAgree(const CliRun& text, const CliRun& json, const std::string& label);

struct JsonValue;
// The report's "candidates" against the "<name>: <reason>" lines of its result text.
void ExpectCandidatesAsTheTextNamesThem(const JsonValue& value, const std::string& resultText);
