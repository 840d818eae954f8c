// What only Windows (and Wine) can show: files that others hold open, read-only files, and
// the worker started as a real thread with the calling convention the runtime expects.

#ifdef _WIN32

#include <windows.h>
#include <process.h>
#include <share.h>

#include <string>

#include <gtest/gtest.h>

#include "patch_worker.h"
#include "test_folder.h"

namespace {

const Bytes GAME = {0x90, 0xAB, 0xAA, 0xAA, 0x3F, 0x90};
const Bytes GAME_PATCHED = {0x90, 0x39, 0x8E, 0xE3, 0x3F, 0x90};

// Holds a file open the way the running game would: shared with nobody.
class HeldOpen {
public:
    explicit HeldOpen(const char* name)
        : handle_(CreateFileA(name, GENERIC_READ, 0, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr)) {
        EXPECT_NE(handle_, INVALID_HANDLE_VALUE) << name;
    }
    ~HeldOpen() { CloseHandle(handle_); }
    HeldOpen(const HeldOpen&) = delete;
    HeldOpen& operator=(const HeldOpen&) = delete;

private:
    HANDLE handle_;
};

// Makes a file read-only as Windows knows it, and writable again afterwards.
class ReadOnly {
public:
    explicit ReadOnly(const std::string& name) : name_(name) {
        EXPECT_TRUE(SetFileAttributesA(name.c_str(), FILE_ATTRIBUTE_READONLY)) << name;
    }
    ~ReadOnly() { SetFileAttributesA(name_.c_str(), FILE_ATTRIBUTE_NORMAL); }
    ReadOnly(const ReadOnly&) = delete;
    ReadOnly& operator=(const ReadOnly&) = delete;

private:
    std::string name_;
};

PatchJob RunJob() {
    PatchJob job = MakeJob(16.0f / 9.0f, 0, 0);
    RunPatchJob(&job);
    return job;
}

class WindowsFiles : public ::testing::Test {
protected:
    TestFolder folder;
    ToggleScope toggles{true, false, false, false};
};

TEST_F(WindowsFiles, CandidateHeldOpenElsewhereCountsAsAbsent) {
    WriteFile("vlmr3.exe", GAME);
    {
        HeldOpen game("vlmr3.exe");
        PatchJob job = RunJob();
        EXPECT_STREQ(job.target_name, "");
        EXPECT_STREQ(job.widescreen_status, "");
    }
    EXPECT_EQ(ReadFile("vlmr3.exe"), GAME);
    EXPECT_FALSE(FileExists("vlmr3.exe.bak"));
}

TEST_F(WindowsFiles, BusyLaterCandidateLeavesTheEarlierOneAsTarget) {
    WriteFile("vlmr3.exe", GAME);
    WriteFile("vm3plus.exe", GAME);
    {
        HeldOpen game("vm3plus.exe");
        PatchJob job = RunJob();
        EXPECT_STREQ(job.target_name, "vlmr3.exe");
    }
    EXPECT_EQ(ReadFile("vlmr3.exe"), GAME_PATCHED);
    EXPECT_EQ(ReadFile("vm3plus.exe"), GAME);
}

TEST_F(WindowsFiles, ReadOnlyCandidateCountsAsAbsent) {
    WriteFile("PCVlmr5.exe", GAME);
    {
        ReadOnly locked("PCVlmr5.exe");
        PatchJob job = RunJob();
        EXPECT_STREQ(job.target_name, "");
    }
    EXPECT_EQ(ReadFile("PCVlmr5.exe"), GAME);
    EXPECT_FALSE(FileExists("PCVlmr5.exe.bak"));
}

TEST_F(WindowsFiles, BackupThatCannotBeWrittenLeavesTheGameUntouched) {
    const Bytes oldBackup = {1, 2, 3};
    const char expected[] = "Nothing was changed!\r\n\r\nThe backup vlmr4.exe.bak\r\ncould not be written.";
    for (const char* how : {"busy", "read-only"}) {
        TestFolder caseFolder;
        WriteFile("vlmr4.exe", GAME);
        WriteFile("vlmr4.exe.bak", oldBackup);
        PatchJob job;
        if (std::string(how) == "busy") {
            HeldOpen backup("vlmr4.exe.bak");
            job = RunJob();
        } else {
            ReadOnly backup("vlmr4.exe.bak");
            job = RunJob();
        }
        EXPECT_STREQ(job.target_name, "vlmr4.exe") << how;
        EXPECT_STREQ(job.failure_text, expected) << how;
        EXPECT_STREQ(job.widescreen_status, "") << how;
        EXPECT_EQ(ReadFile("vlmr4.exe"), GAME) << how;
        EXPECT_EQ(ReadFile("vlmr4.exe.bak"), oldBackup) << how;
    }
}

TEST_F(WindowsFiles, TargetIsSharedWithNobodyWhileTheJobRuns) {
    // A second open of the target must fail while the job holds it: the probe of the
    // same name proves that the job's own opens deny sharing.
    WriteFile("Vlmr2.exe", GAME);
    FILE* held = _fsopen("Vlmr2.exe", "r+b", _SH_DENYRW);
    ASSERT_NE(held, nullptr);
    EXPECT_EQ(CreateFileA("Vlmr2.exe", GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                          FILE_ATTRIBUTE_NORMAL, nullptr),
              INVALID_HANDLE_VALUE);
    fclose(held);
}

unsigned __stdcall CountingStart(void* arg) { return PatchWorker(arg) + 7; }

TEST_F(WindowsFiles, WorkerRunsOnItsOwnThread) {
    WriteFile("v2plus.exe", GAME);
    PatchJob job = MakeJob(16.0f / 9.0f, 0, 0);
    const uintptr_t started = _beginthreadex(nullptr, 0, PatchWorker, &job, 0, nullptr);
    ASSERT_NE(started, 0u);
    HANDLE thread = reinterpret_cast<HANDLE>(started);
    ASSERT_EQ(WaitForSingleObject(thread, 30000), WAIT_OBJECT_0);
    DWORD exitCode = 99;
    EXPECT_TRUE(GetExitCodeThread(thread, &exitCode));
    EXPECT_EQ(exitCode, 0u);
    CloseHandle(thread);
    EXPECT_STREQ(job.target_name, "v2plus.exe");
    EXPECT_STREQ(job.widescreen_status, "Widescreen correction OK");
    EXPECT_EQ(ReadFile("v2plus.exe"), GAME_PATCHED);
    EXPECT_EQ(CountingStart(&job), 7u);
}

}  // namespace

#endif  // _WIN32
