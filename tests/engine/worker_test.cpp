// The patch job against real files in a scratch working folder: which candidate is
// chosen, the backup, the write-back and the result lines, and every failure on the way.

#include <cstddef>
#include <cerrno>
#include <cstring>
#include <map>
#include <string>

#include <gtest/gtest.h>

#ifdef _WIN32
#include <windows.h>
#endif

#include "job_report.h"
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
    EXPECT_EQ(job.status[RULE_WIDESCREEN], lines.widescreen);
    EXPECT_EQ(job.status[RULE_CAMERA], lines.camera);
    EXPECT_EQ(job.status[RULE_FOV], lines.fov);
    EXPECT_EQ(job.status[RULE_FPS], lines.fps);
}

const Lines ALL_OK = {"Widescreen correction OK", "Camera dist correction OK", "FOV correction OK",
                      "60 FPS Unlock OK"};
const Lines NONE_USED = {"Widescreen correction not used", "Camera dist correction not used",
                         "FOV correction not used", "Unlock 60 FPS not used"};
const Lines EMPTY_LINES = {"", "", "", ""};

// The record's fields in their order and sizes, the same in the 32-bit and 64-bit builds.
TEST(PatchJobRecord, FieldsKeepTheirOrderTypesAndSizes) {
    EXPECT_EQ(sizeof(RuleValue::ratio), 4u);
    EXPECT_EQ(sizeof(RuleValue::whole), 4u);
    EXPECT_EQ(sizeof(RuleRequest), 12u);
    const size_t requests = RULE_COUNT * sizeof(RuleRequest);
    const struct {
        const char* field;
        size_t offset;
        size_t expected;
    } fields[] = {
        {"requests", offsetof(PatchJob, requests), 0},
        {"status", offsetof(PatchJob, status), requests},
        {"target_name", offsetof(PatchJob, target_name), requests + RULE_COUNT * 256},
        {"candidate", offsetof(PatchJob, candidate), requests + (RULE_COUNT + 1) * 256},
        {"failure_text", offsetof(PatchJob, failure_text), requests + (RULE_COUNT + 1) * 256 + 4},
    };
    for (const auto& f : fields) EXPECT_EQ(f.offset, f.expected) << f.field;
    EXPECT_EQ(sizeof(PatchJob), requests + (RULE_COUNT + 2) * 256 + 4);
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
    EXPECT_STREQ(job.failure_text, "No Velmora 2345 files\r\nMaybe file is busy");
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
        EXPECT_STREQ(job.status[RULE_WIDESCREEN], "Widescreen correction OK");
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
        EXPECT_STREQ(job.status[RULE_FPS], "Unlock 60 FPS not used") << name;
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
    EXPECT_STREQ(second.status[RULE_WIDESCREEN], "Widescreen correction not used");
    EXPECT_STREQ(second.status[RULE_CAMERA], "Camera dist correction not used");
    EXPECT_STREQ(second.status[RULE_FOV], "FOV correction not used");
    EXPECT_STREQ(second.status[RULE_FPS], "Unlock 60 FPS not used");
}

TEST(PatchWorkerEntry, RunsTheJobAndReturnsZero) {
    TestFolder folder;
    ToggleScope toggles(true, false, false, false);
    WriteFile("vm3plus.exe", GAME);
    PatchJob job = MakeJob(1.6f, 0, 0);
    EXPECT_EQ(PatchWorker(&job), 0u);
    EXPECT_STREQ(job.target_name, "vm3plus.exe");
    EXPECT_STREQ(job.status[RULE_WIDESCREEN], "Widescreen correction OK");
}

// --- failures, injected one at a time into the file operations ---------------------------

// Which file operation fails, on which file, and at which of its calls on that file.
enum FaultOp { FAIL_OPEN, FAIL_DESCRIPTOR, FAIL_STREAM, FAIL_TELL, HUGE_SIZE, FAIL_ALLOCATE, SHORT_READ,
               FAIL_REWIND, SHORT_WRITE, FAIL_FLUSH, FAIL_COMMIT, FAIL_CLOSE, FAIL_MOVE,
               FAIL_WRITE_AT,   // one stretch of the write-back not written at all
               SHORT_WRITE_AT,  // half of one stretch written, then the disk is full
               COPY_STOPS,      // the kernel's copy stops half-way (the rest must come from memory)
               FAULT_OP_COUNT };

