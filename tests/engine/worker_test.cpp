// The patch job against real files in a scratch working folder: which candidate is
// chosen, the backup, the write-back and the result lines, and every failure on the way.

#include <cstddef>
#include <cstring>
#include <string>

#include <gtest/gtest.h>

#include "patch_worker.h"
#include "target_file.h"
#include "test_folder.h"

namespace {

const Bytes GAME = {0x55, 0xAB, 0xAA, 0xAA, 0x3F, 0xC7, 0x05, 1, 2, 3, 4, 0x00, 0x06, 0x00, 0x00,
                    0xA1, 1, 2, 3, 0x00, 0x99, 0x8B, 0xF8, 0x83, 0xFF, 0x02, 0xC3};
const Bytes GAME_ALL_RULES = {0x55, 0x39, 0x8E, 0xE3, 0x3F, 0xC7, 0x05, 1, 2, 3, 4, 0x00, 0x08, 0x00, 0x00,
                              0xB8, 0xA0, 0x05, 0x00, 0x00, 0x99, 0x8B, 0xF8, 0x83, 0xFF, 0x00, 0xC3};

struct Lines {
    std::string widescreen, camera, fov, fps;
};

void ExpectLines(const PatchJob& job, const Lines& lines) {
    EXPECT_EQ(job.widescreen_status, lines.widescreen);
    EXPECT_EQ(job.camera_status, lines.camera);
    EXPECT_EQ(job.fov_status, lines.fov);
    EXPECT_EQ(job.fps_status, lines.fps);
}

const Lines ALL_OK = {"Widescreen correction OK", "Camera dist correction OK", "FOV correction OK",
                      "60 FPS Unlock OK"};
const Lines NONE_USED = {"Widescreen correction not used", "Camera dist correction not used",
                         "FOV correction not used", "Unlock 60 FPS not used"};
const Lines EMPTY_LINES = {"", "", "", ""};

// The record's fields in their order and sizes, the same in the 32-bit and 64-bit builds;
// the failure text comes after the fields the window and worker have always shared.
TEST(PatchJobRecord, FieldsKeepTheirOrderTypesAndSizes) {
    EXPECT_EQ(sizeof(PatchJob::aspect_ratio), 4u);
    EXPECT_EQ(sizeof(PatchJob::camera_distance), 2u);
    EXPECT_EQ(sizeof(PatchJob::fov_width), 4u);
    const struct {
        const char* field;
        size_t offset;
        size_t expected;
    } fields[] = {
        {"aspect_ratio", offsetof(PatchJob, aspect_ratio), 0},
        {"camera_distance", offsetof(PatchJob, camera_distance), 4},
        {"fov_width", offsetof(PatchJob, fov_width), 8},
        {"widescreen_status", offsetof(PatchJob, widescreen_status), 12},
        {"camera_status", offsetof(PatchJob, camera_status), 12 + 256},
        {"fov_status", offsetof(PatchJob, fov_status), 12 + 2 * 256},
        {"fps_status", offsetof(PatchJob, fps_status), 12 + 3 * 256},
        {"target_name", offsetof(PatchJob, target_name), 12 + 4 * 256},
        {"failure_text", offsetof(PatchJob, failure_text), 12 + 5 * 256},
    };
    for (const auto& f : fields) EXPECT_EQ(f.offset, f.expected) << f.field;
    EXPECT_EQ(sizeof(PatchJob), 12u + 6 * 256);
}

class Worker : public ::testing::Test {
protected:
    TestFolder folder;
};

TEST_F(Worker, PatchesBacksUpAndReportsAllFourRules) {
    ToggleScope toggles(true, true, true, true);
    WriteFile("vlmr3.exe", GAME);
    PatchJob job = MakeJob(16.0f / 9.0f, 2048, 1920);
    RunPatchJob(&job);
    EXPECT_STREQ(job.target_name, "vlmr3.exe");
    EXPECT_STREQ(job.failure_text, "");
    ExpectLines(job, ALL_OK);
    EXPECT_EQ(ReadFile("vlmr3.exe"), GAME_ALL_RULES);
    EXPECT_EQ(ReadFile("vlmr3.exe.bak"), GAME);
}

TEST_F(Worker, NoCandidateTouchesNothing) {
    ToggleScope toggles(true, true, true, true);
    WriteFile("Vlmr2.exe.bak", GAME);
    WriteFile("vlmr6.exe", GAME);
    PatchJob job = MakeJob(16.0f / 9.0f, 2048, 1920);
    RunPatchJob(&job);
    EXPECT_STREQ(job.target_name, "");
    EXPECT_STREQ(job.failure_text, "");
    ExpectLines(job, EMPTY_LINES);
    EXPECT_EQ(ReadFile("vlmr6.exe"), GAME);
    EXPECT_EQ(ReadFile("Vlmr2.exe.bak"), GAME);
}

TEST_F(Worker, TheLastOpenableCandidateIsPatchedAndTheOthersAreLeftAlone) {
    const struct {
        std::vector<std::string> present;
        std::string target;
    } cases[] = {
        {{"Vlmr2.exe", "v2plus.exe"}, "v2plus.exe"},
        {{"vlmr3.exe", "vm3plus.exe"}, "vm3plus.exe"},
        {{"PCVlmr5.exe", "Vlmr2.exe", "vlmr4.exe"}, "PCVlmr5.exe"},
        {{"vlmr4.exe"}, "vlmr4.exe"},
    };
    ToggleScope toggles(true, false, false, false);
    for (const auto& c : cases) {
        TestFolder caseFolder;
        for (const auto& name : c.present) WriteFile(name, GAME);
        PatchJob job = MakeJob(16.0f / 9.0f, 0, 0);
        RunPatchJob(&job);
        EXPECT_EQ(job.target_name, c.target);
        EXPECT_STREQ(job.widescreen_status, "Widescreen correction OK");
        for (const auto& name : c.present) {
            const bool isTarget = name == c.target;
            EXPECT_EQ(ReadFile(name) != GAME, isTarget) << name;
            EXPECT_EQ(FileExists(name + ".bak"), isTarget) << name;
        }
    }
}

TEST_F(Worker, SixtyFpsIsNeverUnlockedInGamesFourAndFive) {
    ToggleScope toggles(false, false, false, true);
    for (const char* name : {"vlmr4.exe", "PCVlmr5.exe"}) {
        TestFolder caseFolder;
        WriteFile(name, GAME);
        PatchJob job = MakeJob(0, 0, 0);
        RunPatchJob(&job);
        EXPECT_STREQ(job.fps_status, "Unlock 60 FPS not used") << name;
        EXPECT_EQ(ReadFile(name), GAME) << name;
    }
}

TEST_F(Worker, NothingSwitchedOnStillBacksUpAndRewritesUnchanged) {
    const struct {
        const char* name;
        bool widescreen, camera, fov, fps;
        float aspect;
        int16_t camera_distance;
        int32_t fov_width;
    } cases[] = {
        {"toggles off", false, false, false, false, 16.0f / 9.0f, 2048, 1920},
        {"values zero", true, true, true, false, 0.0f, 0, 0},
    };
    for (const auto& c : cases) {
        TestFolder caseFolder;
        ToggleScope toggles(c.widescreen, c.camera, c.fov, c.fps);
        WriteFile("vlmr4.exe", GAME);
        WriteFile("vlmr4.exe.bak", {1, 2, 3});
        PatchJob job = MakeJob(c.aspect, c.camera_distance, c.fov_width);
        RunPatchJob(&job);
        ExpectLines(job, NONE_USED);
        EXPECT_EQ(ReadFile("vlmr4.exe"), GAME) << c.name;
        EXPECT_EQ(ReadFile("vlmr4.exe.bak"), GAME) << c.name;
    }
}

TEST_F(Worker, EmptyTargetGivesEmptyBackup) {
    ToggleScope toggles(true, true, true, true);
    WriteFile("Vlmr2.exe", {});
    PatchJob job = MakeJob(16.0f / 9.0f, 2048, 1920);
    RunPatchJob(&job);
    EXPECT_STREQ(job.target_name, "Vlmr2.exe");
    EXPECT_STREQ(job.failure_text, "");
    ExpectLines(job, NONE_USED);
    EXPECT_TRUE(FileExists("Vlmr2.exe.bak"));
    EXPECT_EQ(ReadFile("Vlmr2.exe.bak"), Bytes{});
    EXPECT_EQ(ReadFile("Vlmr2.exe"), Bytes{});
}

TEST_F(Worker, SecondRunBacksUpTheFirstRunsResult) {
    ToggleScope toggles(true, true, true, true);
    WriteFile("v2plus.exe", GAME);
    PatchJob first = MakeJob(16.0f / 9.0f, 2048, 1920);
    RunPatchJob(&first);
    PatchJob second = MakeJob(16.0f / 9.0f, 2048, 1920);
    RunPatchJob(&second);
    EXPECT_EQ(ReadFile("v2plus.exe.bak"), GAME_ALL_RULES);
    EXPECT_EQ(ReadFile("v2plus.exe"), GAME_ALL_RULES);
    // The first run rewrote every pattern, so the second finds none of them.
    EXPECT_STREQ(second.widescreen_status, "Widescreen correction not used");
    EXPECT_STREQ(second.camera_status, "Camera dist correction not used");
    EXPECT_STREQ(second.fov_status, "FOV correction not used");
    EXPECT_STREQ(second.fps_status, "Unlock 60 FPS not used");
}

TEST(PatchWorkerEntry, RunsTheJobAndReturnsZero) {
    TestFolder folder;
    ToggleScope toggles(true, false, false, false);
    WriteFile("vm3plus.exe", GAME);
    PatchJob job = MakeJob(1.6f, 0, 0);
    EXPECT_EQ(PatchWorker(&job), 0u);
    EXPECT_STREQ(job.target_name, "vm3plus.exe");
    EXPECT_STREQ(job.widescreen_status, "Widescreen correction OK");
}

// --- failures, injected one at a time into the file operations ---------------------------

enum FaultOp { FAIL_OPEN, FAIL_TELL, HUGE_SIZE, FAIL_ALLOCATE, SHORT_READ, SHORT_WRITE, FAIL_FLUSH, FAIL_CLOSE };

struct Fault {
    FaultOp op;
    int nth;  // which call of that operation fails, counting from 1
};

Fault g_fault;
int g_calls[FAIL_CLOSE + 1];

bool Strikes(FaultOp op) { return g_fault.op == op && ++g_calls[op] == g_fault.nth; }

FILE* FakeOpen(const char* name, const char* mode) {
    return Strikes(FAIL_OPEN) ? nullptr : DEFAULT_FILE_OPS.openExclusive(name, mode);
}
bool FakeTellSize(FILE* file, uint64_t* size) {
    if (Strikes(FAIL_TELL)) return false;
    if (Strikes(HUGE_SIZE)) {
        *size = 0x100000000ull;
        return true;
    }
    return DEFAULT_FILE_OPS.tellSize(file, size);
}
void* FakeAllocate(size_t size) { return Strikes(FAIL_ALLOCATE) ? nullptr : DEFAULT_FILE_OPS.allocate(size); }
size_t FakeRead(void* buffer, size_t size, FILE* file) {
    return DEFAULT_FILE_OPS.read(buffer, Strikes(SHORT_READ) ? size - 1 : size, file);
}
size_t FakeWrite(const void* buffer, size_t size, FILE* file) {
    return DEFAULT_FILE_OPS.write(buffer, Strikes(SHORT_WRITE) ? size / 2 : size, file);
}
int FakeFlush(FILE* file) { return Strikes(FAIL_FLUSH) ? EOF : DEFAULT_FILE_OPS.flush(file); }
int FakeClose(FILE* file) {
    const int result = DEFAULT_FILE_OPS.close(file);
    return Strikes(FAIL_CLOSE) ? EOF : result;
}

enum BackupAfter { NO_BACKUP, OLD_BACKUP_KEPT, BACKUP_OF_GAME };

struct FailureCase {
    const char* name;
    Fault fault;
    const char* text;  // the whole failure text, with the target and backup names filled in
    bool targetWritten;
    BackupAfter backup;
};

// With one candidate present, the calls come in this order: open #1 to #6 the probes of
// the six names, #7 target, #8 backup; close #1 probe, #2 backup, #3 target; write and flush #1 backup, #2 target.
const char REOPEN_TEXT[] = "Nothing was changed!\r\n\r\nVlmr2.exe could not be\r\nopened again.\r\nMaybe file is busy";
const char SIZE_TEXT[] = "Nothing was changed!\r\n\r\nThe size of Vlmr2.exe\r\ncould not be read.";
const char HUGE_TEXT[] = "Nothing was changed!\r\n\r\nVlmr2.exe is 4 GiB\r\nor larger.";
const char MEMORY_TEXT[] = "Nothing was changed!\r\n\r\nNot enough memory\r\nto read Vlmr2.exe.";
const char READ_TEXT[] = "Nothing was changed!\r\n\r\nVlmr2.exe could not\r\nbe read whole.";
const char BACKUP_TEXT[] = "Nothing was changed!\r\n\r\nThe backup Vlmr2.exe.bak\r\ncould not be written.";
const char WRITE_TEXT[] =
    "Writing Vlmr2.exe failed!\r\n\r\nVlmr2.exe.bak holds\r\nthe previous contents:\r\ncopy it back to restore\r\nthe game.";

const FailureCase FAILURE_CASES[] = {
    {"target_reopen_fails", {FAIL_OPEN, 7}, REOPEN_TEXT, false, OLD_BACKUP_KEPT},
    {"size_unknown", {FAIL_TELL, 1}, SIZE_TEXT, false, OLD_BACKUP_KEPT},
    {"four_gib_or_more", {HUGE_SIZE, 1}, HUGE_TEXT, false, OLD_BACKUP_KEPT},
    {"allocation_fails", {FAIL_ALLOCATE, 1}, MEMORY_TEXT, false, OLD_BACKUP_KEPT},
    {"short_read", {SHORT_READ, 1}, READ_TEXT, false, OLD_BACKUP_KEPT},
    {"backup_open_fails", {FAIL_OPEN, 8}, BACKUP_TEXT, false, OLD_BACKUP_KEPT},
    {"backup_short_write", {SHORT_WRITE, 1}, BACKUP_TEXT, false, NO_BACKUP},
    {"backup_flush_fails", {FAIL_FLUSH, 1}, BACKUP_TEXT, false, NO_BACKUP},
    {"backup_close_fails", {FAIL_CLOSE, 2}, BACKUP_TEXT, false, NO_BACKUP},
    {"write_back_short", {SHORT_WRITE, 2}, WRITE_TEXT, true, BACKUP_OF_GAME},
    {"write_back_flush_fails", {FAIL_FLUSH, 2}, WRITE_TEXT, true, BACKUP_OF_GAME},
    {"write_back_close_fails", {FAIL_CLOSE, 3}, WRITE_TEXT, true, BACKUP_OF_GAME},
};

class WorkerFailure : public ::testing::TestWithParam<FailureCase> {
protected:
    void SetUp() override {
        std::memset(g_calls, 0, sizeof g_calls);
        g_fault = GetParam().fault;
        g_fileOps = {FakeOpen, FakeTellSize, DEFAULT_FILE_OPS.rewind, FakeRead, FakeWrite,
                     FakeFlush, FakeClose, DEFAULT_FILE_OPS.remove, FakeAllocate, DEFAULT_FILE_OPS.release};
    }
    void TearDown() override { g_fileOps = DEFAULT_FILE_OPS; }
    TestFolder folder;
};

TEST_P(WorkerFailure, IsReportedAndNeverLeavesAnUnsafeFile) {
    const FailureCase& c = GetParam();
    ToggleScope toggles(true, true, true, true);
    const Bytes oldBackup = {0xEE, 0xEE};
    WriteFile("Vlmr2.exe", GAME);
    WriteFile("Vlmr2.exe.bak", oldBackup);
    PatchJob job = MakeJob(16.0f / 9.0f, 2048, 1920);

    RunPatchJob(&job);

    EXPECT_EQ(g_calls[c.fault.op] >= c.fault.nth, true) << "the fault was never reached";
    EXPECT_STREQ(job.target_name, "Vlmr2.exe");
    EXPECT_STREQ(job.failure_text, c.text);
    if (c.targetWritten) {
        ExpectLines(job, ALL_OK);  // what the rules did to the image in memory
    } else {
        ExpectLines(job, EMPTY_LINES);
        EXPECT_EQ(ReadFile("Vlmr2.exe"), GAME);
    }
    switch (c.backup) {
    case NO_BACKUP: EXPECT_FALSE(FileExists("Vlmr2.exe.bak")); break;
    case OLD_BACKUP_KEPT: EXPECT_EQ(ReadFile("Vlmr2.exe.bak"), oldBackup); break;
    case BACKUP_OF_GAME: EXPECT_EQ(ReadFile("Vlmr2.exe.bak"), GAME); break;
    }
}

INSTANTIATE_TEST_SUITE_P(Faults, WorkerFailure, ::testing::ValuesIn(FAILURE_CASES),
                         [](const ::testing::TestParamInfo<FailureCase>& info) { return info.param.name; });

}  // namespace
