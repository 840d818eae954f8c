// What only Windows (and Wine) can show: files that other processes hold open, read-only and
// immutable files, a disk that fills up during the backup, the sharing mode of the job's own
// handle, and the worker started as a real thread with the calling convention the runtime
// expects.

#ifdef _WIN32

#include <windows.h>
#include <io.h>
#include <process.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <map>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "patch_worker.h"
#include "restore.h"
#include "result_text.h"
#include "target_file.h"
#include "test_folder.h"

namespace fs = std::filesystem;

namespace {

const Bytes GAME = {0x90, 0xAB, 0xAA, 0xAA, 0x3F, 0x90};
const Bytes GAME_PATCHED = {0x90, 0x39, 0x8E, 0xE3, 0x3F, 0x90};

PatchJob RunJob() {
    PatchJob job = MakeJob(16.0f / 9.0f, 0, 0);
    RunPatchJob(&job);
    return job;
}

// What the result screen would show for the job.
std::string ResultTextOf(const PatchJob& job) {
    char text[PATCH_TEXT_SIZE];
    FormatResultText(job, text);
    return text;
}

std::vector<std::string> FilesHere() {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(".")) names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

std::string FullPathOf(const std::string& name) {
    char path[MAX_PATH];
    const DWORD length = GetFullPathNameA(name.c_str(), MAX_PATH, path, nullptr);
    return length > 0 && length < MAX_PATH ? std::string(path) : name;
}

std::string UniqueSuffix() {
    static std::atomic<unsigned> counter{0};
    std::random_device seed;
    return std::to_string(GetCurrentProcessId()) + "-" + std::to_string(seed() % 100000) + "-" +
           std::to_string(counter++);
}

// --- other processes ---------------------------------------------------------------------

// file_holder.exe, built beside this test program.
std::string HolderProgram() {
    char path[MAX_PATH];
    const DWORD length = GetModuleFileNameA(nullptr, path, MAX_PATH);
    if (length == 0 || length >= MAX_PATH) return "file_holder.exe";
    return (fs::path(path).parent_path() / "file_holder.exe").string();
}

// Something done to a file for the length of one case and undone afterwards.
class Condition {
public:
    virtual ~Condition() = default;
    // Empty when the condition holds; otherwise why it could not be brought about.
    std::string unmet;
    // The system refused it (no root, or a file system without the feature): nothing the
    // program can be blamed for, so the case is skipped, saying why.
    bool unsupported = false;
};

// Another process holds the file open with share mode 0, as the running game holds its
// executable, until this object goes.
class HeldByAnotherProcess : public Condition {
public:
    explicit HeldByAnotherProcess(const std::string& name) {
        const std::string suffix = UniqueSuffix();
        const std::string readyName = "velmora-holder-ready-" + suffix;
        const std::string releaseName = "velmora-holder-release-" + suffix;
        ready_ = CreateEventA(nullptr, TRUE, FALSE, readyName.c_str());
        release_ = CreateEventA(nullptr, TRUE, FALSE, releaseName.c_str());
        if (ready_ == nullptr || release_ == nullptr) {
            unmet = "CreateEvent failed: error " + std::to_string(GetLastError());
            return;
        }
        std::string commandLine = "\"" + HolderProgram() + "\" \"" + FullPathOf(name) + "\" " + readyName + " " +
                                  releaseName;
        STARTUPINFOA startup = {};
        startup.cb = sizeof startup;
        PROCESS_INFORMATION started = {};
        if (!CreateProcessA(nullptr, &commandLine[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                            &started)) {
            unmet = "cannot start " + commandLine + ": error " + std::to_string(GetLastError());
            return;
        }
        CloseHandle(started.hThread);
        process_ = started.hProcess;
        // The 32-bit Wine is emulated: a process start takes seconds there.
        HANDLE waitFor[] = {ready_, process_};
        const DWORD waited = WaitForMultipleObjects(2, waitFor, FALSE, 90000);
        if (waited != WAIT_OBJECT_0) {
            DWORD code = 0;
            GetExitCodeProcess(process_, &code);
            unmet = "file_holder did not get hold of " + name + " (wait " + std::to_string(waited) + ", exit code " +
                    std::to_string(code) + ")";
        }
    }

    ~HeldByAnotherProcess() override {
        if (release_ != nullptr) SetEvent(release_);
        if (process_ != nullptr) {
            EXPECT_EQ(WaitForSingleObject(process_, 30000), WAIT_OBJECT_0) << "file_holder did not let go";
            DWORD code = 1;
            GetExitCodeProcess(process_, &code);
            if (unmet.empty()) {
                EXPECT_EQ(code, 0u) << "file_holder's exit code";
            }
            CloseHandle(process_);
        }
        if (ready_ != nullptr) CloseHandle(ready_);
        if (release_ != nullptr) CloseHandle(release_);
    }

private:
    HANDLE ready_ = nullptr;
    HANDLE release_ = nullptr;
    HANDLE process_ = nullptr;
};

// A second handle of this same process holds the file, shared with nobody.
class HeldByThisProcess : public Condition {
public:
    explicit HeldByThisProcess(const std::string& name)
        : handle_(CreateFileA(name.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr)) {
        if (handle_ == INVALID_HANDLE_VALUE) unmet = "cannot hold " + name + ": error " + std::to_string(GetLastError());
    }
    ~HeldByThisProcess() override {
        if (handle_ != INVALID_HANDLE_VALUE) CloseHandle(handle_);
    }

private:
    HANDLE handle_;
};

// The read-only attribute, as Windows knows it, taken off again afterwards.
class ReadOnlyAttribute : public Condition {
public:
    explicit ReadOnlyAttribute(const std::string& name) : name_(name) {
        if (!SetFileAttributesA(name.c_str(), FILE_ATTRIBUTE_READONLY)) {
            unmet = "SetFileAttributes failed: error " + std::to_string(GetLastError());
        }
    }
    ~ReadOnlyAttribute() override { SetFileAttributesA(name_.c_str(), FILE_ATTRIBUTE_NORMAL); }

private:
    std::string name_;
};

// --- Unix programs (Wine only) ---------------------------------------------------------------

// Wine's own exports of kernel32 that map between Windows and Unix names; null elsewhere.
using UnixNameFunction = char*(CDECL*)(LPCWSTR);
using DosNameFunction = WCHAR*(CDECL*)(LPCSTR);

template <typename Function>
Function WineExport(const char* name) {
    return reinterpret_cast<Function>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleA("kernel32.dll"), name)));
}

