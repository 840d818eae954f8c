// One table of games as players leave them (one run, runs with other values, three and
// four runs, chains and overlaps, store updates, bytes no rule writes, the 60 FPS rule on
// game 4, copies in another case, a deleted or empty .orig, a deleted game), and for each
// what --status tells, what a restore puts back and what a run with new values writes.

#include <cstring>
#include <filesystem>
#include <functional>
#include <ostream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "game_model.h"
#include "job_report.h"
#include "patch_state.h"
#include "patch_worker.h"
#include "restore.h"
#include "rule_table.h"
#include "test_folder.h"

namespace fs = std::filesystem;

namespace {

// The multi image: NOP filler with the widescreen constant three times (a first-only rule
// takes the next one each run), two camera stores (every hit), the FOV load and the frame
// cap.
enum : size_t { SIZE = 4096, WS_A = 0x100, WS_B = 0x180, WS_C = 0x1C0, CAM_A = 0x200, CAM_B = 0x240, FOV = 0x300, FPS = 0x400 };

Bytes Put(Bytes image, size_t at, const Bytes& bytes) {
    std::copy(bytes.begin(), bytes.end(), image.begin() + static_cast<std::ptrdiff_t>(at));
    return image;
}

const Bytes ASPECT_4_3 = {0xAB, 0xAA, 0xAA, 0x3F};
const Bytes ASPECT_16_9 = {0x39, 0x8E, 0xE3, 0x3F};
const Bytes ASPECT_21_9 = {0x55, 0x55, 0x15, 0x40};

Bytes Multi() {
    Bytes image(SIZE, 0x90);
    for (size_t at : {WS_A, WS_B, WS_C}) image = Put(image, at, ASPECT_4_3);
    for (size_t at : {CAM_A, CAM_B}) image = Put(image, at, {0xC7, 0x05, 0x10, 0x20, 0x40, 0x00, 0x00, 0x06, 0x00, 0x00});
    image = Put(image, FOV, {0xA1, 0x00, 0x50, 0x40, 0x00, 0x99});
    return Put(image, FPS, {0x8B, 0xF8, 0x83, 0xFF, 0x02});
}

// Written bytes that make a later hit: an aspect whose bits end in C7 05 starts a camera
// store at WS_A + 2 whose low bytes 00 06 follow; and two camera stores that overlap.
const float CHAIN_ASPECT = [] {
    const uint32_t bits = 0x05C70000;
    float aspect;
    std::memcpy(&aspect, &bits, sizeof aspect);
    return aspect;
}();
Bytes Chain() {
    Bytes image(SIZE, 0x90);
    image = Put(image, WS_A, ASPECT_4_3);
    image = Put(image, WS_A + 4, {0x11, 0x22, 0x33, 0x44, 0x00, 0x06});
    return Put(image, CAM_A, {0xC7, 0x05, 0xC7, 0x05, 0x09, 0x09, 0x00, 0x06, 0x00, 0x06});
}

// A run as velmora-patch makes it: the rules asked for, with their values.
struct Run {
    float aspect = 0;   // 0: widescreen off
    int camera = 0;     // 0: off
    int fov = 0;        // 0: off
    bool fps = false;
};

PatchJob JobOf(const Run& run) {
    PatchJob job;
    std::memset(&job, 0, sizeof job);
    job.candidate = -1;
    job.requests[RULE_WIDESCREEN] = {run.aspect != 0, {run.aspect, 0}};
    job.requests[RULE_CAMERA] = {run.camera != 0, {0, run.camera}};
    job.requests[RULE_FOV] = {run.fov != 0, {0, run.fov}};
    job.requests[RULE_FPS] = {run.fps, {0, 0}};
    return job;
}

JobReport RunAsConsole(const Run& run, PatchJob* job) {
    *job = JobOf(run);
    JobReport report;
    RunPatchJob(job, &report);
    return report;
}

void RunAsConsole(const Run& run) {
    PatchJob job;
    RunAsConsole(run, &job);
    ASSERT_STREQ(job.failure_text, "");
}

const Run WIDE_CAMERA = {16.0f / 9.0f, 2000, 0, false};

struct ModelCase {
    const char* name;
    const char* game;  // the executable's name
    std::function<void()> setUp;  // lays the game and its copies down in the current folder

