// A job cut off at any file step, as by a crash or a power cut in the middle of Apply,
// loses nothing: the game is as it was or fully patched, each copy is the old one or the
// new one whole, and at most a temporary file is left, which the next run removes.

#ifndef _WIN32

#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <set>
#include <string>

#include <gtest/gtest.h>

#include "patch_worker.h"
#include "target_file.h"
#include "test_folder.h"

namespace {

namespace fs = std::filesystem;

const Bytes GAME = {0x55, 0xAB, 0xAA, 0xAA, 0x3F, 0xC7, 0x05, 1, 2, 3, 4, 0x00, 0x06, 0x00, 0x00,
                    0xA1, 1, 2, 3, 0x00, 0x99, 0x8B, 0xF8, 0x83, 0xFF, 0x02, 0xC3};
const Bytes GAME_ALL_RULES = {0x55, 0x39, 0x8E, 0xE3, 0x3F, 0xC7, 0x05, 1, 2, 3, 4, 0x00, 0x08, 0x00, 0x00,
                              0xB8, 0xA0, 0x05, 0x00, 0x00, 0x99, 0x8B, 0xF8, 0x83, 0xFF, 0x00, 0xC3};
const Bytes OLD_BACKUP = {0xEE, 0xEE, 0xEE};

enum { CUT_OFF = 42, FINISHED = 0 };

// The job's file steps, counted together; the process ends right after step g_cutAt.
int g_steps;
int g_cutAt;

void Step() {
    if (++g_steps == g_cutAt) _exit(CUT_OFF);
}

NativeFile OpenThenMaybeStop(const char* name, OpenDisposition disposition, unsigned long* error) {
    const NativeFile file = DEFAULT_FILE_OPS.openNative(name, disposition, error);
    Step();
    return file;
}
size_t WriteThenMaybeStop(const void* buffer, size_t size, FILE* file) {
    const size_t written = DEFAULT_FILE_OPS.write(buffer, size, file);
    Step();
    return written;
}
int CommitThenMaybeStop(FILE* file) {
    const int result = DEFAULT_FILE_OPS.commit(file);
    Step();
    return result;
}
int CloseThenMaybeStop(FILE* file) {
    const int result = DEFAULT_FILE_OPS.close(file);
    Step();
    return result;
}
bool MoveThenMaybeStop(const char* from, const char* to, bool replace) {
    const bool moved = DEFAULT_FILE_OPS.move(from, to, replace);
    Step();
    return moved;
}

PatchJob Job() { return MakeJob(16.0f / 9.0f, 2048, 1920); }

// Runs the job in a child process that ends itself after step `cutAt`; the exit code says
// whether it got that far.
int RunCutOffAt(int cutAt) {
    const pid_t child = fork();
    if (child == 0) {
        g_steps = 0;
        g_cutAt = cutAt;
        g_fileOps.openNative = OpenThenMaybeStop;
        g_fileOps.write = WriteThenMaybeStop;
        g_fileOps.commit = CommitThenMaybeStop;
        g_fileOps.close = CloseThenMaybeStop;
        g_fileOps.move = MoveThenMaybeStop;
        PatchJob job = Job();
        RunPatchJob(&job);
        _exit(job.failure_text[0] == '\0' ? FINISHED : 1);
    }
    int status = 0;
    waitpid(child, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

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
        ASSERT_TRUE(exitCode == CUT_OFF || exitCode == FINISHED) << "step " << cutAt << ": exit " << exitCode;

        const Bytes target = ReadFile("vlmr3.exe");
        EXPECT_TRUE(target == GAME || target == GAME_ALL_RULES) << "step " << cutAt << ": game half patched";
        const Bytes backup = ReadFile("vlmr3.exe.bak");
        EXPECT_TRUE(backup == OLD_BACKUP || backup == GAME) << "step " << cutAt << ": backup neither old nor new";
        if (FileExists("vlmr3.exe.orig")) {
            EXPECT_EQ(ReadFile("vlmr3.exe.orig"), GAME) << "step " << cutAt;
        }
        if (target == GAME_ALL_RULES) {
            EXPECT_EQ(backup, GAME) << "step " << cutAt;
            EXPECT_TRUE(FileExists("vlmr3.exe.orig")) << "step " << cutAt << ": patched without an original";
        }
        std::set<std::string> extra = Names();
        for (const char* known : {"vlmr3.exe", "vlmr3.exe.bak", "vlmr3.exe.orig"}) extra.erase(known);
        EXPECT_LE(extra.size(), 1u) << "step " << cutAt;
        for (const auto& name : extra) {
            EXPECT_TRUE(name == "vlmr3.exe.bak.tmp" || name == "vlmr3.exe.orig.tmp") << "step " << cutAt << ": " << name;
        }

        // The next run clears up and ends where an uninterrupted run would.
        PatchJob next = Job();
        RunPatchJob(&next);
        EXPECT_STREQ(next.failure_text, "") << "step " << cutAt;
        EXPECT_EQ(ReadFile("vlmr3.exe.orig"), GAME) << "step " << cutAt;
        EXPECT_EQ(Names(), (std::set<std::string>{"vlmr3.exe", "vlmr3.exe.bak", "vlmr3.exe.orig"}))
            << "step " << cutAt;
        if (exitCode == FINISHED) break;
    }
    // Probes, the old backup's check, two copies of three steps each, the write-back.
    EXPECT_GE(cutAt, 15) << "fewer file steps than the job has";
}

}  // namespace

#endif  // !_WIN32