// The Unix path of a Windows path, or empty when not under Wine.
std::string UnixNameOf(const std::string& windowsName) {
    const auto toUnix = WineExport<UnixNameFunction>("wine_get_unix_file_name");
    if (toUnix == nullptr) return "";
    const std::string full = FullPathOf(windowsName);
    std::wstring wide(full.begin(), full.end());
    char* unixName = toUnix(wide.c_str());
    if (unixName == nullptr) return "";
    std::string result = unixName;
    HeapFree(GetProcessHeap(), 0, unixName);
    return result;
}

std::string DosNameOf(const std::string& unixName) {
    const auto toDos = WineExport<DosNameFunction>("wine_get_dos_file_name");
    if (toDos == nullptr) return "";
    WCHAR* dosName = toDos(unixName.c_str());
    if (dosName == nullptr) return "";
    char narrow[MAX_PATH] = {};
    WideCharToMultiByte(CP_ACP, 0, dosName, -1, narrow, MAX_PATH, nullptr, nullptr);
    HeapFree(GetProcessHeap(), 0, dosName);
    return narrow;
}

std::string ShellQuoted(const std::string& path) { return "'" + path + "'"; }

struct UnixRun {
    bool ran = false;    // the command was started and ended
    int exitCode = -1;
    std::string output;  // its stdout and stderr, or why it could not be run
};

std::string ReadText(const std::string& name) {
    const Bytes bytes = ReadFile(name);
    std::string text(bytes.begin(), bytes.end());
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.pop_back();
    return text;
}

