// The report: a dry run tells exactly what the real run then does and writes nothing, long
// hit lists are cut in the text only, and the target is the one the window would choose.

#include <functional>
#include <string>

#include <gtest/gtest.h>

#include "cli_runner.h"
#include "expected.h"
#include "json_value.h"
#include "patch_command.h"
#include "report_agreement.h"
#include "report_output.h"
#include "target_file.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <cerrno>
#endif

namespace {

// The text of a dry run with its note taken off and its copies in the words of a real run.
std::string AsRealRun(std::string text) {
    const std::string note = "Dry run: nothing was written. A real run would show:\n\n";
    if (text.compare(0, note.size(), note) == 0) text.erase(0, note.size());
    for (size_t at; (at = text.find(": would be written\n")) != std::string::npos;) {
        text.replace(at, 19, ": written\n");
    }
    return text;
}

std::string WithoutDryRunKey(std::string json) {
    const size_t at = json.find("\"dry_run\": ");
    if (at != std::string::npos) json.erase(at, json.find(',', at) - at);
    return json;
}

Bytes ManyCameraStores(size_t count) {
    Bytes image(64 + count * 10, 0x90);
    for (size_t i = 0; i < count; ++i) {
        image = With(image, 32 + i * 10,
                     {0xC7, 0x05, static_cast<unsigned char>(i), 0x20, 0x40, 0x00, 0x00, 0x06, 0x00, 0x00});
    }
    return image;
}

TEST(CliDryRun, ReportsWhatTheRealRunThenDoesAndWritesNothing) {
    const struct {
        const char* label;
        std::function<void(const GameFolder&)> setUp;
        std::vector<std::string> args;
    } cases[] = {
        {"first run", [](const GameFolder& f) { f.Write("vlmr3.exe", FixtureImage()); },
         {"--fov", "1920", "--camera", "2000", "--fps"}},
        {"second run, the original kept",
         [](const GameFolder& f) {
             f.Write("vlmr3.exe", FullyPatched(FixtureImage()));
             f.Write("vlmr3.exe.orig", FixtureImage());
             f.Write("vlmr3.exe.bak", FixtureImage());
         },
         {"--aspect", "16:10", "--camera", "1536"}},
        {"not for this game", [](const GameFolder& f) { f.Write("PCVlmr5.exe", FixtureImage()); }, {"--fps"}},
        {"many hits", [](const GameFolder& f) { f.Write("Vlmr2.exe", ManyCameraStores(23)); },
         {"--camera", "900"}},
        {"empty target", [](const GameFolder& f) { f.Write("vlmr3.exe", {}); }, {}},
        {"no target", [](const GameFolder& f) { f.Write("vlmr3.exe.bak", FixtureImage()); }, {}},
        {"backup cannot be written",
         [](const GameFolder& f) {
             f.Write("vlmr3.exe", FixtureImage());
             std::filesystem::create_directory(f.PathOf("vlmr3.exe.bak"));
         },
         {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.label);
        for (const bool json : {false, true}) {
            GameFolder folder;
            c.setUp(folder);
            std::vector<std::string> args = c.args;
            if (json) args.push_back("--json");
            std::vector<std::string> dryArgs = args;
            dryArgs.push_back("--dry-run");

            const FolderState before = Snapshot(folder.path());
            const CliRun dry = folder.Run(dryArgs);
            EXPECT_EQ(Snapshot(folder.path()), before) << "after the dry run:\n" << Describe(Snapshot(folder.path()));
            const CliRun real = folder.Run(args);
            EXPECT_EQ(dry.exitCode, real.exitCode);
            if (json) {
                JsonValue value;
                std::string error;
                ASSERT_TRUE(ParseJson(dry.out, &value, &error)) << error;
                EXPECT_TRUE(value["dry_run"].boolean);
                EXPECT_EQ(WithoutDryRunKey(dry.out), WithoutDryRunKey(real.out));
            } else {
                // Without a game the report is a message, on stderr.
                const std::string& dryText = dry.exitCode == 3 ? dry.err : dry.out;
                EXPECT_EQ(dryText.compare(0, 20, "Dry run: nothing was"), 0) << dryText;
                EXPECT_EQ(AsRealRun(dryText), dry.exitCode == 3 ? real.err : real.out);
            }
        }
    }
}

TEST(CliReport, TheTextListsTwentyHitsOfARuleAndCountsTheRest) {
    GameFolder textFolder, jsonFolder;
    textFolder.Write("vlmr3.exe", ManyCameraStores(25));
    jsonFolder.Write("vlmr3.exe", ManyCameraStores(25));
    const CliRun text = textFolder.Run({"--camera", "2000", "--no-widescreen"});
    const CliRun json = jsonFolder.Run({"--camera", "2000", "--no-widescreen", "--json"});
    EXPECT_EQ(text.exitCode, 0) << text.out << text.err;
    EXPECT_TRUE(Contains(text.out, "  camera: 25 hits\n")) << text.out;
    EXPECT_TRUE(Contains(text.out, "    0x000000DE  C7 05 13 20 40 00 00 06 -> C7 05 13 20 40 00 D0 07\n"
                                   "    ... and 5 more\n"))
        << text.out;
    EXPECT_FALSE(Contains(text.out, "0x000000E8")) << "the 21st hit is listed";
    ExpectReportsAgree(text, json, "25 hits");

    JsonValue value;
    std::string error;
    ASSERT_TRUE(ParseJson(json.out, &value, &error)) << error;
    const auto& hits = value["rules"].items[1]["hits"].items;
    ASSERT_EQ(hits.size(), 25u);
    EXPECT_EQ(hits[24]["offset"].number, 32 + 24 * 10);
    EXPECT_EQ(hits[24]["after"].text, "C70518204000D007");
    EXPECT_EQ(value["rules"].items[0]["reason"]["text"].text, "switched off");
}

TEST(CliReport, TheTargetIsTheOneTheWindowChooses) {
    GameFolder folder;
    folder.Write("Vlmr2.exe", FixtureImage());
    folder.Write("v2plus.exe", FixtureImage());
    folder.Write("vlmr4.exe.bak", FixtureImage());
    const CliRun run = folder.Run({"--dir", folder.path().string()});
    EXPECT_EQ(run.exitCode, 0) << run.out << run.err;
    EXPECT_EQ(run.out.compare(0, 18, "Done v2plus.exe!\n\n"), 0) << run.out;
    EXPECT_EQ(folder.Read("Vlmr2.exe"), FixtureImage());
    EXPECT_NE(folder.Read("v2plus.exe"), FixtureImage());
    EXPECT_TRUE(folder.Exists("v2plus.exe.orig"));
    EXPECT_FALSE(folder.Exists("Vlmr2.exe.orig"));
}

// The folder given with --dir, not the current one, is the game folder.
TEST(CliReport, DirNamesTheGameFolder) {
    GameFolder here, game;
    game.Write("vlmr3.exe", FixtureImage());
    here.Write("vlmr3.exe", FixtureImage());
    const CliRun run = here.Run({"--dir", game.path().string(), "--fps"});
    EXPECT_EQ(run.exitCode, 0) << run.out << run.err;
    EXPECT_EQ(here.Read("vlmr3.exe"), FixtureImage());
    EXPECT_EQ(Slice(game.Read("vlmr3.exe"), FPS_AT, 5), Bytes({0x8B, 0xF8, 0x83, 0xFF, 0x00}));
}

// Game 3 as a disc or a Windows drive may spell it is still game 3: the 60 FPS rule runs,
// and the game is patched and restored as in any other case.
TEST(CliReport, SixtyFpsOnGameThreeInCapitals) {
    GameFolder folder;
    folder.Write("VLMR3.EXE", FixtureImage());
    const CliRun run = folder.Run({"--fps"});
    EXPECT_EQ(run.exitCode, 0) << run.out << run.err;
    EXPECT_NE(run.out.find("\n  fps: 1 hit\n"), std::string::npos) << run.out;
    EXPECT_EQ(Slice(folder.Read("VLMR3.EXE"), FPS_AT, 5), Bytes({0x8B, 0xF8, 0x83, 0xFF, 0x00}));
    const CliRun status = folder.Run({"--status"});
    EXPECT_NE(status.out.find("\n  fps: patched, 60 FPS on\n"), std::string::npos) << status.out;
    const CliRun restore = folder.Run({"--restore"});
    EXPECT_EQ(restore.exitCode, 0) << restore.out << restore.err;
    EXPECT_EQ(folder.Read("VLMR3.EXE"), FixtureImage());
}

// The job run in this process, with the game's own commit failing as a failing disk would
// make it fail: the report still shows what the rules did, the copies it wrote and the
// system's reason, in the text and in JSON.
TEST(CliReport, AFailedWriteBackStillReportsTheRulesTheCopiesAndTheSystemsReason) {
    GameFolder folder;
    folder.Write("vlmr3.exe", FixtureImage());
    const std::filesystem::path previous = std::filesystem::current_path();
    std::filesystem::current_path(folder.path());
    static int s_commits;
    s_commits = 0;
    g_fileOps.commit = [](FILE* file) {
        if (++s_commits < 3) return DEFAULT_FILE_OPS.commit(file);  // the two copies commit
#ifdef _WIN32
        SetLastError(ERROR_WRITE_FAULT);
#else
        errno = EIO;
#endif
        return -1;
    };
    CliOptions options;
    options.ruleOn[RULE_CAMERA] = true;
    options.ruleValue[RULE_CAMERA] = "2000";
    PatchOutcome outcome;
    std::string message;
    const bool ran = RunPatchCommand(options, &outcome, &message);
    g_fileOps = DEFAULT_FILE_OPS;
    std::filesystem::current_path(previous);
    ASSERT_TRUE(ran) << message;
    EXPECT_EQ(outcome.exitCode, 4);

    char reason[PATCH_TEXT_SIZE];
    FormatSystemErrorText(outcome.report.systemError, reason);
    EXPECT_NE(reason[0], '\0');
    const std::string text = PatchReportText(outcome);
    EXPECT_EQ(text.compare(0, 26, "Writing vlmr3.exe failed!\n"), 0) << text;
    EXPECT_TRUE(Contains(text, "\nWriting vlmr3.exe failed: " + std::string(reason) + "\n")) << text;
    EXPECT_TRUE(Contains(text, "\nrules:\n  widescreen: 1 hit\n")) << text;
    EXPECT_TRUE(Contains(text, "\n  camera: 1 hit\n")) << text;
    EXPECT_TRUE(Contains(text, "\n  fov: switched off\n  fps: switched off\n")) << text;
    EXPECT_TRUE(Contains(text, "\ncopies:\n  vlmr3.exe.bak: written\n  vlmr3.exe.orig: written\n")) << text;

    JsonValue json;
    std::string error;
    ASSERT_TRUE(ParseJson(PatchReportJson(outcome), &json, &error)) << error;
    ASSERT_EQ(json["rules"].items.size(), 4u);
    EXPECT_EQ(json["rules"].items[1]["line"].text, "Camera dist correction OK");
    EXPECT_EQ(json["rules"].items[1]["hits"].items.size(), 1u);
    EXPECT_EQ(json["copies"].items.size(), 2u);
#ifdef _WIN32
    EXPECT_EQ(json["error"]["code"].text, "WIN32_29");
#else
    EXPECT_EQ(json["error"]["code"].text, "EIO");
#endif
    EXPECT_EQ(json["error"]["text"].text, reason);
}

}  // namespace