struct Fault {
    FaultOp op;
    const char* file;
    int nth;
    unsigned long error = 0;  // what a failed open says; 0: another program has the file
    FaultOp then = FAULT_OP_COUNT;  // a later step on the same file that fails too, with EIO
};

#ifdef _WIN32
const unsigned long IN_USE_ERROR = ERROR_SHARING_VIOLATION, GONE_ERROR = ERROR_FILE_NOT_FOUND, DISK_FULL = ERROR_DISK_FULL,
                    IO_ERROR = ERROR_IO_DEVICE;
void SetSystemError(unsigned long error) { SetLastError(error); }
#else
const unsigned long IN_USE_ERROR = EWOULDBLOCK, GONE_ERROR = ENOENT, DISK_FULL = ENOSPC, IO_ERROR = EIO;
void SetSystemError(unsigned long error) { errno = static_cast<int>(error); }
#endif

// Follows each open from its name to its system handle, descriptor and stream, so that a
// fault can be aimed at one file, whichever step it is at.
class FaultyDisk {
public:
    static Fault fault;
    static std::map<std::string, int> calls;
    static std::map<NativeFile, std::string> natives;
    static std::map<int, std::string> descriptors;
    static std::map<FILE*, std::string> streams;

    static void Install(const Fault& f) {
        fault = f;
        calls.clear();
        natives.clear();
        descriptors.clear();
        streams.clear();
        g_fileOps = DEFAULT_FILE_OPS;
        g_fileOps.openNative = OpenNative;
        g_fileOps.descriptorOf = DescriptorOf;
        g_fileOps.streamOf = StreamOf;
        g_fileOps.tellSize = TellSize;
        g_fileOps.allocate = Allocate;
        g_fileOps.read = Read;
        g_fileOps.rewind = Rewind;
        g_fileOps.write = Write;
        g_fileOps.flush = Flush;
        g_fileOps.commit = Commit;
        g_fileOps.close = Close;
        g_fileOps.move = Move;
        g_fileOps.writeAt = WriteAt;
        // The copies are written from memory, where the faults above can reach them, unless
        // the case is about the kernel's copy.
        g_fileOps.clone = NoClone;
        g_fileOps.copyRange = f.op == COPY_STOPS ? CopyHalf : NoCopyRange;
    }
    static bool Reached() {
        return calls[std::to_string(fault.op) + fault.file] >= fault.nth;
    }

private:
    static bool Strikes(FaultOp op, const std::string& file) {
        if (op != fault.op || file != fault.file) return false;
        if (++calls[std::to_string(op) + file] != fault.nth) return false;
        SetSystemError(DISK_FULL);  // as a full disk would say it
        return true;
    }
    // The second fault of a run: once the first has struck, a later step on its file fails
    // too, with a reason of its own.
    static bool StrikesAgain(FaultOp op, const std::string& file) {
        if (op != fault.then || file != fault.file || !Reached()) return false;
        SetSystemError(IO_ERROR);
        return true;
    }
    static NativeFile OpenNative(const char* name, OpenDisposition disposition, unsigned long* error) {
        if (Strikes(FAIL_OPEN, name)) {
            *error = fault.error != 0 ? fault.error : IN_USE_ERROR;
            return NO_NATIVE_FILE;
        }
        const NativeFile file = DEFAULT_FILE_OPS.openNative(name, disposition, error);
        if (file != NO_NATIVE_FILE) natives[file] = name;
        return file;
    }
    static int DescriptorOf(NativeFile file) {
        if (Strikes(FAIL_DESCRIPTOR, natives[file])) return -1;
        const int descriptor = DEFAULT_FILE_OPS.descriptorOf(file);
        descriptors[descriptor] = natives[file];
        return descriptor;
    }
    static FILE* StreamOf(int descriptor, const char* mode) {
        if (Strikes(FAIL_STREAM, descriptors[descriptor])) return nullptr;
        FILE* stream = DEFAULT_FILE_OPS.streamOf(descriptor, mode);
        streams[stream] = descriptors[descriptor];
        return stream;
    }
    static bool TellSize(FILE* file, uint64_t* size) {
        if (Strikes(FAIL_TELL, streams[file])) return false;
        if (Strikes(HUGE_SIZE, streams[file])) {
            *size = 0x100000000ull;
            return true;
        }
        return DEFAULT_FILE_OPS.tellSize(file, size);
    }
    static void* Allocate(size_t size) { return Strikes(FAIL_ALLOCATE, "") ? nullptr : DEFAULT_FILE_OPS.allocate(size); }
    static size_t Read(void* buffer, size_t size, FILE* file) {
        return DEFAULT_FILE_OPS.read(buffer, Strikes(SHORT_READ, streams[file]) ? size - 1 : size, file);
    }
    static bool Rewind(FILE* file) { return !Strikes(FAIL_REWIND, streams[file]) && DEFAULT_FILE_OPS.rewind(file); }
    static size_t Write(const void* buffer, size_t size, FILE* file) {
        return DEFAULT_FILE_OPS.write(buffer, Strikes(SHORT_WRITE, streams[file]) ? size / 2 : size, file);
    }
    static int Flush(FILE* file) { return Strikes(FAIL_FLUSH, streams[file]) ? EOF : DEFAULT_FILE_OPS.flush(file); }
    static int Commit(FILE* file) { return Strikes(FAIL_COMMIT, streams[file]) ? -1 : DEFAULT_FILE_OPS.commit(file); }
    static int Close(FILE* file) {
        const std::string name = streams[file];
        const int result = DEFAULT_FILE_OPS.close(file);
        return Strikes(FAIL_CLOSE, name) || StrikesAgain(FAIL_CLOSE, name) ? EOF : result;
    }
    static bool Move(const char* from, const char* to, bool replace) {
        return !Strikes(FAIL_MOVE, to) && DEFAULT_FILE_OPS.move(from, to, replace);
    }
    static bool WriteAt(FILE* file, uint64_t offset, const void* data, size_t size) {
        const std::string name = streams[file];
        if (Strikes(FAIL_WRITE_AT, name)) return false;
        if (Strikes(SHORT_WRITE_AT, name)) {
            DEFAULT_FILE_OPS.writeAt(file, offset, data, size / 2);
            SetSystemError(DISK_FULL);
            return false;
        }
        return DEFAULT_FILE_OPS.writeAt(file, offset, data, size);
    }
    static bool NoClone(FILE*, FILE*, unsigned long* error) {
        *error = 1;
        return false;
    }
    static bool NoCopyRange(FILE*, FILE*, uint64_t, uint64_t*, unsigned long* error) {
        *error = 1;
        return false;
    }
    // Copies the first half in the kernel where it can, else says it copied it (the bytes
    // come from the game either way), then stops as a full disk would.
    static bool CopyHalf(FILE* destination, FILE* source, uint64_t size, uint64_t* copied, unsigned long* error) {
        if (!Strikes(COPY_STOPS, streams[destination])) return NoCopyRange(destination, source, size, copied, error);
        const uint64_t half = size / 2;
        if (!DEFAULT_FILE_OPS.copyRange(destination, source, half, copied, error)) {
            *copied = 0;
            std::vector<uint8_t> bytes(static_cast<size_t>(half));
            if (!DEFAULT_FILE_OPS.readAt(source, 0, bytes.data(), bytes.size()) ||
                !DEFAULT_FILE_OPS.writeAt(destination, 0, bytes.data(), bytes.size())) {
                return false;
            }
            *copied = half;
        }
        *error = DISK_FULL;
        return false;
    }
};