// Runs `command` with /bin/sh. Wine starts a Unix program directly from CreateProcess but
// gives no handle to wait on, so the shell leaves the exit code in a file, which appears
// whole (moved into place) when the command has ended.
UnixRun RunUnixCommand(const std::string& command) {
    UnixRun run;
    char temp[MAX_PATH];
    if (GetTempPathA(MAX_PATH, temp) == 0) {
        run.output = "no temporary folder";
        return run;
    }
    const std::string base = UnixNameOf(std::string(temp) + "velmora-unix-" + UniqueSuffix());
    if (base.empty()) {
        run.output = "not under Wine: no Unix programs to run";
        return run;
    }
    if (command.find('"') != std::string::npos || base.find('\'') != std::string::npos) {
        run.output = "cannot quote: " + command;
        return run;
    }
    const std::string output = base + ".out", status = base + ".status";
    std::string commandLine = "/bin/sh -c \"( " + command + " ) >" + ShellQuoted(output) + " 2>&1; echo $? >" +
                              ShellQuoted(status + ".part") + "; mv " + ShellQuoted(status + ".part") + " " +
                              ShellQuoted(status) + "\"";
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION started = {};
    if (!CreateProcessA(nullptr, &commandLine[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                        &started)) {
        run.output = "cannot start /bin/sh: error " + std::to_string(GetLastError());
        return run;
    }
    // What Wine puts into `started` for a Unix program is no handle: it is not closed.
    const std::string statusName = DosNameOf(status), outputName = DosNameOf(output);
    const DWORD start = GetTickCount();
    while (GetFileAttributesA(statusName.c_str()) == INVALID_FILE_ATTRIBUTES) {
        if (GetTickCount() - start > 60000) {
            run.output = "no end of: " + command;
            return run;
        }
        Sleep(20);
    }
    run.ran = true;
    run.exitCode = std::atoi(ReadText(statusName).c_str());
    run.output = ReadText(outputName);
    DeleteFileA(statusName.c_str());
    DeleteFileA(outputName.c_str());
    return run;
}

// The immutable flag (chattr +i) on a 0644 file: even root may not open it for writing, and
// Windows has no name for that refusal but "access denied". Always taken off again.
class Immutable : public Condition {
public:
    explicit Immutable(const std::string& name) : unixName_(UnixNameOf(name)) {
        if (unixName_.empty()) {
            unsupported = true;
            unmet = "not under Wine: no chattr";
            return;
        }
        const UnixRun run =
            RunUnixCommand("chmod 0644 " + ShellQuoted(unixName_) + " && /usr/bin/chattr +i " + ShellQuoted(unixName_));
        if (!run.ran || run.exitCode != 0) {
            unsupported = true;
            unmet = "chattr +i refused (exit code " + std::to_string(run.exitCode) + "): " + run.output;
        }
    }
    ~Immutable() override {
        if (unixName_.empty()) return;
        const UnixRun run = RunUnixCommand("/usr/bin/chattr -i " + ShellQuoted(unixName_));
        if (!unsupported) {
            EXPECT_TRUE(run.ran && run.exitCode == 0) << "chattr -i " << unixName_ << ": " << run.output;
        }
    }

private:
    std::string unixName_;
};

// A small tmpfs of its own, mounted on a fresh folder under /tmp and reached through
// Wine's Z: drive; unmounted and removed afterwards.
class SmallDisk {
public:
    explicit SmallDisk(const char* size) : unixPath_("/tmp/velmora-full-" + UniqueSuffix()) {
        const UnixRun run = RunUnixCommand("mkdir " + ShellQuoted(unixPath_) + " && /bin/mount -t tmpfs -o size=" +
                                           size + " velmora-full " + ShellQuoted(unixPath_));
        made_ = run.ran;
        if (!run.ran || run.exitCode != 0) {
            unmet_ = "mount of a tmpfs refused (exit code " + std::to_string(run.exitCode) + "): " + run.output;
            return;
        }
        windowsPath_ = DosNameOf(unixPath_);
        if (windowsPath_.empty()) unmet_ = "no Windows name for " + unixPath_;
    }
    ~SmallDisk() {
        if (!made_) return;
        const std::string path = ShellQuoted(unixPath_);
        const UnixRun run = RunUnixCommand("if mountpoint -q " + path + "; then /bin/umount " + path +
                                           " || /bin/umount -l " + path + "; fi; rmdir " + path);
        EXPECT_TRUE(run.ran && run.exitCode == 0) << "umount " << unixPath_ << ": " << run.output;
    }
    SmallDisk(const SmallDisk&) = delete;
    SmallDisk& operator=(const SmallDisk&) = delete;

    const std::string& unmet() const { return unmet_; }
    const std::string& windowsPath() const { return windowsPath_; }

private:
    std::string unixPath_;
    std::string windowsPath_;
    std::string unmet_;
    bool made_ = false;
};

// The current folder for one scope, put back afterwards (also before a disk is unmounted).
class InFolder {
public:
    explicit InFolder(const std::string& path) : previous_(fs::current_path()) { fs::current_path(path); }
    ~InFolder() { fs::current_path(previous_); }
    InFolder(const InFolder&) = delete;
    InFolder& operator=(const InFolder&) = delete;

private:
    fs::path previous_;
};

// Fills the disk of the current folder with `name`, leaving exactly `leave` bytes free
// (a multiple of the tmpfs page size).
ULONGLONG FillDiskLeaving(const char* name, LONGLONG leave) {
    HANDLE file = CreateFileA(name, GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return 0;
    const std::vector<char> block(4096, 'f');
    DWORD written = 0;
    while (WriteFile(file, block.data(), static_cast<DWORD>(block.size()), &written, nullptr) &&
           written == block.size()) {
    }
    LARGE_INTEGER size = {};
    GetFileSizeEx(file, &size);
    LARGE_INTEGER keep;
    keep.QuadPart = std::max<LONGLONG>(0, size.QuadPart / 4096 * 4096 - leave);
    SetFilePointerEx(file, keep, nullptr, FILE_BEGIN);
    SetEndOfFile(file);
    CloseHandle(file);
    ULARGE_INTEGER available = {}, total = {}, totalFree = {};
    GetDiskFreeSpaceExA(".", &available, &total, &totalFree);
    return available.QuadPart;
}

// --- the cases -----------------------------------------------------------------------------

class WindowsFiles : public ::testing::Test {
protected:
    TestFolder folder;
    ToggleScope toggles{true, false, false, false};
};

const char NO_FILES[] = "No Velmora 2345 files\r\nMaybe file is busy\r\n";

struct Refusal {
    const char* label;
    const char* candidate;
    std::unique_ptr<Condition> (*impose)(const std::string& name);
    std::string expected;  // the whole result text
};

template <typename C>
std::unique_ptr<Condition> Impose(const std::string& name) {
    return std::make_unique<C>(name);
}

void PrintTo(const Refusal& refusal, std::ostream* out) { *out << refusal.label; }

class RealRefusal : public WindowsFiles, public ::testing::WithParamInterface<Refusal> {};

// A candidate that is there but refused is named with the reason Windows gave, the player is
// told what to do about it, and nothing in the folder changes.
TEST_P(RealRefusal, NamesTheReasonAndLeavesTheFolderAlone) {
    const Refusal& refusal = GetParam();
    WriteFile(refusal.candidate, GAME);
    {
        const std::unique_ptr<Condition> condition = refusal.impose(refusal.candidate);
        if (condition->unsupported) GTEST_SKIP() << refusal.label << ": " << condition->unmet;
        ASSERT_EQ(condition->unmet, "");
        const PatchJob job = RunJob();
        EXPECT_STREQ(job.target_name, "");
        EXPECT_STREQ(job.status[RULE_WIDESCREEN], "");
        EXPECT_EQ(ResultTextOf(job), refusal.expected);
    }
    EXPECT_EQ(ReadFile(refusal.candidate), GAME);
    EXPECT_EQ(FilesHere(), std::vector<std::string>{refusal.candidate});
}

INSTANTIATE_TEST_SUITE_P(
    WindowsFiles, RealRefusal,
    ::testing::Values(
        Refusal{"HeldByAnotherProcess", "vlmr3.exe", Impose<HeldByAnotherProcess>,
                std::string(NO_FILES) + "vlmr3.exe: in use\r\nClose the game, then try again."},
        Refusal{"HeldByAnotherHandle", "vlmr3.exe", Impose<HeldByThisProcess>,
                std::string(NO_FILES) + "vlmr3.exe: in use\r\nClose the game, then try again."},
        Refusal{"ReadOnlyAttribute", "PCVlmr5.exe", Impose<ReadOnlyAttribute>,
                std::string(NO_FILES) + "PCVlmr5.exe: read-only\r\nClear its read-only attribute."},
        Refusal{"ImmutableAsRoot", "vm3plus.exe", Impose<Immutable>,
                std::string(NO_FILES) + "vm3plus.exe: access denied\r\nRun this tool as administrator."}),
    [](const ::testing::TestParamInfo<Refusal>& info) { return std::string(info.param.label); });

TEST_F(WindowsFiles, BusyLaterCandidateLeavesTheEarlierOneAsTarget) {
    WriteFile("vlmr3.exe", GAME);
    WriteFile("vm3plus.exe", GAME);
    {
        HeldByAnotherProcess game("vm3plus.exe");
        ASSERT_EQ(game.unmet, "");
        PatchJob job = RunJob();
        EXPECT_STREQ(job.target_name, "vlmr3.exe");
        EXPECT_STREQ(job.failure_text, "");
    }
    EXPECT_EQ(ReadFile("vlmr3.exe"), GAME_PATCHED);
    EXPECT_EQ(ReadFile("vm3plus.exe"), GAME);
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
            HeldByThisProcess backup("vlmr4.exe.bak");
            EXPECT_EQ(backup.unmet, "");
            job = RunJob();
        } else {
            ReadOnlyAttribute backup("vlmr4.exe.bak");
            EXPECT_EQ(backup.unmet, "");
            job = RunJob();
        }
        EXPECT_STREQ(job.target_name, "vlmr4.exe") << how;
        EXPECT_STREQ(job.failure_text, expected) << how;
        EXPECT_STREQ(job.status[RULE_WIDESCREEN], "") << how;
        EXPECT_EQ(ReadFile("vlmr4.exe"), GAME) << how;
        EXPECT_EQ(ReadFile("vlmr4.exe.bak"), oldBackup) << how;
        EXPECT_EQ(FilesHere(), (std::vector<std::string>{"vlmr4.exe", "vlmr4.exe.bak"})) << how;
    }
}

