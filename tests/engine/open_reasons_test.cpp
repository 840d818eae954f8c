// Why a candidate could not be opened, as the player reads it: each way an open can be
// refused is injected into the file operations, and natively the real refusals are made.

#include <cerrno>
#include <map>
#include <string>

#include <gtest/gtest.h>

#include "job_report.h"
#include "patch_worker.h"
#include "target_file.h"
#include "test_folder.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#endif

namespace {

const Bytes GAME = {0x90, 0xAB, 0xAA, 0xAA, 0x3F, 0x90};
const std::string NO_FILES = "No Velmora 2345 files\r\nMaybe file is busy";

// How one name's open goes wrong.
struct Refusal {
    enum Step { NONE, READ_ONLY_ATTRIBUTE, FOLDER, SYSTEM_ERROR, NO_DESCRIPTOR, NO_STREAM } step;
    unsigned long error;
    bool notOwned = false;   // natively: another user's file
    bool immutable = false;  // natively: the immutable attribute
};

std::map<std::string, Refusal> g_refusals;

Refusal RefusalOf(const char* name) {
    const auto found = g_refusals.find(name);
    return found == g_refusals.end() ? Refusal{Refusal::NONE, 0} : found->second;
}

FileFacts InjectedInspect(const char* name) {
    FileFacts facts = DEFAULT_FILE_OPS.inspect(name);
    const Refusal refusal = RefusalOf(name);
    if (refusal.step == Refusal::READ_ONLY_ATTRIBUTE) facts.readOnly = true;
    if (refusal.step == Refusal::FOLDER) facts.directory = true;
    if (refusal.notOwned) facts.owned = false;
    if (refusal.immutable) facts.immutable = true;
    return facts;
}

std::map<NativeFile, std::string> g_opened;

NativeFile InjectedOpen(const char* name, OpenDisposition disposition, unsigned long* error) {
    const Refusal refusal = RefusalOf(name);
    if (refusal.step == Refusal::SYSTEM_ERROR) {
        *error = refusal.error;
        return NO_NATIVE_FILE;
    }
    const NativeFile file = DEFAULT_FILE_OPS.openNative(name, disposition, error);
    g_opened[file] = name;
    return file;
}

std::map<int, std::string> g_descriptors;

int InjectedDescriptor(NativeFile file) {
    const std::string name = g_opened[file];
    if (RefusalOf(name.c_str()).step == Refusal::NO_DESCRIPTOR) return -1;
    const int descriptor = DEFAULT_FILE_OPS.descriptorOf(file);
    g_descriptors[descriptor] = name;
    return descriptor;
}

FILE* InjectedStream(int descriptor, const char* mode) {
    if (RefusalOf(g_descriptors[descriptor].c_str()).step == Refusal::NO_STREAM) return nullptr;
    return DEFAULT_FILE_OPS.streamOf(descriptor, mode);
}

#ifdef _WIN32
const unsigned long SHARING = ERROR_SHARING_VIOLATION, LOCKED = ERROR_LOCK_VIOLATION,
                    DENIED = ERROR_ACCESS_DENIED, OTHER = ERROR_INVALID_PARAMETER;
#else
const unsigned long SHARING = EWOULDBLOCK, LOCKED = EBUSY, DENIED = EACCES, OTHER = EIO;
#endif

class OpenReasons : public ::testing::Test {
protected:
    void SetUp() override {
        g_refusals.clear();
        g_fileOps.inspect = InjectedInspect;
        g_fileOps.openNative = InjectedOpen;
        g_fileOps.descriptorOf = InjectedDescriptor;
        g_fileOps.streamOf = InjectedStream;
    }
    void TearDown() override { g_fileOps = DEFAULT_FILE_OPS; }

    PatchJob Run(JobReport* report = nullptr) {
        PatchJob job = MakeJob(16.0f / 9.0f, 0, 0);
        RunPatchJob(&job, report);
        return job;
    }