Fault FaultyDisk::fault;
std::map<std::string, int> FaultyDisk::calls;
std::map<NativeFile, std::string> FaultyDisk::natives;
std::map<int, std::string> FaultyDisk::descriptors;
std::map<FILE*, std::string> FaultyDisk::streams;

enum CopyAfter { COPY_ABSENT, COPY_OLD, COPY_OF_GAME };

struct FailureCase {
    const char* name;
    Fault fault;
    const char* text;  // the whole failure text, with the target and copy names filled in
    bool targetWritten;
    CopyAfter backup;
    CopyAfter original;
    FailedStep step = STEP_NONE;  // the step the report names, with the system's reason
    unsigned long reason = 0;     // that reason, where a case says which it must be
    GameOnDisk onDisk = GAME_ON_DISK_NOT_READ;  // after a failed write-back, read back
};

const char REOPEN_TEXT[] =
    "Nothing was changed!\r\n\r\nVlmr2.exe could not be\r\nopened again: in use\r\nClose the game, then try again.";
const char REOPEN_FAILED_TEXT[] = "Nothing was changed!\r\n\r\nVlmr2.exe could not be\r\nopened again: cannot be opened";
const char SIZE_TEXT[] = "Nothing was changed!\r\n\r\nThe size of Vlmr2.exe\r\ncould not be read.";
const char HUGE_TEXT[] = "Nothing was changed!\r\n\r\nVlmr2.exe is 4 GiB\r\nor larger.";
const char MEMORY_TEXT[] = "Nothing was changed!\r\n\r\nNot enough memory\r\nto read Vlmr2.exe.";
const char READ_TEXT[] = "Nothing was changed!\r\n\r\nVlmr2.exe could not\r\nbe read whole.";
const char BACKUP_TEXT[] = "Nothing was changed!\r\n\r\nThe backup Vlmr2.exe.bak\r\ncould not be written.";
const char ORIGINAL_TEXT[] = "Nothing was changed!\r\n\r\nThe original copy\r\nVlmr2.exe.orig\r\ncould not be written.";
const char WRITE_TEXT[] =
    "Writing Vlmr2.exe failed!\r\n\r\nVlmr2.exe.bak holds\r\nthe previous contents:\r\ncopy it back to restore\r\nthe game.";