// The disk fills up while the copies are written (the original first): the previous backup,
// the only copy of an earlier state, must come through byte for byte, and the game must not
// be touched.
TEST_F(WindowsFiles, FullDiskDuringTheCopiesKeepsThePreviousBackup) {
    SmallDisk disk("64k");
    if (!disk.unmet().empty()) GTEST_SKIP() << disk.unmet();
    InFolder onTheSmallDisk(disk.windowsPath());

    Bytes game(10000, 0x90);
    std::copy(GAME.begin(), GAME.end(), game.begin() + 5000);
    Bytes oldBackup(10000);
    for (size_t i = 0; i < oldBackup.size(); ++i) oldBackup[i] = static_cast<unsigned char>(i * 7 + 1);
    WriteFile("vlmr3.exe", game);
    WriteFile("vlmr3.exe.bak", oldBackup);
    // Room for part of a copy, not for all of it.
    const ULONGLONG room = FillDiskLeaving("filler", 4096);
    ASSERT_GT(room, 0u);
    ASSERT_LT(room, game.size());

    const PatchJob job = RunJob();
    EXPECT_EQ(ResultTextOf(job), "Nothing was changed!\r\n\r\nThe original copy\r\nvlmr3.exe.orig\r\ncould not be written.");
    EXPECT_EQ(ReadFile("vlmr3.exe.bak"), oldBackup);
    EXPECT_EQ(ReadFile("vlmr3.exe"), game);
    EXPECT_EQ(FilesHere(), (std::vector<std::string>{"filler", "vlmr3.exe", "vlmr3.exe.bak"}));
}

