// One pass over what velmora-patch is for, in every build: help, a dry run, the real run it
// announced, the JSON report, a restore and a target that another program holds.

#include <string>

#include <gtest/gtest.h>

#include "cli_runner.h"
#include "expected.h"
#include "json_value.h"
#include "text_report.h"

namespace {

const std::vector<std::string> DONE_WHEN = {"--fov", "1920", "--camera", "2000", "--fps"};

std::vector<std::string> Plus(std::vector<std::string> args, const std::vector<std::string>& more) {
    args.insert(args.end(), more.begin(), more.end());
    return args;
}

TEST(CliPass, HelpShowsTheUsageAndTheExitCodes) {
    GameFolder folder;
    const CliRun help = folder.Run({"--help"});
    EXPECT_EQ(help.exitCode, 0);
    EXPECT_EQ(help.err, "");
    for (const char* line : {
             "Usage: velmora-patch [--dir DIR] [--exe NAME] [FEATURE...] [--dry-run] [--json]",
             "  or:  velmora-patch --restore [--dir DIR] [--exe NAME] [--force] [--json]",
             "  or:  velmora-patch --status [--dir DIR] [--exe NAME] [--json]",
             "  or:  velmora-patch -h | --help | -V | --version",
             "  --aspect W:H     display width and height, also as WxH (default 16:9)",
             "  0  done, and every rule asked for found its pattern or was already patched",
             "  1  done, but a rule that was asked for found nothing",
             "  2  usage error or refused value; nothing touched",
             "  3  no target, with the reasons",
             "  4  failure: nothing changed, a refused restore, or a failed write-back\n"
             "     (then the .bak message)",
             "  5  done, but the report could not be written",
         }) {
        EXPECT_TRUE(Contains(help.out, std::string(line) + "\n")) << line;
    }

    const CliRun version = folder.Run({"--version"});
    EXPECT_EQ(version.exitCode, 0);
    EXPECT_EQ(Lines(version.out).at(0), "velmora-patch 1.7.8");
}

// What a player does: the dry run lists every hit and writes nothing, the real run then
// does what it said, and the restore brings the original back.
TEST(CliPass, DryRunThenTheRunItAnnouncedThenRestore) {
    GameFolder folder;
    const Bytes original = FixtureImage();
    folder.Write("vlmr3.exe", original);
    const FolderState before = Snapshot(folder.path());

    const CliRun dry = folder.Run(Plus(DONE_WHEN, {"--dry-run"}));
    EXPECT_EQ(dry.exitCode, 0) << dry.out << dry.err;
    EXPECT_EQ(Snapshot(folder.path()), before) << Describe(Snapshot(folder.path()));
    for (const char* line : FULL_RUN_HIT_LINES) EXPECT_TRUE(Contains(dry.out, std::string(line) + "\n")) << line;
    TextReport dryReport;
    std::string error;
    ASSERT_TRUE(ParseTextReport(dry.out, &dryReport, &error)) << error << "\n" << dry.out;
    EXPECT_TRUE(dryReport.dryRunNote);
    EXPECT_EQ(dryReport.resultText, FULL_RUN_RESULT);
    EXPECT_EQ(dryReport.copies["vlmr3.exe.bak"], "would be written");
    EXPECT_EQ(dryReport.copies["vlmr3.exe.orig"], "would be written");

    const CliRun real = folder.Run(Plus(DONE_WHEN, {"--json"}));
    EXPECT_EQ(real.exitCode, 0) << real.out << real.err;
    EXPECT_EQ(folder.Read("vlmr3.exe"), FullyPatched(original));
    EXPECT_EQ(folder.Read("vlmr3.exe.bak"), original);
    EXPECT_EQ(folder.Read("vlmr3.exe.orig"), original);
    JsonValue json;
    ASSERT_TRUE(ParseJson(real.out, &json, &error)) << error << "\n" << real.out;
    EXPECT_EQ(json["target"].text, "vlmr3.exe");
    EXPECT_EQ(json["result_text"].text, FULL_RUN_RESULT);
    EXPECT_FALSE(json["dry_run"].boolean);
    EXPECT_EQ(json["exit_code"].number, 0);
    ASSERT_EQ(json["copies"].items.size(), 2u);
    EXPECT_EQ(json["copies"].items[0]["name"].text, "vlmr3.exe.bak");
    EXPECT_EQ(json["copies"].items[0]["kind"].text, "bak");
    EXPECT_TRUE(json["copies"].items[0]["written"].boolean);
    EXPECT_EQ(json["copies"].items[1]["name"].text, "vlmr3.exe.orig");
    EXPECT_TRUE(json["copies"].items[1]["written"].boolean);
    EXPECT_EQ(json["copies"].items[1]["from"].text, "vlmr3.exe");
    // The real run hit exactly what the dry run listed.
    const JsonValue& rules = json["rules"];
    ASSERT_EQ(rules.items.size(), 4u);
    for (const JsonValue& rule : rules.items) {
        const TextRule& announced = dryReport.rules[rule["rule"].text];
        EXPECT_EQ(rule["reason"].kind, JsonValue::NUL) << rule["rule"].text;
        ASSERT_EQ(rule["hits"].items.size(), announced.hits.size()) << rule["rule"].text;
        for (size_t i = 0; i < announced.hits.size(); ++i) {
            EXPECT_EQ(rule["hits"].items[i]["offset"].number, announced.hits[i].offset);
            EXPECT_EQ(rule["hits"].items[i]["before"].text, announced.hits[i].before);
            EXPECT_EQ(rule["hits"].items[i]["after"].text, announced.hits[i].after);
        }
    }

    const CliRun restore = folder.Run({"--restore"});
    EXPECT_EQ(restore.exitCode, 0) << restore.out << restore.err;
    EXPECT_TRUE(Contains(restore.out, "from vlmr3.exe.orig")) << restore.out;
    EXPECT_EQ(folder.Read("vlmr3.exe"), original);
    EXPECT_EQ(folder.Read("vlmr3.exe.orig"), original);
}

TEST(CliPass, ATargetThatAnotherProgramHoldsIsInUse) {
    GameFolder folder;
    const Bytes original = FixtureImage();
    folder.Write("vlmr3.exe", original);
    FileHolder holder(folder.PathOf("vlmr3.exe"), HOLD_OPEN);
    ASSERT_TRUE(holder.holding());

    const CliRun run = folder.Run({});
    EXPECT_EQ(run.exitCode, 3) << run.out << run.err;
    EXPECT_EQ(WindowPart(run.err), "No Velmora 2345 files\nMaybe file is busy\nvlmr3.exe: in use\nClose the game, then try again.\n");
    EXPECT_NE(run.err, "");
    EXPECT_FALSE(folder.Exists("vlmr3.exe.bak"));
    EXPECT_FALSE(folder.Exists("vlmr3.exe.orig"));
}

}  // namespace