const char TARGET[] = "Vlmr2.exe";
const char BACKUP_TEMP[] = "Vlmr2.exe.bak.velmora-tmp";
const char BACKUP[] = "Vlmr2.exe.bak";
const char ORIGINAL_TEMP[] = "Vlmr2.exe.orig.velmora-tmp";
const char ORIGINAL[] = "Vlmr2.exe.orig";

// The target is opened twice (the probe, then the job), the old backup once to see that it
// may be replaced; each copy is written to its temporary file and moved over its name, the
// original first, so that a failed original leaves the old backup as it was.
const FailureCase FAILURE_CASES[] = {
    {"target_reopen_in_use", {FAIL_OPEN, TARGET, 2}, REOPEN_TEXT, false, COPY_OLD, COPY_ABSENT},
    {"target_gone_before_reopen", {FAIL_OPEN, TARGET, 2, GONE_ERROR}, REOPEN_FAILED_TEXT, false, COPY_OLD, COPY_ABSENT},
    {"target_reopen_no_descriptor", {FAIL_DESCRIPTOR, TARGET, 2}, REOPEN_FAILED_TEXT, false, COPY_OLD, COPY_ABSENT},
    {"target_reopen_no_stream", {FAIL_STREAM, TARGET, 2}, REOPEN_FAILED_TEXT, false, COPY_OLD, COPY_ABSENT},
    {"size_unknown", {FAIL_TELL, TARGET, 1}, SIZE_TEXT, false, COPY_OLD, COPY_ABSENT},
    {"four_gib_or_more", {HUGE_SIZE, TARGET, 1}, HUGE_TEXT, false, COPY_OLD, COPY_ABSENT},
    {"allocation_fails", {FAIL_ALLOCATE, "", 1}, MEMORY_TEXT, false, COPY_OLD, COPY_ABSENT},
    {"short_read", {SHORT_READ, TARGET, 1}, READ_TEXT, false, COPY_OLD, COPY_ABSENT},
    {"old_backup_busy", {FAIL_OPEN, BACKUP, 1}, BACKUP_TEXT, false, COPY_OLD, COPY_ABSENT},
    {"backup_open_fails", {FAIL_OPEN, BACKUP_TEMP, 1}, BACKUP_TEXT, false, COPY_OLD, COPY_OF_GAME, STEP_BACKUP},
    {"backup_no_descriptor", {FAIL_DESCRIPTOR, BACKUP_TEMP, 1}, BACKUP_TEXT, false, COPY_OLD, COPY_OF_GAME, STEP_BACKUP},
    {"backup_no_stream", {FAIL_STREAM, BACKUP_TEMP, 1}, BACKUP_TEXT, false, COPY_OLD, COPY_OF_GAME, STEP_BACKUP},
    {"backup_short_write", {SHORT_WRITE, BACKUP_TEMP, 1}, BACKUP_TEXT, false, COPY_OLD, COPY_OF_GAME, STEP_BACKUP},
    {"backup_flush_fails", {FAIL_FLUSH, BACKUP_TEMP, 1}, BACKUP_TEXT, false, COPY_OLD, COPY_OF_GAME, STEP_BACKUP},
    {"backup_commit_fails", {FAIL_COMMIT, BACKUP_TEMP, 1}, BACKUP_TEXT, false, COPY_OLD, COPY_OF_GAME, STEP_BACKUP},
    {"backup_close_fails", {FAIL_CLOSE, BACKUP_TEMP, 1}, BACKUP_TEXT, false, COPY_OLD, COPY_OF_GAME, STEP_BACKUP},
    // Two faults in one run: the reason is the first one's, not the close's after it.
    {"backup_short_write_then_close_fails", {SHORT_WRITE, BACKUP_TEMP, 1, 0, FAIL_CLOSE}, BACKUP_TEXT, false, COPY_OLD,
     COPY_OF_GAME, STEP_BACKUP, DISK_FULL},
    {"backup_move_fails", {FAIL_MOVE, BACKUP, 1}, BACKUP_TEXT, false, COPY_OLD, COPY_OF_GAME, STEP_BACKUP},
    {"original_open_fails", {FAIL_OPEN, ORIGINAL_TEMP, 1}, ORIGINAL_TEXT, false, COPY_OLD, COPY_ABSENT, STEP_ORIGINAL},
    {"original_short_write", {SHORT_WRITE, ORIGINAL_TEMP, 1}, ORIGINAL_TEXT, false, COPY_OLD, COPY_ABSENT, STEP_ORIGINAL},
    {"original_commit_fails", {FAIL_COMMIT, ORIGINAL_TEMP, 1}, ORIGINAL_TEXT, false, COPY_OLD, COPY_ABSENT, STEP_ORIGINAL},
    {"original_close_fails", {FAIL_CLOSE, ORIGINAL_TEMP, 1}, ORIGINAL_TEXT, false, COPY_OLD, COPY_ABSENT, STEP_ORIGINAL},
    {"original_move_fails", {FAIL_MOVE, ORIGINAL, 1}, ORIGINAL_TEXT, false, COPY_OLD, COPY_ABSENT, STEP_ORIGINAL},
    // Only the changed stretches are written, in place (here two: the rules' hits touch in
    // pairs): what the disk holds after a failure is read back and named.
    {"write_back_first_stretch_fails", {FAIL_WRITE_AT, TARGET, 1}, WRITE_TEXT, true, COPY_OF_GAME, COPY_OF_GAME,
     STEP_WRITE_BACK, 0, GAME_AS_IT_WAS},
    {"write_back_second_stretch_fails", {FAIL_WRITE_AT, TARGET, 2}, WRITE_TEXT, true, COPY_OF_GAME, COPY_OF_GAME,
     STEP_WRITE_BACK, 0, GAME_PARTLY_PATCHED},
    {"write_back_short", {SHORT_WRITE_AT, TARGET, 1}, WRITE_TEXT, true, COPY_OF_GAME, COPY_OF_GAME, STEP_WRITE_BACK, 0,
     GAME_PARTLY_PATCHED},
    {"write_back_flush_fails", {FAIL_FLUSH, TARGET, 1}, WRITE_TEXT, true, COPY_OF_GAME, COPY_OF_GAME, STEP_WRITE_BACK, 0,
     GAME_FULLY_PATCHED},
    {"write_back_commit_fails", {FAIL_COMMIT, TARGET, 1}, WRITE_TEXT, true, COPY_OF_GAME, COPY_OF_GAME, STEP_WRITE_BACK, 0,
     GAME_FULLY_PATCHED},
    {"write_back_close_fails", {FAIL_CLOSE, TARGET, 2}, WRITE_TEXT, true, COPY_OF_GAME, COPY_OF_GAME, STEP_WRITE_BACK, 0,
     GAME_FULLY_PATCHED},
    // A kernel copy that stops part-way is finished from memory; a real full disk then fails
    // the memory write too and is reported as any other.
    {"backup_kernel_copy_stops", {COPY_STOPS, BACKUP_TEMP, 1}, "", true, COPY_OF_GAME, COPY_OF_GAME},
    {"original_kernel_copy_stops", {COPY_STOPS, ORIGINAL_TEMP, 1}, "", true, COPY_OF_GAME, COPY_OF_GAME},
};