// What a second handle meets while a real job is reading the target.
struct SecondOpen {
    std::string target;
    std::vector<DWORD> errors;  // one per read: 0 when the second handle opened
};
SecondOpen g_secondOpen;

size_t ReadAfterTryingASecondHandle(void* buffer, size_t size, FILE* file) {
    HANDLE second = CreateFileA(g_secondOpen.target.c_str(), GENERIC_READ,
                                FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                FILE_ATTRIBUTE_NORMAL, nullptr);
    if (second == INVALID_HANDLE_VALUE) {
        g_secondOpen.errors.push_back(GetLastError());
    } else {
        g_secondOpen.errors.push_back(0);
        CloseHandle(second);
    }
    return DEFAULT_FILE_OPS.read(buffer, size, file);
}

struct FileOpsScope {
    ~FileOpsScope() { g_fileOps = DEFAULT_FILE_OPS; }
};

// While the job holds the target, nobody else (the game being started, an antivirus, a
// second copy of this tool) can open it, not even for reading with every sharing allowed.
TEST_F(WindowsFiles, TargetIsSharedWithNobodyWhileTheJobReadsIt) {
    WriteFile("Vlmr2.exe", GAME);
    g_secondOpen = {FullPathOf("Vlmr2.exe"), {}};
    PatchJob job;
    {
        FileOpsScope restore;
        g_fileOps.read = ReadAfterTryingASecondHandle;
        job = RunJob();
    }
    EXPECT_EQ(g_secondOpen.errors, std::vector<DWORD>{ERROR_SHARING_VIOLATION});
    EXPECT_EQ(ResultTextOf(job), "Done Vlmr2.exe!\r\n\r\nWidescreen correction OK\r\nCamera dist correction not used"
                                 "\r\nFOV correction not used\r\nUnlock 60 FPS not used");
    EXPECT_EQ(ReadFile("Vlmr2.exe"), GAME_PATCHED);
    // And the job let go of it at its end.
    HeldByThisProcess afterwards("Vlmr2.exe");
    EXPECT_EQ(afterwards.unmet, "");
}

