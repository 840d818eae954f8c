// A job cut off at any file step, as by a crash or a power cut in the middle of Apply,
// loses nothing: the game is as it was or fully patched, each copy is the old one or the
// new one whole, and at most a temporary file is left, which the next run removes.

#include <filesystem>
#include <set>
#include <string>

#include <gtest/gtest.h>

#include "cut_off.h"
#include "patch_state.h"
#include "patch_worker.h"
#include "restore.h"
#include "target_file.h"
#include "test_folder.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <sys/wait.h>
#include <unistd.h>
#endif

namespace {

namespace fs = std::filesystem;

const Bytes GAME = {0x55, 0xAB, 0xAA, 0xAA, 0x3F, 0xC7, 0x05, 1, 2, 3, 4, 0x00, 0x06, 0x00, 0x00,
                    0xA1, 1, 2, 3, 0x00, 0x99, 0x8B, 0xF8, 0x83, 0xFF, 0x02, 0xC3};
const Bytes GAME_ALL_RULES = {0x55, 0x39, 0x8E, 0xE3, 0x3F, 0xC7, 0x05, 1, 2, 3, 4, 0x00, 0x08, 0x00, 0x00,
                              0xB8, 0xA0, 0x05, 0x00, 0x00, 0x99, 0x8B, 0xF8, 0x83, 0xFF, 0x00, 0xC3};
const Bytes OLD_BACKUP = {0xEE, 0xEE, 0xEE};

#ifdef _WIN32

// cut_off_job.exe, built beside this test program.
std::string CutOffProgram() {
    char path[MAX_PATH];
    const DWORD length = GetModuleFileNameA(nullptr, path, MAX_PATH);
    if (length == 0 || length >= MAX_PATH) return "cut_off_job.exe";
    return (fs::path(path).parent_path() / "cut_off_job.exe").string();
}

// Windows has no fork: a child program carries out the job in this folder.
int RunCutOffAt(int cutAt, const char* restore = nullptr) {
    std::string commandLine = "\"" + CutOffProgram() + "\" " + std::to_string(cutAt);
    if (restore != nullptr) commandLine += std::string(" ") + restore;
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process = {};
    if (!CreateProcessA(nullptr, &commandLine[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                        &process)) {
        ADD_FAILURE() << "cannot start " << commandLine << ": error " << GetLastError();
        return -1;
    }
    DWORD exitCode = static_cast<DWORD>(-1);
    if (WaitForSingleObject(process.hProcess, 60000) == WAIT_OBJECT_0) GetExitCodeProcess(process.hProcess, &exitCode);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    return static_cast<int>(exitCode);
}

#else

int RunCutOffAt(int cutAt, const char* restore = nullptr) {
    const pid_t child = fork();
    if (child == 0) {
        if (restore != nullptr) _exit(RunCutOffRestore(cutAt, std::string(restore) == "force"));
        _exit(RunCutOffJob(cutAt));
    }
    int status = 0;
    waitpid(child, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

#endif

std::set<std::string> Names() {
    std::set<std::string> names;
    for (const auto& entry : fs::directory_iterator(".")) names.insert(entry.path().filename().string());
    return names;
}

TEST(CutOffJob, LosesNothingAtAnyStep) {
    ToggleScope toggles(true, true, true, true);
    int cutAt = 1;
    for (;; ++cutAt) {
        ASSERT_LT(cutAt, 200) << "the job never finished";
        TestFolder folder;
        WriteFile("vlmr3.exe", GAME);
        WriteFile("vlmr3.exe.bak", OLD_BACKUP);
        const int exitCode = RunCutOffAt(cutAt);
        ASSERT_TRUE(exitCode == CUT_OFF_EXIT_CODE || exitCode == CUT_OFF_FINISHED)
            << "step " << cutAt << ": exit " << exitCode;
        const Bytes target = ReadFile("vlmr3.exe");
        // Only the changed stretches are written, one at a time: a cut between two leaves some
        // rules written and the others not, which is a patched game --status tells as such.
        const bool somePatched = target != GAME && target.size() == GAME.size() &&
                                 StateOfGame(".", "vlmr3.exe") == GAME_PATCHED;
        EXPECT_TRUE(target == GAME || target == GAME_ALL_RULES || somePatched)
            << "step " << cutAt << ": game neither as it was nor patched";
        const Bytes backup = ReadFile("vlmr3.exe.bak");
        EXPECT_TRUE(backup == OLD_BACKUP || backup == GAME) << "step " << cutAt << ": backup neither old nor new";
        if (FileExists("vlmr3.exe.orig")) {
            EXPECT_EQ(ReadFile("vlmr3.exe.orig"), GAME) << "step " << cutAt;
        }
        // The original is written before the backup, so a new backup means an original.
        if (backup == GAME) {
            EXPECT_TRUE(FileExists("vlmr3.exe.orig")) << "step " << cutAt << ": backup replaced before the original";
        }
        if (target != GAME) {
            EXPECT_EQ(backup, GAME) << "step " << cutAt;
            EXPECT_TRUE(FileExists("vlmr3.exe.orig")) << "step " << cutAt << ": patched without an original";
        }
        std::set<std::string> extra = Names();
        for (const char* known : {"vlmr3.exe", "vlmr3.exe.bak", "vlmr3.exe.orig"}) extra.erase(known);
        EXPECT_LE(extra.size(), 1u) << "step " << cutAt;
        for (const auto& name : extra) {
            EXPECT_TRUE(name == "vlmr3.exe.bak.velmora-tmp" || name == "vlmr3.exe.orig.velmora-tmp") << "step " << cutAt << ": " << name;
        }

        // The next run clears up and ends where an uninterrupted run would.
        PatchJob next = CutOffJob();
        RunPatchJob(&next);
        EXPECT_STREQ(next.failure_text, "") << "step " << cutAt;
        EXPECT_EQ(ReadFile("vlmr3.exe.orig"), GAME) << "step " << cutAt;
        EXPECT_EQ(Names(), (std::set<std::string>{"vlmr3.exe", "vlmr3.exe.bak", "vlmr3.exe.orig"}))
            << "step " << cutAt;
        if (exitCode == CUT_OFF_FINISHED) break;
    }
    // Probes, the old backup's check, two copies of three steps each, the write-back.
    EXPECT_GE(cutAt, 15) << "fewer file steps than the job has";
}

std::string TemporaryOf(const char* name) {
    char temporary[PATCH_TEXT_SIZE];
    return TemporaryNameOf(name, temporary) ? temporary : "";
}

// A restore cut off at any file step leaves the game as it was or fully restored, never
// short, and every kept copy as it was; forced, the kept game is absent or whole.
TEST(CutOffRestore, LeavesTheGameWholeAtAnyStep) {
    // Forced: a game that fits no copy (an update of one byte more), so that it is kept first.
    Bytes updated = GAME_ALL_RULES;
    updated.push_back(0xCC);
    const struct {
        const char* mode;
        Bytes game;
    } modes[] = {{"restore", GAME_ALL_RULES}, {"force", updated}};
    for (const auto& m : modes) {
        SCOPED_TRACE(m.mode);
        const bool forced = std::string(m.mode) == "force";
        int cutAt = 1;
        for (;; ++cutAt) {
            ASSERT_LT(cutAt, 100) << "the restore never finished";
            TestFolder folder;
            WriteFile("vlmr3.exe", m.game);
            WriteFile("vlmr3.exe.orig", GAME);
            WriteFile("vlmr3.exe.bak", OLD_BACKUP);
            const int exitCode = RunCutOffAt(cutAt, m.mode);
            ASSERT_TRUE(exitCode == CUT_OFF_EXIT_CODE || exitCode == CUT_OFF_FINISHED)
                << "step " << cutAt << ": exit " << exitCode;
            const Bytes target = ReadFile("vlmr3.exe");
            EXPECT_TRUE(target == m.game || target == GAME) << "step " << cutAt << ": game neither as it was nor restored";
            EXPECT_EQ(ReadFile("vlmr3.exe.orig"), GAME) << "step " << cutAt;
            EXPECT_EQ(ReadFile("vlmr3.exe.bak"), OLD_BACKUP) << "step " << cutAt;
            if (FileExists("vlmr3.exe.before-restore")) {
                EXPECT_EQ(ReadFile("vlmr3.exe.before-restore"), m.game) << "step " << cutAt;
            }
            if (forced && target == GAME) {
                EXPECT_TRUE(FileExists("vlmr3.exe.before-restore")) << "step " << cutAt << ": the game was not kept";
            }
            std::set<std::string> extra = Names();
            for (const char* known : {"vlmr3.exe", "vlmr3.exe.orig", "vlmr3.exe.bak", "vlmr3.exe.before-restore"}) {
                extra.erase(known);
            }
            EXPECT_LE(extra.size(), 1u) << "step " << cutAt;
            for (const auto& name : extra) {
                EXPECT_TRUE(name == TemporaryOf("vlmr3.exe") || name == TemporaryOf("vlmr3.exe.before-restore"))
                    << "step " << cutAt << ": " << name;
            }

            // The next restore clears up and ends with the original back.
            RestoreResult next;
            RunRestore(forced, &next);
            EXPECT_TRUE(next.outcome == RESTORE_DONE || next.outcome == RESTORE_ALREADY)
                << "step " << cutAt << ": " << next.text;
            EXPECT_EQ(ReadFile("vlmr3.exe"), GAME) << "step " << cutAt;
            // A game kept by the cut-off run is kept; the next one keeps its own beside it.
            if (FileExists("vlmr3.exe.before-restore.1")) {
                EXPECT_EQ(ReadFile("vlmr3.exe.before-restore.1"), m.game) << "step " << cutAt;
            }
            extra = Names();
            for (const char* known : {"vlmr3.exe", "vlmr3.exe.orig", "vlmr3.exe.bak", "vlmr3.exe.before-restore",
                                      "vlmr3.exe.before-restore.1"}) {
                extra.erase(known);
            }
            EXPECT_TRUE(extra.empty()) << "step " << cutAt << ": " << *extra.begin();
            if (exitCode == CUT_OFF_FINISHED) break;
        }
        // Probes, the reopen, then three steps for each file written.
        EXPECT_GE(cutAt, forced ? 12 : 9) << "fewer file steps than the restore has";
    }
}

}  // namespace