    // --status
    GameState state;
    bool fits;                        // a copy explains the game
    RuleState rules[RULE_COUNT];
    const char* values[RULE_COUNT];   // as typed, for the patched rules ("" for the others)

    // --restore (not forced)
    RestoreOutcome restore;
    const char* restoredFrom;  // the copy put back; "" for none
    bool copyPatched;
    std::function<Bytes()> restored;  // what the game then holds; null: unchanged

    // A run with --aspect 21:9 --camera 3000 afterwards
    bool replacesAspect;  // the widescreen rule's places get 21:9 where they held another value
    OriginalSource originalFrom;
    bool newVersion;      // the previous .orig moved aside
};

const RuleState O = RULE_STATE_ORIGINAL, P = RULE_STATE_PATCHED, N = RULE_STATE_NOT_FOUND, U = RULE_STATE_UNKNOWN;

Bytes Unchanged() { return {}; }

const ModelCase MODEL_CASES[] = {
    {"one_run", "vlmr3.exe", [] { WriteFile("vlmr3.exe", Multi()); RunAsConsole(WIDE_CAMERA); },
     GAME_PATCHED, true, {P, P, O, O}, {"16:9", "2000", "", ""},
     RESTORE_DONE, "vlmr3.exe.orig", false, Multi, true, ORIGINAL_FROM_NONE, false},
    {"runs_with_other_values", "vlmr3.exe",
     [] {
         WriteFile("vlmr3.exe", Multi());
         RunAsConsole({0, 2000, 0, false});
         RunAsConsole({0, 3000, 1920, true});
     },
     GAME_PATCHED, true, {O, P, P, P}, {"", "3000", "1920", ""},
     RESTORE_DONE, "vlmr3.exe.orig", false, Multi, false, ORIGINAL_FROM_NONE, false},
    {"three_runs_multi", "vlmr3.exe",
     [] {
         WriteFile("vlmr3.exe", Multi());
         for (int i = 0; i < 3; ++i) RunAsConsole(WIDE_CAMERA);
     },
     GAME_PATCHED, true, {P, P, O, O}, {"16:9", "2000", "", ""},
     RESTORE_DONE, "vlmr3.exe.orig", false, Multi, true, ORIGINAL_FROM_NONE, false},
    {"four_runs_multi_with_other_values", "vlmr3.exe",
     [] {
         WriteFile("vlmr3.exe", Multi());
         RunAsConsole(WIDE_CAMERA);
         RunAsConsole({16.0f / 10.0f, 0, 1280, false});
         RunAsConsole({21.0f / 9.0f, 2500, 0, true});
         RunAsConsole({16.0f / 9.0f, 0, 0, false});
     },
     GAME_PATCHED, true, {P, P, P, P}, {"16:9", "2500", "1280", ""},
     RESTORE_DONE, "vlmr3.exe.orig", false, Multi, true, ORIGINAL_FROM_NONE, false},
    {"chain_of_written_bytes", "vlmr3.exe",
     [] {
         WriteFile("vlmr3.exe", Chain());
         RunAsConsole({CHAIN_ASPECT, 2000, 0, false});
     },
     // 21:9 over the chain's aspect would take away the camera store it made, leaving that
     // store's written distance unexplained: the new value is not written there.
     GAME_PATCHED, true, {P, P, N, N}, {"", "2000", "", ""},
     RESTORE_DONE, "vlmr3.exe.orig", false, Chain, false, ORIGINAL_FROM_NONE, false},
    {"store_update_that_grows", "vlmr3.exe",
     [] {
         WriteFile("vlmr3.exe", Multi());
         RunAsConsole(WIDE_CAMERA);
         Bytes v2 = Put(Multi(), 0x800, {0xCC});
         v2.resize(SIZE + 512, 0xCC);
         WriteFile("vlmr3.exe", v2);
     },
     GAME_ORIGINAL, false, {O, O, O, O}, {"", "", "", ""},
     RESTORE_REFUSED, "", false, Unchanged, false, ORIGINAL_FROM_GAME, true},
    {"store_update_of_the_same_size", "vlmr3.exe",
     [] {
         WriteFile("vlmr3.exe", Multi());
         RunAsConsole(WIDE_CAMERA);
         WriteFile("vlmr3.exe", Put(Multi(), 0x800, {0xCC, 0xCD}));
     },
     GAME_ORIGINAL, false, {O, O, O, O}, {"", "", "", ""},
     RESTORE_REFUSED, "", false, Unchanged, false, ORIGINAL_FROM_GAME, true},
    // A byte inside the widescreen span that the rule would not write (0.0 is no value):
    // changed by something else, so no copy explains it, and it is no new version either.
    {"a_byte_in_a_span_the_rule_would_not_write", "vlmr3.exe",
     [] {
         WriteFile("vlmr3.exe", Multi());
         RunAsConsole(WIDE_CAMERA);
         Bytes game = ReadFile("vlmr3.exe");
         WriteFile("vlmr3.exe", Put(game, WS_A, {0, 0, 0, 0}));
     },
     GAME_UNKNOWN, false, {O, U, O, O}, {"", "", "", ""},
     RESTORE_REFUSED, "", false, Unchanged, false, ORIGINAL_FROM_NONE, false},
    // The 60 FPS rule never runs on game 4: its written form there is no rule's write.
    {"the_60_fps_rule_on_game_four", "vlmr4.exe",
     [] {
         WriteFile("vlmr4.exe", Multi());
         RunAsConsole(WIDE_CAMERA);
         Bytes game = ReadFile("vlmr4.exe");
         WriteFile("vlmr4.exe", Put(game, FPS + 4, {0x00}));
     },
     GAME_UNKNOWN, false, {O, U, O, U}, {"", "", "", ""},
     RESTORE_REFUSED, "", false, Unchanged, false, ORIGINAL_FROM_NONE, false},
    // The copies the Windows program gave names to, beside the game in capitals.
    {"copies_in_another_case", "VLMR3.EXE",
     [] {
         WriteFile("VLMR3.EXE", Multi());
         WriteFile("vlmr3.exe.orig", Multi());
         WriteFile("vlmr3.exe.bak", Multi());
         WriteFile("VLMR3.EXE", Put(Put(ReadFile("VLMR3.EXE"), WS_A, ASPECT_16_9), FPS + 4, {0x00}));
     },
     GAME_PATCHED, true, {P, O, O, P}, {"16:9", "", "", ""},
     RESTORE_DONE, "vlmr3.exe.orig", false, Multi, true, ORIGINAL_FROM_NONE, false},
    // The .orig gone, the .bak holding the game unpatched (one run): the original is kept
    // again, from the .bak's bytes, before the .bak is replaced.
    {"a_deleted_orig", "vlmr3.exe",
     [] {
         WriteFile("vlmr3.exe", Multi());
         RunAsConsole(WIDE_CAMERA);
         fs::remove("vlmr3.exe.orig");
     },
     GAME_PATCHED, true, {P, P, O, O}, {"16:9", "2000", "", ""},
     RESTORE_DONE, "vlmr3.exe.bak", false, Multi, true, ORIGINAL_FROM_BACKUP, false},
    {"an_empty_orig", "vlmr3.exe",
     [] {
         WriteFile("vlmr3.exe", Multi());
         RunAsConsole(WIDE_CAMERA);
         WriteFile("vlmr3.exe.orig", {});
     },
     GAME_PATCHED, true, {P, P, O, O}, {"16:9", "2000", "", ""},
     RESTORE_DONE, "vlmr3.exe.bak", false, Multi, true, ORIGINAL_FROM_BACKUP, false},
    // Two runs, then the .orig gone: the .bak is the first run's game, and no file holds
    // the original. The restore puts the .bak back and says it is patched itself.
    {"a_deleted_orig_after_two_runs", "vlmr3.exe",
     [] {
         WriteFile("vlmr3.exe", Multi());
         RunAsConsole({0, 0, 1920, true});
         RunAsConsole({0, 2000, 0, false});
         fs::remove("vlmr3.exe.orig");
     },
     // With no original, the FOV rule's change in the backup cannot be told; the 60 FPS
     // rule's written form can.
     GAME_PATCHED, true, {O, P, N, P}, {"", "2000", "", ""},
     RESTORE_DONE, "vlmr3.exe.bak", true, [] { return Put(Put(Multi(), FOV, {0xB8, 0xA0, 0x05, 0x00}), FPS + 4, {0x00}); },
     false, ORIGINAL_FROM_NONE, false},
};

void PrintTo(const ModelCase& c, std::ostream* out) { *out << c.name; }

class ModelTable : public testing::TestWithParam<ModelCase> {};

TEST_P(ModelTable, StatusTellsTheModel) {
    const ModelCase& c = GetParam();
    TestFolder folder;
    c.setUp();
    GameStatus status;
    ReadGameStatus(c.game, CandidateIndexOf(c.game), &status);
    ASSERT_TRUE(status.targetRead);
    EXPECT_STREQ(GameStateWord(status.state), GameStateWord(c.state));
    EXPECT_EQ(status.fitting != nullptr, c.fits);
    for (int rule = 0; rule < RULE_COUNT; ++rule) {
        const RuleStatus& rs = status.rules[rule];
        EXPECT_EQ(rs.state, c.rules[rule]) << RULE_TABLE[rule].name;
        if (rs.state != RULE_STATE_PATCHED || c.values[rule][0] == '\0') continue;
        // The value the game uses: at the last place written, the one the latest run made.
        const uint32_t bits = rs.writes.back().bits;
        std::string typed;
        char ratio[16];
        if (rule == RULE_WIDESCREEN && AspectNameOfBits(bits, ratio)) typed = ratio;
        if (rule == RULE_CAMERA) typed = std::to_string(bits);
        if (rule == RULE_FOV) typed = std::to_string(FovWidthOfConstant(static_cast<int32_t>(bits >> 8)));
        EXPECT_EQ(typed, c.values[rule]) << RULE_TABLE[rule].name;
    }
}

TEST_P(ModelTable, RestorePutsTheOriginalBack) {
    const ModelCase& c = GetParam();
    TestFolder folder;
    c.setUp();
    const Bytes before = ReadFile(c.game);
    RestoreResult result;
    RunRestore(false, &result);
    EXPECT_EQ(result.outcome, c.restore) << result.text;
    EXPECT_STREQ(result.copy_name, c.restoredFrom);
    EXPECT_EQ(result.copyPatched, c.copyPatched) << result.text;
    const Bytes expected = c.restored();
    EXPECT_EQ(ReadFile(c.game), expected.empty() ? before : expected);
    // One restore is enough: a second finds nothing to do.
    if (c.restore == RESTORE_DONE) {
        RunRestore(false, &result);
        EXPECT_EQ(result.outcome, RESTORE_ALREADY) << result.text;
    }
}

TEST_P(ModelTable, NewValuesGoWhereTheRulesWrote) {
    const ModelCase& c = GetParam();
    TestFolder folder;
    c.setUp();
    const Bytes before = ReadFile(c.game);
    PatchJob job;
    const JobReport report = RunAsConsole({21.0f / 9.0f, 3000, 0, false}, &job);
    ASSERT_STREQ(job.failure_text, "");
    EXPECT_EQ(report.rules[RULE_WIDESCREEN].replaced, c.replacesAspect);
    EXPECT_EQ(report.originalFrom, c.originalFrom);
    EXPECT_EQ(report.previousOriginal[0] != '\0', c.newVersion);
    const Bytes after = ReadFile(c.game);
    if (c.replacesAspect) {
        // Every widescreen place holds 21:9 now, and the status says the same.
        GameStatus status;
        ReadGameStatus(c.game, CandidateIndexOf(c.game), &status);
        ASSERT_EQ(status.rules[RULE_WIDESCREEN].state, RULE_STATE_PATCHED);
        for (const RuleWrite& place : status.rules[RULE_WIDESCREEN].writes) {
            EXPECT_EQ(Bytes(after.begin() + place.offset, after.begin() + place.offset + 4), ASPECT_21_9) << place.offset;
        }
    }
    if (c.originalFrom != ORIGINAL_FROM_NONE) {
        // The original is only ever kept from an unpatched file.
        const Bytes kept = ReadFile(report.originalName);
        GameStatus status;
        ReadGameStatus(c.game, CandidateIndexOf(c.game), &status);
        EXPECT_EQ(status.copies.original, HELD_BY_ORIG);
        EXPECT_EQ(kept, c.originalFrom == ORIGINAL_FROM_GAME ? before : c.restored());
    }
    if (c.newVersion) {
        EXPECT_TRUE(FileExists(std::string(c.game) + ".orig.1"));
        EXPECT_EQ(ReadFile(std::string(c.game) + ".orig"), before);
    }
    // New copies take the spelling of the existing ones.
    for (const auto& entry : fs::directory_iterator(".")) {
        const std::string name = entry.path().filename().string();
        EXPECT_NE(name, "VLMR3.EXE.orig");
        EXPECT_NE(name, "VLMR3.EXE.bak");
    }
}

INSTANTIATE_TEST_SUITE_P(Games, ModelTable, testing::ValuesIn(MODEL_CASES),
                         [](const testing::TestParamInfo<ModelCase>& info) { return std::string(info.param.name); });

// The game's executable deleted, its copies beside its name: the restore puts the .orig
// back (never an empty one), and names it.
TEST(ModelRestore, ADeletedGameComesBackFromItsCopy) {
    for (bool emptyOrig : {false, true}) {
        SCOPED_TRACE(emptyOrig ? "empty .orig" : ".orig");
        TestFolder folder;
        WriteFile("vlmr3.exe", Multi());
        RunAsConsole(WIDE_CAMERA);
        if (emptyOrig) WriteFile("vlmr3.exe.orig", {});
        const Bytes backup = ReadFile("vlmr3.exe.bak");
        fs::remove("vlmr3.exe");
        RestoreResult result;
        RunRestore(false, &result);
        EXPECT_EQ(result.outcome, RESTORE_DONE) << result.text;
        EXPECT_TRUE(result.gameWasMissing);
        EXPECT_STREQ(result.copy_name, emptyOrig ? "vlmr3.exe.bak" : "vlmr3.exe.orig");
        EXPECT_NE(std::string(result.text).find(result.copy_name), std::string::npos) << result.text;
        EXPECT_EQ(ReadFile("vlmr3.exe"), emptyOrig ? backup : Multi());
    }
}

// --force takes the first copy with contents; an empty copy never goes over the game.
TEST(ModelRestore, ForceNeverPutsAnEmptyCopyBack) {
    TestFolder folder;
    WriteFile("vlmr3.exe", Put(Multi(), 0x800, {0xCC}));
    WriteFile("vlmr3.exe.orig", {});
    WriteFile("vlmr3.exe.bak", Multi());
    RestoreResult result;
    RunRestore(true, &result);
    EXPECT_EQ(result.outcome, RESTORE_DONE) << result.text;
    EXPECT_STREQ(result.copy_name, "vlmr3.exe.bak");
    EXPECT_EQ(ReadFile("vlmr3.exe"), Multi());

    WriteFile("vlmr3.exe", Multi());
    fs::remove("vlmr3.exe.bak");
    RunRestore(true, &result);
    EXPECT_EQ(result.outcome, RESTORE_NO_COPY) << result.text;
    EXPECT_EQ(ReadFile("vlmr3.exe"), Multi());
}

// Two copies of one kind that differ only in case: which is the copy cannot be told, and
// the run stops before it writes anything. Only where names differ in case.
TEST(ModelCopies, TwoOfOneKindInDifferentCaseStopTheRun) {
    TestFolder folder;
    WriteFile("vlmr3.exe", Multi());
    WriteFile("vlmr3.exe.orig", Multi());
    WriteFile("VLMR3.EXE.ORIG", Put(Multi(), 0, {0x00}));
    if (!FileExists("vlmr3.exe.orig") || ReadFile("vlmr3.exe.orig") != Multi()) {
        GTEST_SKIP() << "this file system does not tell names apart by case";
    }
    PatchJob job;
    RunAsConsole(WIDE_CAMERA, &job);
    EXPECT_NE(std::string(job.failure_text).find("VLMR3.EXE.ORIG"), std::string::npos) << job.failure_text;
    EXPECT_NE(std::string(job.failure_text).find("vlmr3.exe.orig"), std::string::npos) << job.failure_text;
    EXPECT_EQ(ReadFile("vlmr3.exe"), Multi());
    EXPECT_FALSE(FileExists("vlmr3.exe.bak"));
    RestoreResult result;
    RunRestore(true, &result);
    EXPECT_EQ(result.outcome, RESTORE_REFUSED) << result.text;
}

}  // namespace