// --- the moves, seen at the system call ------------------------------------------------------

// Points this program's import of `function` from `dll` at `replacement`; the engine is
// linked into it, so its calls go there. Returns what the import pointed at, or null.
void* HookImport(const char* dll, const char* function, void* replacement) {
    auto* base = reinterpret_cast<unsigned char*>(GetModuleHandleA(nullptr));
    const auto* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(base);
    const auto* nt = reinterpret_cast<const IMAGE_NT_HEADERS*>(base + dos->e_lfanew);
    const IMAGE_DATA_DIRECTORY& imports = nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
    for (auto* d = reinterpret_cast<const IMAGE_IMPORT_DESCRIPTOR*>(base + imports.VirtualAddress); d->Name != 0; ++d) {
        if (lstrcmpiA(reinterpret_cast<const char*>(base + d->Name), dll) != 0) continue;
        auto* names = reinterpret_cast<const IMAGE_THUNK_DATA*>(base + d->OriginalFirstThunk);
        auto* slots = reinterpret_cast<IMAGE_THUNK_DATA*>(base + d->FirstThunk);
        for (; names->u1.AddressOfData != 0; ++names, ++slots) {
            if (IMAGE_SNAP_BY_ORDINAL(names->u1.Ordinal)) continue;
            const auto* byName = reinterpret_cast<const IMAGE_IMPORT_BY_NAME*>(base + names->u1.AddressOfData);
            if (std::strcmp(reinterpret_cast<const char*>(byName->Name), function) != 0) continue;
            DWORD protection = 0;
            if (!VirtualProtect(&slots->u1.Function, sizeof slots->u1.Function, PAGE_READWRITE, &protection)) return nullptr;
            void* original = reinterpret_cast<void*>(slots->u1.Function);
            slots->u1.Function = reinterpret_cast<ULONG_PTR>(replacement);
            VirtualProtect(&slots->u1.Function, sizeof slots->u1.Function, protection, &protection);
            return original;
        }
    }
    return nullptr;
}