class WorkerFailure : public ::testing::TestWithParam<FailureCase> {
protected:
    void SetUp() override { FaultyDisk::Install(GetParam().fault); }
    void TearDown() override { g_fileOps = DEFAULT_FILE_OPS; }
    TestFolder folder;
};

void ExpectCopy(const char* name, CopyAfter expected, const Bytes& old) {
    switch (expected) {
    case COPY_ABSENT: EXPECT_FALSE(FileExists(name)) << name; break;
    case COPY_OLD: EXPECT_EQ(ReadFile(name), old) << name; break;
    case COPY_OF_GAME: EXPECT_EQ(ReadFile(name), GAME) << name; break;
    }
}

TEST_P(WorkerFailure, IsReportedAndNeverLeavesAnUnsafeFile) {
    const FailureCase& c = GetParam();
    ToggleScope toggles(true, true, true, true);
    const Bytes oldBackup = {0xEE, 0xEE};
    WriteFile("Vlmr2.exe", GAME);
    WriteFile("Vlmr2.exe.bak", oldBackup);
    PatchJob job = MakeJob(16.0f / 9.0f, 2048, 1920);

    JobReport report;
    RunPatchJob(&job, &report);

    EXPECT_TRUE(FaultyDisk::Reached()) << "the fault was never reached";
    // What the run wrote before it failed is named, and where it failed, with why.
    EXPECT_EQ(report.originalWritten, c.original == COPY_OF_GAME);
    EXPECT_EQ(report.backupWritten, c.backup == COPY_OF_GAME);
    EXPECT_EQ(report.failedStep, c.step);
    if (c.step != STEP_NONE) {
        EXPECT_NE(report.systemError, 0u);
    }
    if (c.reason != 0) {
        EXPECT_EQ(report.systemError, c.reason);
    }
    EXPECT_STREQ(job.target_name, "Vlmr2.exe");
    EXPECT_STREQ(job.failure_text, c.text);
    if (c.targetWritten) {
        ExpectLines(job, ALL_OK);  // what the rules did to the image in memory
    } else {
        ExpectLines(job, EMPTY_LINES);
        EXPECT_EQ(ReadFile("Vlmr2.exe"), GAME);
    }
    ExpectCopy(BACKUP, c.backup, oldBackup);
    ExpectCopy(ORIGINAL, c.original, {});
    EXPECT_EQ(report.gameOnDisk, c.onDisk);
    if (c.onDisk != GAME_ON_DISK_NOT_READ) {
        // Each stretch named as the disk holds it: as before where the game has the backup's
        // bytes, patched where it has the image's.
        const Bytes onDisk = ReadFile("Vlmr2.exe");
        ASSERT_EQ(onDisk.size(), GAME.size());
        ASSERT_FALSE(report.spans.empty());
        for (const WrittenSpan& span : report.spans) {
            const Bytes there(onDisk.begin() + span.offset, onDisk.begin() + span.offset + span.length);
            const Bytes before(GAME.begin() + span.offset, GAME.begin() + span.offset + span.length);
            const SpanOnDisk expected = there == before ? SPAN_AS_BEFORE : SPAN_PATCHED;
            if (span.onDisk != SPAN_PARTLY) EXPECT_EQ(span.onDisk, expected) << "at " << span.offset;
        }
        if (c.onDisk == GAME_AS_IT_WAS) EXPECT_EQ(onDisk, GAME);
        if (c.onDisk == GAME_FULLY_PATCHED) EXPECT_NE(onDisk, GAME);
    }
    EXPECT_FALSE(FileExists(BACKUP_TEMP));
    EXPECT_FALSE(FileExists(ORIGINAL_TEMP));
}

INSTANTIATE_TEST_SUITE_P(Faults, WorkerFailure, ::testing::ValuesIn(FAILURE_CASES),
                         [](const ::testing::TestParamInfo<FailureCase>& info) { return info.param.name; });

}  // namespace
