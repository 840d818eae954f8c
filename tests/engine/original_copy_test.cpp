// The copy of the game as first found, kept once and never touched again; the report of
// which copies a run wrote; and a dry run, which writes nothing at all.

#include <algorithm>
#include <cerrno>
#include <filesystem>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "job_report.h"
#include "target_file.h"
#include "patch_worker.h"
#include "test_folder.h"

namespace {

namespace fs = std::filesystem;

const Bytes GAME = {0x55, 0xAB, 0xAA, 0xAA, 0x3F, 0xC7, 0x05, 1, 2, 3, 4, 0x00, 0x06, 0x00, 0x00, 0xC3};
const Bytes GAME_WIDE = {0x55, 0x39, 0x8E, 0xE3, 0x3F, 0xC7, 0x05, 1, 2, 3, 4, 0x00, 0x06, 0x00, 0x00, 0xC3};
// 16:10 over the first run's 16:9, and the camera distance 2048.
const Bytes GAME_WIDER_CAMERA = {0x55, 0xCD, 0xCC, 0xCC, 0x3F, 0xC7, 0x05, 1, 2, 3, 4, 0x00, 0x08, 0x00, 0x00, 0xC3};

class OriginalCopy : public ::testing::Test {
protected:
    TestFolder folder;
};

PatchJob RunJob(float aspect, int16_t camera, JobReport* report = nullptr) {
    PatchJob job = MakeJob(aspect, camera, 0);
    RunPatchJob(&job, report);
    return job;
}

std::vector<std::string> FolderNames() {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(".")) names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

TEST_F(OriginalCopy, IsWrittenByTheFirstRunAndKeptByEveryLaterOne) {
    WriteFile("vlmr3.exe", GAME);
    {
        ToggleScope toggles(true, false, false, false);
        JobReport report;
        const PatchJob first = RunJob(16.0f / 9.0f, 0, &report);
        EXPECT_STREQ(first.failure_text, "");
        EXPECT_TRUE(report.backupWritten);
        EXPECT_TRUE(report.originalWritten);
        EXPECT_FALSE(report.originalExisted);
    }
    {
        // Other values the second time: the new aspect goes over the first run's. The
        // backup now holds the first run's result, and only the original the game as it was.
        ToggleScope toggles(true, true, false, false);
        JobReport report;
        const PatchJob second = RunJob(16.0f / 10.0f, 2048, &report);
        EXPECT_STREQ(second.failure_text, "");
        EXPECT_TRUE(report.backupWritten);
        EXPECT_FALSE(report.originalWritten);
        EXPECT_TRUE(report.originalExisted);
    }
    EXPECT_EQ(ReadFile("vlmr3.exe.orig"), GAME);
    EXPECT_EQ(ReadFile("vlmr3.exe.bak"), GAME_WIDE);
    EXPECT_EQ(ReadFile("vlmr3.exe"), GAME_WIDER_CAMERA);
    EXPECT_EQ(FolderNames(), (std::vector<std::string>{"vlmr3.exe", "vlmr3.exe.bak", "vlmr3.exe.orig"}));
}

// A game that fits no kept copy and shows no rule's change is a store update: it becomes
// the original, and the previous one is moved aside, never deleted.
TEST_F(OriginalCopy, AStoreUpdateBecomesTheOriginalAndThePreviousIsMovedAside) {
    const Bytes someOtherVersion = {'o', 't', 'h', 'e', 'r'};
    WriteFile("vlmr3.exe", GAME);
    WriteFile("vlmr3.exe.orig", someOtherVersion);
    WriteFile("vlmr3.exe.orig.1", {'o', 'l', 'd', 'e', 'r'});
    ToggleScope toggles(true, false, false, false);
    JobReport report;
    const PatchJob job = RunJob(16.0f / 9.0f, 0, &report);
    EXPECT_STREQ(job.status[RULE_WIDESCREEN], "Widescreen correction OK");
    EXPECT_FALSE(report.originalExisted);
    EXPECT_TRUE(report.originalWritten);
    EXPECT_STREQ(report.previousOriginal, "vlmr3.exe.orig.2");
    EXPECT_EQ(ReadFile("vlmr3.exe.orig"), GAME);
    EXPECT_EQ(ReadFile("vlmr3.exe.orig.2"), someOtherVersion);
    EXPECT_EQ(ReadFile("vlmr3.exe.orig.1"), (Bytes{'o', 'l', 'd', 'e', 'r'}));
    EXPECT_EQ(ReadFile("vlmr3.exe"), GAME_WIDE);
}

TEST_F(OriginalCopy, OneThatCannotBeWrittenLeavesTheGameUntouched) {
    // A folder, with something in it, in the way of the temporary copy.
    WriteFile("vlmr3.exe", GAME);
    ASSERT_TRUE(fs::create_directory("vlmr3.exe.orig.velmora-tmp"));
    WriteFile("vlmr3.exe.orig.velmora-tmp/keep", {1});
    ToggleScope toggles(true, false, false, false);
    const PatchJob job = RunJob(16.0f / 9.0f, 0);
    EXPECT_STREQ(job.failure_text,
                 "Nothing was changed!\r\n\r\nThe original copy\r\nvlmr3.exe.orig\r\ncould not be written.");
    EXPECT_STREQ(job.status[RULE_WIDESCREEN], "");
    EXPECT_EQ(ReadFile("vlmr3.exe"), GAME);
    EXPECT_FALSE(FileExists("vlmr3.exe.orig"));
    EXPECT_EQ(ReadFile("vlmr3.exe.orig.velmora-tmp/keep"), Bytes{1}) << "the player's folder is not ours to remove";
}

TEST_F(OriginalCopy, TemporaryFilesOfACutOffRunAreRemovedByTheNextAndThePlayersAreKept) {
    // The tool's own leftovers go, whether or not the original is there already; files the
    // player named ".tmp" stay as they are.
    for (const bool originalThere : {false, true}) {
        TestFolder caseFolder;
        WriteFile("vm3plus.exe", GAME);
        if (originalThere) WriteFile("vm3plus.exe.orig", GAME);
        WriteFile("vm3plus.exe.bak.velmora-tmp", {1, 2});
        WriteFile("vm3plus.exe.orig.velmora-tmp", {3});
        WriteFile("vm3plus.exe.bak.tmp", {4});
        WriteFile("vm3plus.exe.orig.tmp", {5});
        ToggleScope toggles(true, false, false, false);
        const PatchJob job = RunJob(16.0f / 9.0f, 0);
        EXPECT_STREQ(job.failure_text, "") << originalThere;
        EXPECT_EQ(FolderNames(), (std::vector<std::string>{"vm3plus.exe", "vm3plus.exe.bak", "vm3plus.exe.bak.tmp",
                                                            "vm3plus.exe.orig", "vm3plus.exe.orig.tmp"}))
            << originalThere;
        EXPECT_EQ(ReadFile("vm3plus.exe.bak.tmp"), Bytes{4});
        EXPECT_EQ(ReadFile("vm3plus.exe.orig.tmp"), Bytes{5});
    }
}

// A kept original that is not what its name promises is refused before anything is written:
// the game is not patched through a second name of itself, and a folder is no copy.
TEST_F(OriginalCopy, OneThatIsNoSeparateFileStopsTheRunWithNothingChanged) {
    const char* const NOT_A_FILE = "Nothing was changed!\r\n\r\nvlmr3.exe.orig\r\nis not a file.";
    const char* const SAME_FILE = "Nothing was changed!\r\n\r\nvlmr3.exe.orig is\r\nthe same file as vlmr3.exe.";
    const struct {
        const char* name;
        void (*lay)();
        const char* text;
    } cases[] = {
        {"a folder", [] { fs::create_directory("vlmr3.exe.orig"); }, NOT_A_FILE},
        {"the game as a hard link of it",
         [] {
             fs::rename("vlmr3.exe", "vlmr3.exe.orig");
             fs::create_hard_link("vlmr3.exe.orig", "vlmr3.exe");
         },
         SAME_FILE},
#ifndef _WIN32
        {"the game as a symbolic link to it",
         [] {
             fs::rename("vlmr3.exe", "vlmr3.exe.orig");
             fs::create_symlink("vlmr3.exe.orig", "vlmr3.exe");
         },
         SAME_FILE},
        {"a symbolic link to the game", [] { fs::create_symlink("vlmr3.exe", "vlmr3.exe.orig"); }, SAME_FILE},
        {"a symbolic link to a folder",
         [] {
             fs::create_directory("elsewhere");
             fs::create_symlink("elsewhere", "vlmr3.exe.orig");
         },
         NOT_A_FILE},
#endif
    };
    ToggleScope toggles(true, false, false, false);
    for (const auto& c : cases) {
        TestFolder caseFolder;
        WriteFile("vlmr3.exe", GAME);
        WriteFile("vlmr3.exe.bak", {9});
        c.lay();
        JobReport report;
        const PatchJob job = RunJob(16.0f / 9.0f, 0, &report);
        EXPECT_STREQ(job.failure_text, c.text) << c.name;
        EXPECT_STREQ(job.status[RULE_WIDESCREEN], "") << c.name;
        EXPECT_EQ(ReadFile("vlmr3.exe"), GAME) << c.name;
        EXPECT_EQ(ReadFile("vlmr3.exe.bak"), Bytes{9}) << c.name;
        EXPECT_FALSE(report.backupWritten || report.originalWritten || report.originalExisted) << c.name;
    }
}

TEST_F(OriginalCopy, AnEmptyGameIsDoneWithAnEmptyBackupAndNoOriginal) {
    ToggleScope toggles(true, true, false, false);
    WriteFile("vlmr3.exe", {});
    JobReport report;
    const PatchJob empty = RunJob(16.0f / 9.0f, 2048, &report);
    EXPECT_STREQ(empty.failure_text, "");
    EXPECT_STREQ(empty.status[RULE_WIDESCREEN], "Widescreen correction not used");
    EXPECT_STREQ(empty.status[RULE_CAMERA], "Camera dist correction not used");
    EXPECT_TRUE(report.backupWritten);
    EXPECT_FALSE(report.originalWritten);
    EXPECT_EQ(ReadFile("vlmr3.exe.bak"), Bytes{});
    EXPECT_FALSE(FileExists("vlmr3.exe.orig")) << "an empty file is no original";

    // A 0-byte original, from before or from elsewhere, counts as none: the first real
    // game replaces it.
    WriteFile("vlmr3.exe.orig", {});
    WriteFile("vlmr3.exe", GAME);
    JobReport real;
    const PatchJob patched = RunJob(16.0f / 9.0f, 0, &real);
    EXPECT_STREQ(patched.failure_text, "");
    EXPECT_TRUE(real.originalWritten);
    EXPECT_FALSE(real.originalExisted);
    EXPECT_EQ(ReadFile("vlmr3.exe.orig"), GAME);
}

TEST_F(OriginalCopy, AnEmptyOneThatCannotBeReplacedLeavesTheBackupAndSaysSo) {
    ToggleScope toggles(true, false, false, false);
    WriteFile("vlmr3.exe", GAME);
    WriteFile("vlmr3.exe.orig", {});
    WriteFile("vlmr3.exe.bak", {9});
    static int s_moves;
    s_moves = 0;
    g_fileOps.move = [](const char* from, const char* to, bool replace) {
        return ++s_moves == 1 && DEFAULT_FILE_OPS.move(from, to, replace);  // the original's, then none
    };
    JobReport report;
    const PatchJob job = RunJob(16.0f / 9.0f, 0, &report);
    g_fileOps = DEFAULT_FILE_OPS;
    // The empty original was replaced, so "nothing" would not be true.
    EXPECT_STREQ(job.failure_text, "The game was not changed!\r\n\r\nThe backup vlmr3.exe.bak\r\ncould not be written.");
    EXPECT_TRUE(report.originalWritten);
    EXPECT_EQ(ReadFile("vlmr3.exe.orig"), GAME);
    EXPECT_EQ(ReadFile("vlmr3.exe.bak"), Bytes{9});
    EXPECT_EQ(ReadFile("vlmr3.exe"), GAME);
}

#ifndef _WIN32
// Nothing the tool writes goes through a link someone laid down beside the game.
TEST_F(OriginalCopy, NoCopyIsWrittenThroughALink) {
    fs::create_directory("outside");
    WriteFile("outside/planted", {7, 7});
    ToggleScope toggles(true, false, false, false);
    {
        // A leftover link of the tool's own name goes as a link; what it leads to stays.
        TestFolder caseFolder;
        WriteFile("vlmr3.exe", GAME);
        WriteFile("planted", {7, 7});
        fs::create_symlink("planted", "vlmr3.exe.bak.velmora-tmp");
        fs::create_symlink("planted", "vlmr3.exe.bak.tmp");  // the player's: left alone
        fs::create_symlink("nowhere", "vlmr3.exe.orig.velmora-tmp");
        const PatchJob job = RunJob(16.0f / 9.0f, 0);
        EXPECT_STREQ(job.failure_text, "");
        EXPECT_EQ(ReadFile("planted"), (Bytes{7, 7}));
        EXPECT_FALSE(fs::is_symlink("vlmr3.exe.bak"));
        EXPECT_FALSE(fs::is_symlink("vlmr3.exe.orig"));
        EXPECT_EQ(ReadFile("vlmr3.exe.bak"), GAME);
        EXPECT_FALSE(fs::exists(fs::symlink_status("vlmr3.exe.bak.velmora-tmp")));
        EXPECT_FALSE(fs::exists(fs::symlink_status("vlmr3.exe.orig.velmora-tmp")));
        EXPECT_TRUE(fs::is_symlink("vlmr3.exe.bak.tmp"));
    }
    {
        // A link laid down after the leftovers went: the exclusive create refuses it.
        TestFolder caseFolder;
        WriteFile("vlmr3.exe", GAME);
        WriteFile("planted", {7, 7});
        g_fileOps.openNative = [](const char* name, OpenDisposition disposition, unsigned long* error) {
            if (disposition == CREATE_NEW_ONLY && std::string(name) == "vlmr3.exe.orig.velmora-tmp") {
                fs::create_symlink("planted", name);
            }
            return DEFAULT_FILE_OPS.openNative(name, disposition, error);
        };
        JobReport report;
        const PatchJob job = RunJob(16.0f / 9.0f, 0, &report);
        g_fileOps = DEFAULT_FILE_OPS;
        EXPECT_STREQ(job.failure_text,
                     "Nothing was changed!\r\n\r\nThe original copy\r\nvlmr3.exe.orig\r\ncould not be written.");
        EXPECT_EQ(report.failedStep, STEP_ORIGINAL);
        EXPECT_EQ(report.systemError, static_cast<unsigned long>(EEXIST));
        EXPECT_EQ(ReadFile("planted"), (Bytes{7, 7}));
        EXPECT_TRUE(fs::is_symlink("vlmr3.exe.orig.velmora-tmp")) << "not ours to remove";
        EXPECT_EQ(ReadFile("vlmr3.exe"), GAME);
    }
}
#endif

// What a folder holds, times included, to show that a dry run changed nothing at all.
struct FolderState {
    std::vector<std::string> names;
    std::vector<Bytes> contents;
    std::vector<fs::file_time_type> times;
    bool operator==(const FolderState& other) const {
        return names == other.names && contents == other.contents && times == other.times;
    }
};

FolderState StateOfFolder() {
    FolderState state;
    state.names = FolderNames();
    for (const auto& name : state.names) {
        state.contents.push_back(ReadFile(name));
        state.times.push_back(fs::last_write_time(name));
    }
    return state;
}

TEST_F(OriginalCopy, ADryRunReportsWhatARealRunDoesAndWritesNothing) {
    const struct {
        const char* name;
        std::vector<std::pair<std::string, Bytes>> files;
    } cases[] = {
        {"first run", {{"vlmr3.exe", GAME}}},
        {"with copies and leftovers",
         {{"vlmr3.exe", GAME_WIDE}, {"vlmr3.exe.bak", GAME}, {"vlmr3.exe.orig", GAME}, {"vlmr3.exe.bak.velmora-tmp", {7}}}},
    };
    ToggleScope toggles(true, true, false, true);
    for (const auto& c : cases) {
        fs::path dry, real;
        JobReport dryReport, realReport;
        PatchJob dryJob, realJob;
        {
            TestFolder dryFolder;
            for (const auto& [name, bytes] : c.files) WriteFile(name, bytes);
            const FolderState before = StateOfFolder();
            dryReport.dryRun = true;
            dryJob = RunJob(16.0f / 9.0f, 2048, &dryReport);
            EXPECT_TRUE(StateOfFolder() == before) << c.name << ": the dry run changed the folder";
        }
        {
            TestFolder realFolder;
            for (const auto& [name, bytes] : c.files) WriteFile(name, bytes);
            realJob = RunJob(16.0f / 9.0f, 2048, &realReport);
        }
        EXPECT_EQ(std::string(dryJob.failure_text), realJob.failure_text) << c.name;
        EXPECT_EQ(std::string(dryJob.status[RULE_WIDESCREEN]), realJob.status[RULE_WIDESCREEN]) << c.name;
        EXPECT_EQ(std::string(dryJob.status[RULE_CAMERA]), realJob.status[RULE_CAMERA]) << c.name;
        EXPECT_EQ(dryReport.backupWritten, realReport.backupWritten) << c.name;
        EXPECT_EQ(dryReport.originalWritten, realReport.originalWritten) << c.name;
        EXPECT_EQ(dryReport.originalExisted, realReport.originalExisted) << c.name;
        for (int rule = 0; rule < RULE_COUNT; ++rule) {
            EXPECT_EQ(dryReport.rules[rule].reason, realReport.rules[rule].reason) << c.name << " rule " << rule;
            EXPECT_EQ(dryReport.rules[rule].hits.size(), realReport.rules[rule].hits.size()) << c.name;
        }
    }
}

}  // namespace