// What a job asked of the system, in order: each file's commit (the FileOps entry that
// flushes it to the disk) and each MoveFileExA with its flags.
struct MoveRecord {
    std::string from, to;
    DWORD flags;
    bool fromCommitted;
};
std::map<HANDLE, std::string> g_openedAs;
std::map<std::string, bool> g_committed;
std::vector<MoveRecord> g_moves;
using MoveFileExAProc = BOOL(WINAPI*)(LPCSTR, LPCSTR, DWORD);
MoveFileExAProc g_realMoveFileExA;
// A name that is UTF-8 goes to the wide call (every ASCII name is).
using MoveFileExWProc = BOOL(WINAPI*)(LPCWSTR, LPCWSTR, DWORD);
MoveFileExWProc g_realMoveFileExW;

std::string Utf8Of(LPCWSTR name) {
    char text[MAX_PATH * 4];
    return WideCharToMultiByte(CP_UTF8, 0, name, -1, text, sizeof text, nullptr, nullptr) > 0 ? text : "";
}

NativeFile RecordingOpen(const char* name, OpenDisposition disposition, unsigned long* error) {
    const NativeFile file = DEFAULT_FILE_OPS.openNative(name, disposition, error);
    if (file != NO_NATIVE_FILE) {
        g_openedAs[reinterpret_cast<HANDLE>(file)] = name;
        g_committed[name] = false;
    }
    return file;
}
int RecordingCommit(FILE* file) {
    const int result = DEFAULT_FILE_OPS.commit(file);
    const auto name = g_openedAs.find(reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(file))));
    if (result == 0 && name != g_openedAs.end()) g_committed[name->second] = true;
    return result;
}
BOOL WINAPI RecordingMoveFileExA(LPCSTR from, LPCSTR to, DWORD flags) {
    g_moves.push_back({from, to, flags, g_committed[from]});
    return g_realMoveFileExA(from, to, flags);
}
BOOL WINAPI RecordingMoveFileExW(LPCWSTR from, LPCWSTR to, DWORD flags) {
    const std::string source = Utf8Of(from);
    g_moves.push_back({source, Utf8Of(to), flags, g_committed[source]});
    return g_realMoveFileExW(from, to, flags);
}

void RunRestoreJob(bool force) {
    RestoreResult result;
    RunRestore(force, &result);
}

