// --status tells what was done to the game without touching it; a patch run tells a rule
// that the game already holds a value of as already patched, and how to change it.

#include <string>

#include <gtest/gtest.h>

#include "cli_runner.h"
#include "expected.h"
#include "json_value.h"

namespace {

JsonValue Json(const CliRun& run) {
    JsonValue json;
    std::string error;
    EXPECT_TRUE(ParseJson(run.out, &json, &error)) << error << "\n" << run.out;
    return json;
}

TEST(CliStatus, APatchedGameWithItsCopies) {
    GameFolder folder;
    folder.Write("vlmr3.exe", FixtureImage());
    ASSERT_EQ(folder.Run({"--fov", "1920", "--camera", "2000", "--fps"}).exitCode, 0);
    const FolderState before = Snapshot(folder.path());

    const CliRun run = folder.Run({"--status"});
    EXPECT_EQ(run.exitCode, 0) << run.err;
    EXPECT_EQ(run.out,
              "vlmr3.exe: patched\n"
              "\n"
              "copies:\n"
              "  vlmr3.exe.orig: the game is a patched form of it, 1 run away\n"
              "  vlmr3.exe.bak: not compared: the original explains the game\n"
              "\n"
              "rules:\n"
              "  widescreen: patched, aspect ratio 1.7778 (16:9)\n"
              "  camera: patched, camera distance 2000\n"
              "  fov: patched, screen width 1920 (FOV constant 1440)\n"
              "  fps: patched, 60 FPS on\n");

    const JsonValue json = Json(folder.Run({"--status", "--json"}));
    EXPECT_EQ(json["schema"].number, 2);
    EXPECT_EQ(json["target"].text, "vlmr3.exe");
    EXPECT_EQ(json["state"].text, "patched");
    ASSERT_EQ(json["copies"].items.size(), 2u);
    EXPECT_EQ(json["copies"].items[0]["name"].text, "vlmr3.exe.orig");
    EXPECT_TRUE(json["copies"].items[0]["fits"].boolean);
    EXPECT_FALSE(json["copies"].items[0]["identical"].boolean);
    ASSERT_EQ(json["rules"].items.size(), 4u);
    EXPECT_EQ(json["rules"].items[0]["rule"].text, "widescreen");
    EXPECT_EQ(json["rules"].items[0]["state"].text, "patched");
    EXPECT_DOUBLE_EQ(json["rules"].items[0]["value"].number, 1.7778);
    EXPECT_EQ(json["rules"].items[1]["value"].number, 2000);
    EXPECT_EQ(json["rules"].items[2]["value"].number, 1440);
    EXPECT_EQ(json["rules"].items[0]["as_typed"].text, "16:9");
    EXPECT_EQ(json["rules"].items[2]["as_typed"].text, "1920");
    EXPECT_TRUE(json["rules"].items[3]["value"].boolean);
    EXPECT_EQ(json["exit_code"].number, 0);
    EXPECT_EQ(Snapshot(folder.path()), before);
}

// With no copy that fits, a rule whose pattern is there is original, and of the missing
// ones only the 60 FPS rule's written form can be told from another version's bytes.
TEST(CliStatus, WithoutAFittingCopyPatternsStillCount) {
    const std::string unknown = " unknown (no kept copy explains the game)\n";
    const struct {
        const char* label;
        Bytes game;
        Bytes orig;  // empty: none
        const char* state;
        const char* origLine;
        std::string rules;
    } cases[] = {
        {"an untouched game without copies", FixtureImage(), {}, "original", "not there",
         "  widescreen: original, 2 occurrences\n  camera: original, 1 occurrence\n  fov: original, 1 occurrence\n"
         "  fps: original, 1 occurrence\n"},
        {"a patched game without copies", FullyPatched(FixtureImage()), {}, "unknown", "not there",
         "  widescreen: original, 1 occurrence\n  camera:" + unknown + "  fov:" + unknown + "  fps: patched, 60 FPS on\n"},
        {"a patched game whose original is of another version", FullyPatched(With(FixtureImage(), 0x800, {0xCC})),
         FixtureImage(), "unknown", "the game is not a patched form of it: byte 0x800 differs",
         "  widescreen: original, 1 occurrence\n  camera:" + unknown + "  fov:" + unknown + "  fps: patched, 60 FPS on\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.label);
        GameFolder folder;
        folder.Write("vlmr3.exe", c.game);
        if (!c.orig.empty()) folder.Write("vlmr3.exe.orig", c.orig);
        const CliRun run = folder.Run({"--status"});
        EXPECT_EQ(run.exitCode, 0);
        EXPECT_EQ(run.out, std::string("vlmr3.exe: ") + c.state + "\n\ncopies:\n  vlmr3.exe.orig: " + c.origLine +
                               "\n  vlmr3.exe.bak: not there\n\nrules:\n" + c.rules);
    }
}

TEST(CliStatus, AnOriginalGameWithItsCopyCountsEachPattern) {
    GameFolder folder;
    folder.Write("vlmr4.exe", FixtureImage());
    folder.Write("vlmr4.exe.orig", FixtureImage());
    const CliRun run = folder.Run({"--status"});
    EXPECT_EQ(run.exitCode, 0);
    EXPECT_TRUE(Contains(run.out, "vlmr4.exe: original\n")) << run.out;
    EXPECT_TRUE(Contains(run.out, "  vlmr4.exe.orig: the game holds its bytes\n")) << run.out;
    EXPECT_TRUE(Contains(run.out, "  widescreen: original, 2 occurrences\n")) << run.out;
    EXPECT_TRUE(Contains(run.out, "  camera: original, 1 occurrence\n")) << run.out;

    const JsonValue json = Json(folder.Run({"--json", "--status"}));
    EXPECT_EQ(json["state"].text, "original");
    EXPECT_EQ(json["rules"].items[0]["occurrences"].number, 2);
    EXPECT_EQ(json["rules"].items[0]["value"].kind, JsonValue::NUL);
}

TEST(CliStatus, NoTargetAndOptionsThatDoNotGoWithIt) {
    GameFolder folder;
    CliRun run = folder.Run({"--status", "--json"});
    EXPECT_EQ(run.exitCode, 3);
    const JsonValue json = Json(run);
    EXPECT_EQ(json["target"].kind, JsonValue::NUL);
    EXPECT_EQ(json["result_text"].text, "No Velmora 2345 files");
    EXPECT_EQ(json["error"]["code"].text, "no_target");
    EXPECT_EQ(json["exit_code"].number, 3);

    for (const char* other : {"--fps", "--dry-run", "--force"}) {
        run = folder.Run({"--status", other});
        EXPECT_EQ(run.exitCode, 2) << other;
        EXPECT_TRUE(Contains(run.err, std::string(other) + " does not go with --status")) << run.err;
    }
    run = folder.Run({"--status", "--restore"});
    EXPECT_EQ(run.exitCode, 2);
    EXPECT_TRUE(Contains(run.err, "--restore and --status exclude each other")) << run.err;
}

// A second run with other values writes them where the first one wrote, and says what
// they replace; the same value again is already patched.
TEST(CliAlreadyPatched, ASecondRunWritesNewValuesAndSaysWhatTheyReplace) {
    GameFolder folder;
    folder.Write("vlmr3.exe", FixtureImage());
    ASSERT_EQ(folder.Run({"--fov", "1920", "--camera", "2000", "--fps"}).exitCode, 0);

    // Widescreen still finds the second 4:3 constant; camera and FOV take the new values.
    const CliRun run = folder.Run({"--fov", "2560", "--camera", "3000", "--fps"});
    EXPECT_EQ(run.exitCode, 0) << run.out;
    EXPECT_TRUE(Contains(run.out, "  camera: 1 hit, replaces camera distance 2000\n")) << run.out;
    EXPECT_TRUE(Contains(run.out, "  fov: 1 hit, replaces screen width 1920 (FOV constant 1440)\n")) << run.out;
    EXPECT_TRUE(Contains(run.out, "  fps: already patched\n")) << run.out;
    EXPECT_TRUE(Contains(run.out, "Camera dist correction OK\nFOV correction OK\n")) << run.out;
    EXPECT_FALSE(Contains(run.out, "restore first")) << run.out;
    EXPECT_EQ(Slice(folder.Read("vlmr3.exe"), CAMERA_AT + 6, 2), Bytes({0xB8, 0x0B}));

    // Two runs that wrote different places: the original explains the game; the values
    // the game holds are told.
    const CliRun status = folder.Run({"--status"});
    EXPECT_TRUE(Contains(status.out, "vlmr3.exe: patched\n")) << status.out;
    EXPECT_TRUE(Contains(status.out, "  camera: patched, camera distance 3000\n")) << status.out;
    EXPECT_TRUE(Contains(status.out, "  fov: patched, screen width 2560 (FOV constant 1920)\n")) << status.out;
    EXPECT_TRUE(Contains(status.out, "  widescreen: patched, aspect ratio 1.7778 (16:9) at 2 places\n")) << status.out;

    // The same value again: nothing is left to write, and it says so.
    const JsonValue json = Json(folder.Run({"--json", "--no-widescreen", "--camera", "3000"}));
    EXPECT_EQ(json["exit_code"].number, 0);
    EXPECT_EQ(json["rules"].items[1]["reason"]["text"].text, "already patched");
    EXPECT_EQ(json["rules"].items[1]["replaces"].kind, JsonValue::NUL);
    EXPECT_EQ(json["rules"].items[2]["reason"]["text"].text, "switched off");
    EXPECT_FALSE(Contains(folder.Run({"--status"}).out, "vlmr3.exe: original\n"));
}

TEST(CliAlreadyPatched, OnlyWhenACopyShowsIt) {
    // No copy: a missing pattern may be another version of the game just as well.
    GameFolder folder;
    folder.Write("vlmr3.exe", FullyPatched(FixtureImage()));
    CliRun run = folder.Run({"--no-widescreen", "--camera", "3000"});
    EXPECT_EQ(run.exitCode, 1) << run.out;
    EXPECT_TRUE(Contains(run.out, "  camera: pattern not found\n")) << run.out;
    EXPECT_FALSE(Contains(run.out, "restore first")) << run.out;

    // A copy that fits, in which the rule wrote nothing: not found stays not found.
    GameFolder noCamera;
    const Bytes game = With(FixtureImage(), CAMERA_AT, {0x90});
    noCamera.Write("vlmr3.exe", game);
    ASSERT_EQ(noCamera.Run({"--fov", "1920"}).exitCode, 0);
    run = noCamera.Run({"--no-widescreen", "--camera", "3000"});
    EXPECT_EQ(run.exitCode, 1) << run.out;
    EXPECT_TRUE(Contains(run.out, "  camera: pattern not found\n")) << run.out;
}

// Each rule's line in JSON is that rule's own result line.
TEST(CliJsonLines, EachRuleHasItsOwnLine) {
    GameFolder folder;
    folder.Write("vlmr3.exe", FixtureImage());
    const JsonValue json = Json(folder.Run({"--json", "--camera", "2000"}));
    ASSERT_EQ(json["rules"].items.size(), 4u);
    const char* const lines[] = {"Widescreen correction OK", "Camera dist correction OK", "FOV correction not used",
                                 "Unlock 60 FPS not used"};
    for (size_t i = 0; i < 4; ++i) EXPECT_EQ(json["rules"].items[i]["line"].text, lines[i]) << i;
}

}  // namespace
