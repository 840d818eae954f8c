// Every row of the rule table, whatever rule it describes: its pattern planted in filler is
// rewritten within its span only, the value reads back, the exact check explains the
// result, and its options parse and are in the help. A new row is tested as it is added.

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "cli_options.h"
#include "patch_rules.h"
#include "game_model.h"
#include "patch_state.h"
#include "rule_table.h"

namespace {

typedef std::vector<uint8_t> Bytes;

const uint32_t FILLER_SIZE = 256;
// Two occurrences, far enough apart that neither write can reach the other.
const uint32_t FIRST_AT = 40, SECOND_AT = 170;

// NOP filler, which holds no rule's pattern, with the pattern planted twice; its wildcard
// bytes hold values of their own, which no write may touch.
Bytes Planted(const RuleRow& row) {
    Bytes image(FILLER_SIZE, 0x90);
    for (const uint32_t at : {FIRST_AT, SECOND_AT}) {
        for (uint32_t i = 0; i < row.pattern.length; ++i) {
            image[at + i] = row.pattern.fixed[i] ? row.pattern.bytes[i] : static_cast<uint8_t>(0x30 + at + i);
        }
    }
    return image;
}

// A value of the row's kind that every rule takes and that changes its bytes.
RuleValue SampleValue(const RuleRow& row) {
    RuleValue value = {};
    if (row.kind == VALUE_RATIO) value.ratio = 16.0f / 9.0f;
    if (row.kind == VALUE_WHOLE) value.whole = static_cast<int32_t>(row.maximum / 2 + 1);
    return value;
}

std::string SampleText(const RuleRow& row) {
    if (row.kind == VALUE_RATIO) return "16:9";
    return std::to_string(SampleValue(row).whole);
}

// The first game the rule may run on, and the first it may not (-1 when it runs on all).
int CandidateWhere(PatchRule rule, bool allowed) {
    for (int candidate = 0; candidate < TARGET_CANDIDATE_COUNT; ++candidate) {
        if (RuleMayRunOn(rule, candidate) == allowed) return candidate;
    }
    return -1;
}

bool Parse(const std::vector<const char*>& args, CliOptions* options, std::string* error) {
    return ParseArguments(static_cast<int>(args.size()), args.data(), options, error);
}

class EveryRule : public ::testing::TestWithParam<int> {
protected:
    PatchRule rule() const { return static_cast<PatchRule>(GetParam()); }
    const RuleRow& row() const { return RULE_TABLE[GetParam()]; }
};

TEST_P(EveryRule, RewritesOnlyItsSpanOfTheHitsItTakes) {
    const Bytes original = Planted(row());
    Bytes image = original;
    uint32_t bits = 0;
    ASSERT_TRUE(row().encode(SampleValue(row()), &bits));
    ASSERT_TRUE(RunRule(rule(), image.data(), FILLER_SIZE, bits));

    for (uint32_t at = 0; at < FILLER_SIZE; ++at) {
        bool inSpan = false;
        for (const uint32_t hit : {FIRST_AT, SECOND_AT}) {
            if (hit == SECOND_AT && row().firstHitOnly) continue;
            inSpan = inSpan || (at >= hit + row().span.offset && at < hit + row().span.offset + row().span.length);
        }
        if (!inSpan) {
            EXPECT_EQ(image[at], original[at]) << "byte " << at << " outside the span changed";
        }
    }
    // The span holds the encoded value, least significant byte first.
    EXPECT_EQ(ReadSpan(image.data() + FIRST_AT, row()), bits);
    EXPECT_NE(std::memcmp(image.data() + FIRST_AT, original.data() + FIRST_AT, row().pattern.length), 0)
        << "the sample value changes nothing";
    EXPECT_EQ(std::memcmp(image.data() + SECOND_AT, original.data() + SECOND_AT, row().pattern.length) != 0,
              !row().firstHitOnly);
    // The fast scan and the reference agree.
    Bytes literal = original;
    RunRule(rule(), literal.data(), FILLER_SIZE, bits, SCAN_LITERAL);
    EXPECT_EQ(literal, image);
}

TEST_P(EveryRule, ReadsBackWhatItWrote) {
    Bytes image = Planted(row());
    uint32_t bits = 0;
    ASSERT_TRUE(row().encode(SampleValue(row()), &bits));
    RunRule(rule(), image.data(), FILLER_SIZE, bits);

    RuleValue shown = {};
    uint32_t again = 0;
    ASSERT_TRUE(row().readBack(ReadSpan(image.data() + FIRST_AT, row()), &shown, &again));
    EXPECT_EQ(again, bits);
    if (row().kind == VALUE_RATIO) {
        EXPECT_EQ(shown.ratio, SampleValue(row()).ratio);
    }
    if (row().kind == VALUE_WHOLE) {
        EXPECT_NE(shown.whole, 0);
    }
    // "No value" runs nothing.
    if (row().kind != VALUE_NONE) {
        Bytes untouched = Planted(row());
        EXPECT_FALSE(RunRuleWithValue(rule(), untouched.data(), FILLER_SIZE, RuleValue()));
        EXPECT_EQ(untouched, Planted(row()));
    }
}

TEST_P(EveryRule, TheExactCheckExplainsItsWrite) {
    const Bytes copy = Planted(row());
    Bytes target = copy;
    uint32_t bits = 0;
    ASSERT_TRUE(row().encode(SampleValue(row()), &bits));
    RunRule(rule(), target.data(), FILLER_SIZE, bits);

    const int game = CandidateWhere(rule(), true);
    ASSERT_GE(game, 0) << "a rule for no game";
    GameModel form;
    EXPECT_TRUE(ExplainGame(target.data(), FILLER_SIZE, copy.data(), FILLER_SIZE, game, &form))
        << "first unexplained " << form.firstUnexplained;
    ASSERT_EQ(form.writes.size(), row().firstHitOnly ? 1u : 2u);
    EXPECT_EQ(form.writes[0].rule, rule());
    EXPECT_EQ(form.writes[0].offset, FIRST_AT);
    EXPECT_EQ(form.writes[0].bits, bits);
    PatternPlaces places;
    FindPatternPlaces(copy.data(), FILLER_SIZE, &places);
    EXPECT_EQ(places.offsets[rule()].size(), 2u);
    for (int other = 0; other < RULE_COUNT; ++other) {
        if (other != rule()) {
            EXPECT_TRUE(places.offsets[other].empty()) << RULE_TABLE[other].name;
        }
    }

    // The second occurrence's span changed as well: a rule that takes every hit writes the
    // same value at each, so no run makes that; one that takes its first hit only takes the
    // second in a second run, where the bits there are a value it writes.
    Bytes changed = target;
    changed[SECOND_AT + row().span.offset] ^= 0x40;
    const bool fits = ExplainGame(changed.data(), FILLER_SIZE, copy.data(), FILLER_SIZE, game, &form);
    RuleValue shown = {};
    uint32_t stored = 0;
    const uint32_t held = ReadSpan(changed.data() + SECOND_AT, row());
    const bool aValue = row().readBack(held, &shown, &stored) && stored == held;
    EXPECT_EQ(fits, row().firstHitOnly && aValue);
    if (fits) EXPECT_EQ(form.runs, 2u);

    // On a game the rule may not run on, its write is a difference.
    const int otherGame = CandidateWhere(rule(), false);
    if (otherGame >= 0) {
        EXPECT_FALSE(ExplainGame(target.data(), FILLER_SIZE, copy.data(), FILLER_SIZE, otherGame, &form));
        PatchJob job = {};
        job.requests[rule()] = {true, SampleValue(row())};
        job.candidate = otherGame;
        Bytes image = copy;
        bool applied[RULE_COUNT] = {};
        ApplyPatchRules(image.data(), FILLER_SIZE, &job, applied);
        EXPECT_EQ(image, copy);
        EXPECT_FALSE(applied[rule()]);
    }
}

TEST_P(EveryRule, ThroughTheJobWritesItsOkText) {
    PatchJob job = {};
    job.requests[rule()] = {true, SampleValue(row())};
    job.candidate = CandidateWhere(rule(), true);
    Bytes image = Planted(row());
    bool applied[RULE_COUNT] = {};
    ApplyPatchRules(image.data(), FILLER_SIZE, &job, applied);
    EXPECT_TRUE(applied[rule()]);
    EXPECT_STREQ(job.status[rule()], row().okText);
    Bytes alone = Planted(row());
    uint32_t bits = 0;
    row().encode(SampleValue(row()), &bits);
    RunRule(rule(), alone.data(), FILLER_SIZE, bits);
    EXPECT_EQ(image, alone);
}

TEST_P(EveryRule, ItsOptionsParseAndAreInTheHelp) {
    CliOptions options;
    std::string error;
    std::vector<const char*> args = {row().option};
    const std::string text = SampleText(row());
    if (row().kind != VALUE_NONE) args.push_back(text.c_str());
    ASSERT_TRUE(Parse(args, &options, &error)) << error;
    EXPECT_EQ(options.command, CLI_PATCH);
    EXPECT_TRUE(options.ruleOn[rule()]);
    if (row().kind != VALUE_NONE) {
        EXPECT_EQ(options.ruleValue[rule()], text);
    }
    for (int other = 0; other < RULE_COUNT; ++other) {
        if (other != rule()) {
            EXPECT_EQ(options.ruleOn[other], RULE_TABLE[other].onByDefault) << RULE_TABLE[other].name;
        }
    }

    const std::string help = HelpText();
    std::string spelt = row().option;
    if (row().placeholder != nullptr) spelt += std::string(" ") + row().placeholder;
    const std::string firstHelpLine(row().help, std::strcspn(row().help, "\n"));
    EXPECT_NE(help.find("\n  " + spelt + " "), std::string::npos) << help;
    EXPECT_NE(help.find(firstHelpLine + "\n"), std::string::npos) << help;

    if (row().kind != VALUE_NONE) {
        ASSERT_FALSE(Parse({row().option}, &options, &error));
        EXPECT_EQ(error, std::string(row().option) + " needs a value: " + row().takes);
        ASSERT_FALSE(Parse({row().option, "--restore"}, &options, &error));
        EXPECT_NE(error.find(row().takes), std::string::npos) << error;
    }
    std::vector<const char*> withRestore = args;
    withRestore.insert(withRestore.begin(), "--restore");
    ASSERT_FALSE(Parse(withRestore, &options, &error));
    EXPECT_EQ(error, std::string(row().option) + " does not go with --restore");

    if (row().offOption != nullptr) {
        ASSERT_TRUE(Parse({row().offOption}, &options, &error)) << error;
        EXPECT_FALSE(options.ruleOn[rule()]);
        EXPECT_NE(help.find("\n  " + std::string(row().offOption) + " "), std::string::npos) << help;
        std::vector<const char*> both = args;
        both.push_back(row().offOption);
        EXPECT_FALSE(Parse(both, &options, &error));
    }
}

INSTANTIATE_TEST_SUITE_P(Rows, EveryRule, ::testing::Range(0, static_cast<int>(RULE_COUNT)),
                         [](const ::testing::TestParamInfo<int>& info) { return std::string(RULE_TABLE[info.param].name); });

// What tells the rules apart in the reports: no two rows share a name, a pattern or an option.
TEST(RuleTableRows, NamesPatternsAndOptionsAreTheirOwn) {
    for (int a = 0; a < RULE_COUNT; ++a) {
        const RuleRow& row = RULE_TABLE[a];
        EXPECT_LE(row.pattern.length, static_cast<uint32_t>(BYTE_PATTERN_MAX));
        EXPECT_LE(static_cast<uint32_t>(row.span.offset + row.span.length), row.pattern.length) << row.name;
        EXPECT_LE(row.span.length, 4u) << row.name;
        for (int b = a + 1; b < RULE_COUNT; ++b) {
            EXPECT_STRNE(row.name, RULE_TABLE[b].name);
            EXPECT_STRNE(row.option, RULE_TABLE[b].option);
            EXPECT_FALSE(row.pattern.length == RULE_TABLE[b].pattern.length &&
                         std::memcmp(row.pattern.bytes, RULE_TABLE[b].pattern.bytes, row.pattern.length) == 0)
                << row.name << " " << RULE_TABLE[b].name;
        }
    }
    EXPECT_NE(UsageLines().find("[FEATURE...]"), std::string::npos);
}

}  // namespace