// Each copy that the worker (the window's and velmora-patch's alike) and the restore write
// is on the disk before it is moved over its name, and every move writes through: without
// MOVEFILE_WRITE_THROUGH, MoveFileExA may return before the move itself is on the disk.
TEST_F(WindowsFiles, EachCopyIsOnTheDiskBeforeItsMoveAndEveryMoveWritesThrough) {
    g_realMoveFileExA = reinterpret_cast<MoveFileExAProc>(
        HookImport("kernel32.dll", "MoveFileExA", reinterpret_cast<void*>(RecordingMoveFileExA)));
    ASSERT_NE(g_realMoveFileExA, nullptr) << "this program imports no MoveFileExA";
    g_realMoveFileExW = reinterpret_cast<MoveFileExWProc>(
        HookImport("kernel32.dll", "MoveFileExW", reinterpret_cast<void*>(RecordingMoveFileExW)));
    ASSERT_NE(g_realMoveFileExW, nullptr) << "this program imports no MoveFileExW";
    const struct {
        const char* label;
        void (*run)();
        Bytes gameBefore;                // the game as the step finds it
        std::vector<std::string> moved;  // the names moved into place, in order
    } rows[] = {
        {"patch", [] { RunJob(); }, GAME, {"Vlmr2.exe.orig", "Vlmr2.exe.bak"}},
        {"restore", [] { RunRestoreJob(false); }, GAME_PATCHED, {"Vlmr2.exe"}},
        {"forced restore", [] { RunRestoreJob(true); }, GAME_PATCHED, {"Vlmr2.exe.before-restore", "Vlmr2.exe"}},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.label);
        WriteFile("Vlmr2.exe", row.gameBefore);
        g_openedAs.clear();
        g_committed.clear();
        g_moves.clear();
        g_fileOps.openNative = RecordingOpen;
        g_fileOps.commit = RecordingCommit;
        row.run();
        g_fileOps = DEFAULT_FILE_OPS;
        std::vector<std::string> moved;
        for (const MoveRecord& move : g_moves) {
            moved.push_back(move.to);
            EXPECT_NE(move.flags & MOVEFILE_WRITE_THROUGH, 0u) << move.from << " -> " << move.to << " does not write through";
            EXPECT_TRUE(move.fromCommitted) << move.from << " is not on the disk before its move";
        }
        EXPECT_EQ(moved, row.moved);
    }
    HookImport("kernel32.dll", "MoveFileExA", reinterpret_cast<void*>(g_realMoveFileExA));
    HookImport("kernel32.dll", "MoveFileExW", reinterpret_cast<void*>(g_realMoveFileExW));
}

DWORD g_workerThread;

TEST_F(WindowsFiles, WorkerRunsOnItsOwnThread) {
    WriteFile("v2plus.exe", GAME);
    PatchJob job = MakeJob(16.0f / 9.0f, 0, 0);
    // The worker allocates the image once; where it does so is where it runs.
    g_workerThread = 0;
    g_fileOps.allocate = [](size_t size) {
        g_workerThread = GetCurrentThreadId();
        return DEFAULT_FILE_OPS.allocate(size);
    };
    const uintptr_t started = _beginthreadex(nullptr, 0, PatchWorker, &job, 0, nullptr);
    ASSERT_NE(started, 0u);
    HANDLE thread = reinterpret_cast<HANDLE>(started);
    ASSERT_EQ(WaitForSingleObject(thread, 30000), WAIT_OBJECT_0);
    g_fileOps = DEFAULT_FILE_OPS;
    DWORD exitCode = 99;
    EXPECT_TRUE(GetExitCodeThread(thread, &exitCode));
    EXPECT_EQ(exitCode, 0u);
    EXPECT_EQ(g_workerThread, GetThreadId(thread));
    EXPECT_NE(g_workerThread, GetCurrentThreadId());
    CloseHandle(thread);
    EXPECT_STREQ(job.target_name, "v2plus.exe");
    EXPECT_STREQ(job.status[RULE_WIDESCREEN], "Widescreen correction OK");
    EXPECT_EQ(ReadFile("v2plus.exe"), GAME_PATCHED);
}

// The restored game is a new file: it keeps the game's attributes (hidden, archive, ...)
// and the access list that the game had, not the ones the folder would give a new file.
TEST_F(WindowsFiles, ARestoredGameKeepsItsAttributesAndAccessList) {
    WriteFile("vlmr3.exe", GAME);
    ASSERT_STREQ(RunJob().failure_text, "");
    ASSERT_TRUE(SetFileAttributesA("vlmr3.exe", FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_ARCHIVE));
    const DWORD before = GetFileAttributesA("vlmr3.exe");
    RestoreResult result;
    RunRestore(false, &result);
    ASSERT_EQ(result.outcome, RESTORE_DONE) << result.text;
    EXPECT_EQ(ReadFile("vlmr3.exe"), GAME);
    EXPECT_EQ(GetFileAttributesA("vlmr3.exe") & (FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_ARCHIVE), before & (FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_ARCHIVE));
    EXPECT_STREQ(result.notKept, "") << "the access list or the attributes were not kept";
}

}  // namespace

#endif  // _WIN32