    TestFolder folder;
    ToggleScope toggles{true, false, false, false};
};

// The hint's "<path>" as the native hints fill it in: the file's full path.
std::string WithPath(std::string lines) {
    const size_t at = lines.find("<path>");
    if (at != std::string::npos) lines.replace(at, 6, (std::filesystem::current_path() / "vlmr3.exe").string());
    return lines;
}

TEST_F(OpenReasons, EachRefusalIsNamedWithWhatToDo) {
    const struct {
        const char* name;
        Refusal refusal;
        OpenReason reason;
        const char* lines;  // after the two lines of the no-files text
    } cases[] = {
        {"sharing violation", {Refusal::SYSTEM_ERROR, SHARING}, OPEN_IN_USE,
         "\r\nvlmr3.exe: in use\r\nClose the game, then try again."},
        {"lock violation", {Refusal::SYSTEM_ERROR, LOCKED}, OPEN_IN_USE,
         "\r\nvlmr3.exe: in use\r\nClose the game, then try again."},
#ifdef _WIN32
        {"read-only attribute", {Refusal::READ_ONLY_ATTRIBUTE, 0}, OPEN_READ_ONLY,
         "\r\nvlmr3.exe: read-only\r\nClear its read-only attribute."},
        {"write access refused", {Refusal::SYSTEM_ERROR, DENIED}, OPEN_ACCESS_DENIED,
         "\r\nvlmr3.exe: access denied\r\nRun this tool as administrator."},
#else
        // In the system's own terms, in the order the checks come.
        {"immutable, refused", {Refusal::SYSTEM_ERROR, EPERM, false, true}, OPEN_IMMUTABLE,
         "\r\nvlmr3.exe: immutable\r\nClear it: sudo chattr -i -a '<path>'"},
        {"read-only file system", {Refusal::SYSTEM_ERROR, EROFS}, OPEN_READ_ONLY_FS,
         "\r\nvlmr3.exe: read-only file system\r\nCopy the game to a writable folder, or remount it read-write."},
        {"the user's own file, no write permission", {Refusal::SYSTEM_ERROR, EACCES}, OPEN_READ_ONLY,
         "\r\nvlmr3.exe: read-only\r\nMake it writable: chmod u+w '<path>'"},
        {"read-only attribute", {Refusal::READ_ONLY_ATTRIBUTE, 0}, OPEN_READ_ONLY,
         "\r\nvlmr3.exe: read-only\r\nMake it writable: chmod u+w '<path>'"},
        {"another user's file", {Refusal::SYSTEM_ERROR, EACCES, true}, OPEN_PERMISSION_DENIED,
         "\r\nvlmr3.exe: permission denied\r\nMake it yours: sudo chown \"$USER\" '<path>'"},
        {"not permitted", {Refusal::SYSTEM_ERROR, EPERM}, OPEN_PERMISSION_DENIED,
         "\r\nvlmr3.exe: permission denied\r\nMake it yours: sudo chown \"$USER\" '<path>'"},
#endif
        {"any other error", {Refusal::SYSTEM_ERROR, OTHER}, OPEN_FAILED, "\r\nvlmr3.exe: cannot be opened"},
        {"no runtime descriptor", {Refusal::NO_DESCRIPTOR, 0}, OPEN_FAILED, "\r\nvlmr3.exe: cannot be opened"},
        {"no stream", {Refusal::NO_STREAM, 0}, OPEN_FAILED, "\r\nvlmr3.exe: cannot be opened"},
        {"a folder of that name", {Refusal::FOLDER, 0}, OPEN_NOT_A_FILE, ""},
    };
    for (const auto& c : cases) {
        TestFolder caseFolder;
        WriteFile("vlmr3.exe", GAME);
        g_refusals = {{"vlmr3.exe", c.refusal}};
        JobReport report;
        const PatchJob job = Run(&report);
        EXPECT_STREQ(job.target_name, "") << c.name;
        EXPECT_EQ(job.failure_text, NO_FILES + WithPath(c.lines)) << c.name;
        EXPECT_EQ(report.candidates[2], c.reason) << c.name;
        EXPECT_EQ(ReadFile("vlmr3.exe"), GAME) << c.name;
        EXPECT_FALSE(FileExists("vlmr3.exe.bak")) << c.name;
        EXPECT_FALSE(FileExists("vlmr3.exe.orig")) << c.name;
    }
}

// The system's own words and names for what went wrong, as the console prints them.
TEST(SystemErrors, AreNamedAsTheSystemNamesThem) {
    char code[32];
    char text[PATCH_TEXT_SIZE];
#ifdef _WIN32
    FormatSystemErrorCode(ERROR_DISK_FULL, code);
    EXPECT_STREQ(code, "WIN32_112");
    FormatSystemErrorText(ERROR_DISK_FULL, text);
#else
    FormatSystemErrorCode(ENOSPC, code);
    EXPECT_STREQ(code, "ENOSPC");
    FormatSystemErrorCode(EROFS, code);
    EXPECT_STREQ(code, "EROFS");
    FormatSystemErrorText(ENOSPC, text);
    EXPECT_STREQ(text, "No space left on device");
#endif
    const std::string words = text;
    EXPECT_FALSE(words.empty());
    EXPECT_EQ(words.find_first_of("\r\n"), std::string::npos) << "one line: " << words;
}

TEST_F(OpenReasons, AnEmptyFolderGivesJustTheTwoLines) {
    JobReport report;
    const PatchJob job = Run(&report);
    EXPECT_EQ(job.failure_text, NO_FILES);
    for (OpenReason reason : report.candidates) EXPECT_EQ(reason, OPEN_MISSING);
}

TEST_F(OpenReasons, AtMostThreeInListOrderAndTheHintOfTheFirst) {
    for (const char* name : {"Vlmr2.exe", "v2plus.exe", "vm3plus.exe", "vlmr4.exe", "PCVlmr5.exe"}) {
        WriteFile(name, GAME);
    }
    ASSERT_TRUE(std::filesystem::create_directory("vlmr3.exe"));
    g_refusals = {
        {"PCVlmr5.exe", {Refusal::SYSTEM_ERROR, DENIED}},
        {"vlmr4.exe", {Refusal::SYSTEM_ERROR, OTHER}},
        {"vm3plus.exe", {Refusal::SYSTEM_ERROR, DENIED}},
        {"v2plus.exe", {Refusal::READ_ONLY_ATTRIBUTE, 0}},
        {"Vlmr2.exe", {Refusal::SYSTEM_ERROR, SHARING}},
    };
    const PatchJob job = Run();
#ifdef _WIN32
    const char* const denied = "access denied";
#else
    const char* const denied = "read-only";  // the user's own file
#endif
    EXPECT_EQ(job.failure_text, NO_FILES + "\r\nVlmr2.exe: in use\r\nv2plus.exe: read-only\r\nvm3plus.exe: " + denied +
                                    "\r\nClose the game, then try again.");
}

TEST_F(OpenReasons, RefusedEarlierCandidatesDoNotStopALaterOne) {
    WriteFile("Vlmr2.exe", GAME);
    WriteFile("vlmr4.exe", GAME);
    g_refusals = {{"Vlmr2.exe", {Refusal::SYSTEM_ERROR, SHARING}}};
    JobReport report;
    const PatchJob job = Run(&report);
    EXPECT_STREQ(job.target_name, "vlmr4.exe");
    EXPECT_STREQ(job.failure_text, "");
    EXPECT_EQ(report.candidates[0], OPEN_IN_USE);
    EXPECT_EQ(report.candidates[4], OPEN_OK);
}

#ifndef _WIN32

// Natively, for real: what another process does to the file, and what the file system says.
class NativeRefusals : public ::testing::Test {
protected:
    TestFolder folder;
};

// A second process that does `hold` to the file and keeps it so until it is killed.
class OtherProcess {
public:
    template <class Hold>
    OtherProcess(const char* name, Hold hold) {
        int ready[2];
        EXPECT_EQ(pipe(ready), 0);
        pid_ = fork();
        if (pid_ == 0) {
            close(ready[0]);
            const bool held = hold(name);
            const char byte = held ? '1' : '0';
            if (write(ready[1], &byte, 1) != 1) _exit(1);
            for (;;) pause();
        }
        close(ready[1]);
        char byte = 0;
        EXPECT_EQ(read(ready[0], &byte, 1), 1);
        EXPECT_EQ(byte, '1') << "the other process could not take hold of " << name;
        close(ready[0]);
    }
    ~OtherProcess() {
        kill(pid_, SIGKILL);
        waitpid(pid_, nullptr, 0);
    }
    OtherProcess(const OtherProcess&) = delete;
    OtherProcess& operator=(const OtherProcess&) = delete;

private:
    pid_t pid_;
};

OpenReason ReasonFor(const char* name) {
    OpenReason reason = OPEN_OK;
    FILE* file = OpenForUpdate(name, &reason);
    if (file != nullptr) fclose(file);
    return reason;
}

TEST_F(NativeRefusals, AnotherProcessThatHasTheFileMakesItInUse) {
    const struct {
        const char* how;
        bool (*hold)(const char* name);
    } cases[] = {
        {"open for reading", [](const char* name) { return open(name, O_RDONLY) >= 0; }},
        {"mapped, its descriptor closed",
         [](const char* name) {
             const int descriptor = open(name, O_RDONLY);
             void* mapped = mmap(nullptr, 4096, PROT_READ, MAP_PRIVATE, descriptor, 0);
             close(descriptor);
             return mapped != MAP_FAILED;
         }},
        {"an exclusive lock", [](const char* name) {
             const int descriptor = open(name, O_RDONLY);
             return descriptor >= 0 && flock(descriptor, LOCK_EX) == 0;
         }},
    };
    for (const auto& c : cases) {
        WriteFile("vlmr3.exe", GAME);
        {
            OtherProcess game("vlmr3.exe", c.hold);
            EXPECT_EQ(ReasonFor("vlmr3.exe"), OPEN_IN_USE) << c.how;
            PatchJob job = MakeJob(16.0f / 9.0f, 0, 0);
            RunPatchJob(&job);
            EXPECT_EQ(job.failure_text, NO_FILES + "\r\nvlmr3.exe: in use\r\nClose the game, then try again.")
                << c.how;
        }
        EXPECT_EQ(ReasonFor("vlmr3.exe"), OPEN_OK) << c.how << ", after the other process ended";
        EXPECT_EQ(ReadFile("vlmr3.exe"), GAME) << c.how;
    }
}

TEST_F(NativeRefusals, NoWriteBitIsReadOnly) {
    WriteFile("vlmr3.exe", GAME);
    ASSERT_EQ(chmod("vlmr3.exe", 0444), 0);
    EXPECT_EQ(ReasonFor("vlmr3.exe"), OPEN_READ_ONLY);
    chmod("vlmr3.exe", 0644);
}

TEST_F(NativeRefusals, AnImmutableFileIsNamedSo) {
    WriteFile("vlmr3.exe", GAME);
    if (std::system("chattr +i vlmr3.exe 2>/dev/null") != 0) {
        GTEST_SKIP() << "chattr +i is refused here (needs root and a file system with attributes)";
    }
    const OpenReason reason = ReasonFor("vlmr3.exe");
    EXPECT_EQ(std::system("chattr -i vlmr3.exe"), 0);
    EXPECT_EQ(reason, OPEN_IMMUTABLE);
}

TEST_F(NativeRefusals, TheJobsOwnHoldKeepsASecondOpenOut) {
    WriteFile("vlmr4.exe", GAME);
    static OpenReason s_secondOpen;
    s_secondOpen = OPEN_OK;
    g_fileOps.read = [](void* buffer, size_t size, FILE* file) {
        s_secondOpen = ReasonFor("vlmr4.exe");
        return DEFAULT_FILE_OPS.read(buffer, size, file);
    };
    PatchJob job = MakeJob(16.0f / 9.0f, 0, 0);
    RunPatchJob(&job);
    g_fileOps = DEFAULT_FILE_OPS;
    EXPECT_STREQ(job.status[RULE_WIDESCREEN], "Widescreen correction OK");
    EXPECT_EQ(s_secondOpen, OPEN_IN_USE);
}

#endif  // !_WIN32

}  // namespace
