// The hold on the game's folder that the window's job and the restore take before they read
// anything, and the look, once they hold it, at whether the file opened is still the game.

#include <csignal>
#include <filesystem>
#include <set>
#include <string>

#include <gtest/gtest.h>

#include "patch_worker.h"
#include "restore.h"
#include "target_file.h"
#include "job_report.h"
#include "test_folder.h"

namespace {

namespace fs = std::filesystem;

const Bytes GAME = {0x55, 0xAB, 0xAA, 0xAA, 0x3F, 0xC7, 0x05, 1, 2, 3, 4, 0x00, 0x06, 0x00, 0x00,
                    0xA1, 1, 2, 3, 0x00, 0x99, 0x8B, 0xF8, 0x83, 0xFF, 0x02, 0xC3};

std::set<std::string> Names() {
    std::set<std::string> names;
    for (const auto& entry : fs::directory_iterator(".")) names.insert(entry.path().filename().string());
    return names;
}

class FolderHoldTest : public testing::Test {
protected:
    void TearDown() override {
        g_fileOps = DEFAULT_FILE_OPS;
        ClearStopRequest();
    }
    TestFolder folder_;
    ToggleScope toggles_{true, true, true, true};
};

int s_tries;
unsigned s_waited;
int s_reads;

// Another run holds the folder for longer than anyone waits.
void HeldByAnotherRun() {
    s_tries = 0;
    s_waited = 0;
    s_reads = 0;
    g_fileOps.holdFolder = [](NativeFile*) {
        ++s_tries;
        return FOLDER_BUSY;
    };
    g_fileOps.pause = [](unsigned milliseconds) { s_waited += milliseconds; };
    g_fileOps.read = [](void* buffer, size_t size, FILE* file) {
        ++s_reads;
        return DEFAULT_FILE_OPS.read(buffer, size, file);
    };
}

TEST_F(FolderHoldTest, TheWindowsJobWaitsItsTimeThenChangesNothing) {
    WriteFile("vlmr3.exe", GAME);
    HeldByAnotherRun();
    PatchJob job = MakeJob(16.0f / 9.0f, 2048, 1920);
    PatchWorker(&job);
    EXPECT_STREQ(job.failure_text, "Nothing was changed!\r\n\r\nAnother velmora-patch is\r\nworking in this folder.");
    EXPECT_GE(s_waited, static_cast<unsigned>(FOLDER_WAIT_MS));
    EXPECT_GT(s_tries, 1);
    EXPECT_EQ(s_reads, 0) << "the game was read before the folder was held";
    EXPECT_EQ(ReadFile("vlmr3.exe"), GAME);
    EXPECT_EQ(Names(), std::set<std::string>{"vlmr3.exe"});
}

TEST_F(FolderHoldTest, TheRestoreWaitsItsTimeThenChangesNothing) {
    WriteFile("vlmr3.exe", {1, 2, 3});
    WriteFile("vlmr3.exe.orig", GAME);
    HeldByAnotherRun();
    RestoreResult result;
    RunRestore(true, &result);
    EXPECT_TRUE(result.folderBusy);
    EXPECT_EQ(s_reads, 0);
    EXPECT_EQ(ReadFile("vlmr3.exe"), Bytes({1, 2, 3}));
    EXPECT_EQ(Names(), (std::set<std::string>{"vlmr3.exe", "vlmr3.exe.orig"}));
}

TEST_F(FolderHoldTest, AHoldLetGoDuringTheWaitLetsTheJobRun) {
    WriteFile("vlmr3.exe", GAME);
    s_tries = 0;
    g_fileOps.holdFolder = [](NativeFile* hold) {
        return ++s_tries < 5 ? FOLDER_BUSY : DEFAULT_FILE_OPS.holdFolder(hold);
    };
    g_fileOps.pause = [](unsigned) {};
    PatchJob job = MakeJob(16.0f / 9.0f, 2048, 1920);
    PatchWorker(&job);
    EXPECT_STREQ(job.failure_text, "");
    EXPECT_EQ(ReadFile("vlmr3.exe.bak"), GAME);
}

// Ctrl-C while waiting for the other run ends the wait at once, with nothing done.
TEST_F(FolderHoldTest, AStopWhileWaitingEndsTheWait) {
    WriteFile("vlmr3.exe", GAME);
    HeldByAnotherRun();
    g_fileOps.pause = [](unsigned milliseconds) {
        s_waited += milliseconds;
        RequestStop(SIGINT);
    };
    PatchJob job = MakeJob(16.0f / 9.0f, 2048, 1920);
    JobReport report;
    RunPatchJob(&job, &report);
    EXPECT_TRUE(report.stopped);
    EXPECT_FALSE(report.folderBusy);
    EXPECT_STREQ(job.failure_text, "Stopped!\r\n\r\nNothing was changed.");
    EXPECT_LT(s_waited, static_cast<unsigned>(FOLDER_WAIT_MS));
    EXPECT_EQ(Names(), std::set<std::string>{"vlmr3.exe"});
}

#ifndef _WIN32
// The hold is the system's own: a second descriptor of the folder cannot take it meanwhile.
TEST_F(FolderHoldTest, NativelyItIsALockOnTheFolder) {
    WriteFile("vlmr3.exe", GAME);
    s_tries = 0;
    g_fileOps.holdFolder = [](NativeFile* hold) {
        const FolderHoldState state = DEFAULT_FILE_OPS.holdFolder(hold);
        if (state == FOLDER_HELD) {
            NativeFile second = NO_NATIVE_FILE;
            EXPECT_EQ(DEFAULT_FILE_OPS.holdFolder(&second), FOLDER_BUSY);
            ++s_tries;
        }
        return state;
    };
    PatchJob job = MakeJob(16.0f / 9.0f, 2048, 1920);
    PatchWorker(&job);
    EXPECT_STREQ(job.failure_text, "");
    EXPECT_EQ(s_tries, 1);
    NativeFile after = NO_NATIVE_FILE;
    ASSERT_EQ(DEFAULT_FILE_OPS.holdFolder(&after), FOLDER_HELD) << "the job did not let go";
    DEFAULT_FILE_OPS.releaseFolder(after);
}
#endif

// Once the folder is held, the file the run opened must be the one under the game's name:
// a file that was replaced in between is not written.
TEST_F(FolderHoldTest, AGameReplacedBeforeTheOpenIsNotWritten) {
    WriteFile("vlmr3.exe", GAME);
    g_fileOps.identifyOpen = [](FILE* file) {
        FileIdentity identity = DEFAULT_FILE_OPS.identifyOpen(file);
        ++identity.index;  // the unlinked file of before
        return identity;
    };
    PatchJob job = MakeJob(16.0f / 9.0f, 2048, 1920);
    PatchWorker(&job);
    EXPECT_STREQ(job.failure_text, "Nothing was changed!\r\n\r\nvlmr3.exe was replaced\r\nwhile it was opened.");
    EXPECT_EQ(Names(), std::set<std::string>{"vlmr3.exe"});

    WriteFile("vlmr3.exe.orig", {1, 2, 3});
    RestoreResult result;
    RunRestore(true, &result);
    EXPECT_EQ(result.outcome, RESTORE_NOT_READ) << result.text;
    EXPECT_EQ(ReadFile("vlmr3.exe"), GAME);
}

}  // namespace
