// Files as the system really has them: two runs in one folder, a link swapped in after the
// rename, a folder that cannot be forced to the disk, owners, ACLs and extended attributes,
// links and names that lead to no file, stop signals, and a /proc that hides processes.
// Every interleaving is forced with strace's injected delays, errors and signals.

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "cli_runner.h"
#include "json_value.h"
#include "system_run.h"

namespace {

namespace fs = std::filesystem;

const std::vector<std::string> PATCH = {"--fov", "1920", "--camera", "2000", "--fps"};
const char* const NO_LEAKS = "ASAN_OPTIONS=detect_leaks=0 ";  // LeakSanitizer cannot work under ptrace
const char* const RENAMES = "rename,renameat,renameat2";

std::string Strace(const std::string& options) { return std::string(NO_LEAKS) + "strace -f -qq " + options; }

struct stat StatOf(const std::string& path) {
    struct stat facts = {};
    lstat(path.c_str(), &facts);
    return facts;
}

std::string Output(const std::string& command) {
    std::string text;
    if (FILE* pipe = popen(command.c_str(), "r")) {
        char buffer[512];
        for (size_t got; (got = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;) text.append(buffer, got);
        pclose(pipe);
    }
    return text;
}

// A patched game with its .orig, as a first run leaves it.
Bytes PatchedGame(const GameFolder& folder) {
    folder.Write("vlmr3.exe", FixtureImage());
    EXPECT_EQ(folder.Run(PATCH).exitCode, 0);
    return folder.Read("vlmr3.exe");
}

bool NoTemporaryLeft(const GameFolder& folder) {
    for (const auto& entry : fs::directory_iterator(folder.path())) {
        const std::string name = entry.path().filename().string();
        if (name.size() > 12 && name.substr(name.size() - 12) == ".velmora-tmp") return false;
    }
    return true;
}

// --- One run at a time in a folder ---

// A restore stopped for three seconds at its rename, with its temporary copy whole.
class RestoreInItsRename {
public:
    RestoreInItsRename(const GameFolder& folder, const GameFolder& scratch)
        : run_(folder, Strace(std::string("-e trace=") + RENAMES + " -e inject=" + RENAMES + ":delay_enter=3000000"),
               {"--restore"}, scratch.path()) {
        reached_ = WaitForFile(folder.PathOf("vlmr3.exe.velmora-tmp"), FIXTURE_SIZE, 20);
    }
    bool reached() const { return reached_; }
    CliRun Finish() { return run_.Finish(); }

private:
    WrappedRun run_;
    bool reached_ = false;
};

TEST(CliOneRunAtATime, APatchStartedDuringARestoreWaitsAndPatchesTheRestoredGame) {
    if (!Available("strace")) GTEST_SKIP() << "strace is not installed";
    GameFolder folder, scratch, scratch2;
    PatchedGame(folder);
    RestoreInItsRename restore(folder, scratch);
    ASSERT_TRUE(restore.reached()) << "the restore never wrote its temporary copy";
    const CliRun patch = RunWrapped(folder, "", PATCH, scratch2.path());
    const CliRun restored = restore.Finish();
    EXPECT_EQ(restored.exitCode, 0) << restored.out << restored.err;
    EXPECT_EQ(patch.exitCode, 0) << patch.out << patch.err;
    EXPECT_TRUE(Contains(patch.err, "waiting for another velmora-patch")) << patch.err;
    // The patch came after the restore: the game on the disk is patched, its backup is the
    // restored original.
    EXPECT_EQ(folder.Read("vlmr3.exe.bak"), FixtureImage());
    EXPECT_NE(folder.Read("vlmr3.exe"), FixtureImage()) << "\"Done\", but the game on the disk is not patched";
}

TEST(CliOneRunAtATime, ASecondRestoreKilledAtItsFirstWriteLeavesTheFirstOnesCopyAlone) {
    if (!Available("strace")) GTEST_SKIP() << "strace is not installed";
    GameFolder folder, scratch, scratch2;
    PatchedGame(folder);
    RestoreInItsRename first(folder, scratch);
    ASSERT_TRUE(first.reached()) << "the restore never wrote its temporary copy";
    RunWrapped(folder, Strace("-e trace=write -e inject=write:signal=SIGKILL:when=1"), {"--restore"}, scratch2.path());
    const CliRun restored = first.Finish();
    EXPECT_EQ(restored.exitCode, 0) << restored.out << restored.err;
    EXPECT_EQ(folder.Read("vlmr3.exe"), FixtureImage()) << "the game is not the restored original";
    EXPECT_TRUE(NoTemporaryLeft(folder));
}

TEST(CliOneRunAtATime, AFolderHeldThroughTheWaitIsLeftAsItWas) {
    GameFolder folder;
    folder.Write("vlmr3.exe", FixtureImage());
    const int held = open(folder.path().c_str(), O_RDONLY | O_DIRECTORY);
    ASSERT_EQ(flock(held, LOCK_EX), 0);
    const FolderState before = Snapshot(folder.path());
    const auto start = std::chrono::steady_clock::now();
    const CliRun run = folder.Run(PATCH);
    const double waited = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    close(held);
    EXPECT_EQ(run.exitCode, 4) << run.out;
    EXPECT_GE(waited, 9.5);
    EXPECT_TRUE(Contains(run.err, "waiting for another velmora-patch working in this folder")) << run.err;
    EXPECT_TRUE(Contains(run.err, "velmora-patch: another velmora-patch is working in this folder\n")) << run.err;
    EXPECT_TRUE(Snapshot(folder.path()) == before) << Describe(Snapshot(folder.path()));
}

// --- Nothing is named after the rename ---

TEST(CliRootRestore, ALinkSwappedInAfterTheRenameIsNeverFollowed) {
    if (!IsRoot() || !Available("strace")) GTEST_SKIP() << "needs root and strace";
    GameFolder folder, scratch, secrets;
    PatchedGame(folder);
    // The player's game, in a folder that the player can write to.
    ASSERT_EQ(chown(folder.path().c_str(), 65534, 65534), 0);
    ASSERT_EQ(chown(folder.PathOf("vlmr3.exe").c_str(), 65534, 65534), 0);
    ASSERT_EQ(chmod(folder.PathOf("vlmr3.exe").c_str(), 0755), 0);
    secrets.Write("secret", {1, 2, 3});
    ASSERT_EQ(chmod(secrets.PathOf("secret").c_str(), 0600), 0);
    ASSERT_EQ(symlink(secrets.PathOf("secret").c_str(), folder.PathOf("swap").c_str()), 0);
    const fs::path log = scratch.path() / "trace";
    const ino_t before = StatOf(folder.PathOf("vlmr3.exe")).st_ino;
    // Held for two seconds right after the rename, while the link takes the game's name.
    WrappedRun restore(folder,
                       Strace("-s 300 -o " + Quote(log.string()) + " -e trace=%file -e inject=" + RENAMES +
                              ":delay_exit=2000000"),
                       {"--restore"}, scratch.path());
    bool renamed = false;
    for (int i = 0; i < 2000 && !renamed; ++i) {
        const struct stat now = StatOf(folder.PathOf("vlmr3.exe"));
        renamed = now.st_ino != before && S_ISREG(now.st_mode);
        if (!renamed) usleep(5000);
    }
    ASSERT_TRUE(renamed) << "the restore never renamed";
    ASSERT_EQ(rename(folder.PathOf("swap").c_str(), folder.PathOf("vlmr3.exe").c_str()), 0);
    const CliRun run = restore.Finish();
    EXPECT_EQ(run.exitCode, 0) << run.out << run.err;
    const struct stat secret = StatOf(secrets.PathOf("secret"));
    EXPECT_EQ(secret.st_uid, 0u) << "the root-only file was given away";
    EXPECT_EQ(secret.st_mode & 07777, 0600u);

    // From the rename on, no call takes a path: the trace holds only those.
    const std::vector<Call> calls = ReadTrace(log);
    size_t renameAt = calls.size();
    for (size_t i = 0; i < calls.size(); ++i) {
        if (IsRename(calls[i]) && calls[i].result == 0) renameAt = i;
    }
    ASSERT_LT(renameAt, calls.size()) << "no rename in the trace";
    for (size_t i = renameAt + 1; i < calls.size(); ++i) {
        // fstat of a descriptor shows as a call with an empty path and AT_EMPTY_PATH.
        const std::vector<std::string> paths = Strings(calls[i].arguments);
        const bool descriptorOnly = calls[i].arguments.find("AT_EMPTY_PATH") != std::string::npos && paths.size() == 1 &&
                                    paths[0].empty();
        if (!descriptorOnly) ADD_FAILURE() << "a path after the rename: " << calls[i].line;
    }
}

// --- A rename that happened is done ---

struct UnsafeFolderCase {
    const char* label;
    std::vector<std::string> args;
    int failingFsync;  // the folder's fsync after this step's rename
    const char* line;  // what the report says of it
    const char* bak;   // what .bak holds afterwards: "old" or "game"
    bool gameChanged;  // the game holds the restored original
};

const UnsafeFolderCase UNSAFE_FOLDER_CASES[] = {
    {"patch_original", PATCH, 2, "The original copy vlmr3.exe.orig: written, but not yet safe on the disk: Input/output error",
     "old", false},
    {"patch_backup", PATCH, 4, "The backup vlmr3.exe.bak: written, but not yet safe on the disk: Input/output error", "game",
     false},
    {"restore", {"--restore"}, 2, "vlmr3.exe: written, but not yet safe on the disk: Input/output error", "old", true},
    {"force_kept", {"--restore", "--force"}, 2, "vlmr3.exe.before-restore was written,\nbut it is not yet safe", "old",
     false},
    {"force_game", {"--restore", "--force"}, 4, "vlmr3.exe: written, but not yet safe on the disk: Input/output error",
     "old", true},
};

class UnsafeFolder : public testing::TestWithParam<UnsafeFolderCase> {};

TEST_P(UnsafeFolder, TheStepIsDoneAndFailedAndItsCopyIsListed) {
    if (!Available("strace")) GTEST_SKIP() << "strace is not installed";
    const UnsafeFolderCase& c = GetParam();
    GameFolder folder, scratch;
    const bool restore = c.args[0] == "--restore";
    const Bytes oldBackup = {0xEE};
    Bytes game = FixtureImage();
    if (restore) {
        game = PatchedGame(folder);
        if (c.args.size() > 1) {  // forced: a game that fits no copy
            game.push_back(0xCC);
            folder.Write("vlmr3.exe", game);
        }
    } else {
        folder.Write("vlmr3.exe", game);
    }
    folder.Write("vlmr3.exe.bak", oldBackup);
    ASSERT_EQ(chmod(folder.PathOf("vlmr3.exe").c_str(), 0750), 0);
    const CliRun run = RunWrapped(
        folder, Strace("-e trace=fsync -e inject=fsync:error=EIO:when=" + std::to_string(c.failingFsync)), c.args,
        scratch.path());
    EXPECT_EQ(run.exitCode, 4) << run.out << run.err;
    EXPECT_TRUE(Contains(run.out, c.line)) << run.out;
    EXPECT_FALSE(Contains(run.out, "Nothing was changed")) << run.out;
    EXPECT_EQ(folder.Read("vlmr3.exe.bak"), std::string(c.bak) == "old" ? oldBackup : game);
    EXPECT_EQ(folder.Read("vlmr3.exe"), c.gameChanged ? FixtureImage() : game);
    EXPECT_EQ(StatOf(folder.PathOf("vlmr3.exe")).st_mode & 07777, 0750u) << "the game lost its mode";
    if (!restore) {
        EXPECT_TRUE(Contains(run.out, "  vlmr3.exe.orig: written\n")) << run.out;
        if (c.failingFsync == 4) { EXPECT_TRUE(Contains(run.out, "  vlmr3.exe.bak: written\n")) << run.out; }
    }
    if (c.gameChanged) {
        const CliRun status = folder.Run({"--status"});
        EXPECT_TRUE(Contains(status.out, "vlmr3.exe: original")) << status.out;
    }
    EXPECT_TRUE(NoTemporaryLeft(folder));
}

INSTANTIATE_TEST_SUITE_P(Steps, UnsafeFolder, testing::ValuesIn(UNSAFE_FOLDER_CASES),
                         [](const testing::TestParamInfo<UnsafeFolderCase>& info) { return std::string(info.param.label); });

TEST(CliUnsafeFolder, ARestoreThatHappenedSaysRestored) {
    if (!Available("strace")) GTEST_SKIP() << "strace is not installed";
    GameFolder folder, scratch;
    PatchedGame(folder);
    const CliRun run = RunWrapped(folder, Strace("-e trace=fsync -e inject=fsync:error=EIO:when=2"),
                                  {"--restore", "--json"}, scratch.path());
    EXPECT_EQ(run.exitCode, 4) << run.out;
    JsonValue json;
    std::string error;
    ASSERT_TRUE(ParseJson(run.out, &json, &error)) << error << run.out;
    EXPECT_TRUE(json["restored"].boolean) << run.out;
}

// --- What the restored game keeps ---

TEST(CliRestoreKeeps, TheAclAndTheExtendedAttributesAsTheyWere) {
    if (!Available("setfacl") || !Available("setfattr")) GTEST_SKIP() << "setfacl and setfattr are not installed";
    GameFolder folder;
    PatchedGame(folder);
    const std::string game = Quote(folder.PathOf("vlmr3.exe"));
    ASSERT_EQ(chmod(folder.PathOf("vlmr3.exe").c_str(), 0750), 0);
    if (std::system(("setfacl -m u:65534:rwx,m::r-x " + game + " 2>/dev/null").c_str()) != 0) {
        GTEST_SKIP() << "this file system keeps no ACLs";
    }
    if (std::system(("setfattr -n user.velmora -v kept " + game + " 2>/dev/null").c_str()) != 0) {
        GTEST_SKIP() << "this file system keeps no user extended attributes";
    }
    const std::string acl = Output("getfacl -cp " + game);
    const mode_t mode = StatOf(folder.PathOf("vlmr3.exe")).st_mode & 07777;
    const CliRun run = folder.Run({"--restore"});
    ASSERT_EQ(run.exitCode, 0) << run.out;
    EXPECT_EQ(folder.Read("vlmr3.exe"), FixtureImage());
    EXPECT_EQ(Output("getfacl -cp " + game), acl);
    EXPECT_EQ(Output("getfattr --only-values -n user.velmora " + game + " 2>/dev/null"), "kept");
    // The mask is the group's bits as they were: r-x, never the user entry's rwx.
    EXPECT_EQ(StatOf(folder.PathOf("vlmr3.exe")).st_mode & 07777, mode);
    EXPECT_FALSE(Contains(run.out, "not kept")) << run.out;
}

TEST(CliRestoreKeeps, WhatAnotherMemberOfTheGroupCannotKeepIsNamed) {
    if (!IsRoot() || !Available("setpriv")) GTEST_SKIP() << "needs root and setpriv to run as another user";
    GameFolder folder, scratch;
    PatchedGame(folder);
    ASSERT_EQ(chmod(folder.path().c_str(), 0777), 0);
    ASSERT_EQ(chmod(scratch.path().c_str(), 0777), 0);
    ASSERT_EQ(chown(folder.PathOf("vlmr3.exe").c_str(), 0, 4321), 0);
    ASSERT_EQ(chmod(folder.PathOf("vlmr3.exe").c_str(), 0775), 0);
    for (const char* copy : {"vlmr3.exe.orig", "vlmr3.exe.bak"}) ASSERT_EQ(chmod(folder.PathOf(copy).c_str(), 0644), 0);
    const CliRun run =
        RunWrapped(folder, "setpriv --reuid=65534 --regid=4321 --clear-groups", {"--restore"}, scratch.path());
    ASSERT_EQ(run.exitCode, 0) << run.out << run.err;
    const struct stat facts = StatOf(folder.PathOf("vlmr3.exe"));
    EXPECT_EQ(facts.st_gid, 4321u);
    EXPECT_EQ(facts.st_mode & 07777, 0775u);
    EXPECT_TRUE(Contains(run.out, "\nnot kept from the game it replaced: the owner (user 0)\n")) << run.out;
}

// --- Links and names that lead to no file ---

TEST(CliLinks, AGameReachedThroughALinkIsPatchedAndRestoredWhereItIs) {
    GameFolder folder, elsewhere;
    elsewhere.Write("vlmr3.exe", FixtureImage());
    ASSERT_EQ(symlink(elsewhere.PathOf("vlmr3.exe").c_str(), folder.PathOf("vlmr3.exe").c_str()), 0);
    const CliRun patch = folder.Run(PATCH);
    ASSERT_EQ(patch.exitCode, 0) << patch.out;
    EXPECT_NE(elsewhere.Read("vlmr3.exe"), FixtureImage());
    EXPECT_EQ(folder.Read("vlmr3.exe.orig"), FixtureImage()) << "the copies lie beside the name the player sees";
    EXPECT_FALSE(elsewhere.Exists("vlmr3.exe.orig"));

    const CliRun restore = folder.Run({"--restore"});
    ASSERT_EQ(restore.exitCode, 0) << restore.out;
    EXPECT_TRUE(S_ISLNK(StatOf(folder.PathOf("vlmr3.exe")).st_mode)) << "the link was replaced by a file";
    EXPECT_EQ(elsewhere.Read("vlmr3.exe"), FixtureImage()) << "the game itself is still patched";
    EXPECT_TRUE(NoTemporaryLeft(folder) && NoTemporaryLeft(elsewhere));
}

TEST(CliLinks, AGameWithOtherHardLinksIsRefusedBeforeAnythingIsWritten) {
    GameFolder folder, elsewhere;
    elsewhere.Write("vlmr3.exe", FixtureImage());
    std::error_code error;
    fs::create_hard_link(elsewhere.PathOf("vlmr3.exe"), folder.PathOf("vlmr3.exe"), error);
    if (error) GTEST_SKIP() << "no hard links here: " << error.message();
    for (const std::vector<std::string>& args : {PATCH, std::vector<std::string>{"--restore", "--force"}}) {
        const FolderState before = Snapshot(folder.path());
        const CliRun run = folder.Run(args);
        EXPECT_EQ(run.exitCode, 4) << run.out;
        EXPECT_TRUE(Contains(run.out, "\nvlmr3.exe has 1 other name (hard links): ")) << run.out;
        EXPECT_TRUE(Contains(run.out, "\nGive the game a file of its own: copy it, and put the copy in its place.\n"))
            << run.out;
        EXPECT_TRUE(Snapshot(folder.path()) == before) << Describe(Snapshot(folder.path()));
        EXPECT_EQ(elsewhere.Read("vlmr3.exe"), FixtureImage());
    }
    EXPECT_TRUE(Contains(folder.Run(PATCH).out, "patching would change them too")) << "the patch's own words";
}

TEST(CliLinks, AGameThatIsAHardLinkOfItsOwnOriginalKeepsItsRefusal) {
    GameFolder folder;
    folder.Write("vlmr3.exe", FixtureImage());
    std::error_code error;
    fs::create_hard_link(folder.PathOf("vlmr3.exe"), folder.PathOf("vlmr3.exe.orig"), error);
    if (error) GTEST_SKIP() << "no hard links here: " << error.message();
    const CliRun run = folder.Run(PATCH);
    EXPECT_EQ(run.exitCode, 4);
    EXPECT_TRUE(Contains(run.out, "vlmr3.exe.orig is\nthe same file as vlmr3.exe.")) << run.out;
    EXPECT_FALSE(Contains(run.out, "hard links")) << run.out;
}

struct NoFileCase {
    const char* label;
    bool (*make)(const GameFolder& folder);  // false: this system cannot make it
};

const NoFileCase NO_FILE_CASES[] = {
    {"pipe", [](const GameFolder& f) { return mkfifo(f.PathOf("vlmr3.exe").c_str(), 0666) == 0; }},
    {"link_to_a_character_device",
     [](const GameFolder& f) { return symlink("/dev/null", f.PathOf("vlmr3.exe").c_str()) == 0; }},
    {"link_to_a_block_device",
     [](const GameFolder& f) {
         // Made here, as root, so that no real disk of the machine is ever opened.
         return IsRoot() && mknod(f.PathOf("device").c_str(), S_IFBLK | 0600, makedev(7, 250)) == 0 &&
                symlink(f.PathOf("device").c_str(), f.PathOf("vlmr3.exe").c_str()) == 0;
     }},
};

class NoFile : public testing::TestWithParam<NoFileCase> {};

TEST_P(NoFile, IsRefusedAndNothingIsWritten) {
    GameFolder folder;
    if (!GetParam().make(folder)) GTEST_SKIP() << "cannot make a " << GetParam().label << " here (a device needs root)";
    // Names and kinds only: reading a pipe's contents would wait for a writer.
    const auto listing = [&folder] {
        std::string names;
        for (const auto& entry : fs::directory_iterator(folder.path())) {
            names += entry.path().filename().string() + ":" + std::to_string(StatOf(entry.path().string()).st_mode) + " ";
        }
        return names;
    };
    const std::string before = listing();
    for (const std::vector<std::string>& args : {PATCH, std::vector<std::string>{"--restore"}}) {
        const CliRun run = folder.Run(args);
        EXPECT_EQ(run.exitCode, 4) << run.out;
        EXPECT_TRUE(Contains(run.out, "\nvlmr3.exe is not a file\n")) << run.out;
        EXPECT_EQ(listing(), before);
    }
}

INSTANTIATE_TEST_SUITE_P(Kinds, NoFile, testing::ValuesIn(NO_FILE_CASES),
                         [](const testing::TestParamInfo<NoFileCase>& info) { return std::string(info.param.label); });

// --- Stop signals ---

// SIGINT at the entry of each write of a run: the copies (in the kernel or from memory),
// the write-back of the changed stretches, the report.
TEST(CliStopSignal, AtEachWriteTheStepIsFinishedOrUndoneAndEachFileIsNamed) {
    if (!Available("strace")) GTEST_SKIP() << "strace is not installed";
    const Bytes oldBackup = {0xEE};
    bool sawEachState[3] = {};  // stopped before the copies, between them, after the write-back
    for (int write = 1;; ++write) {
        ASSERT_LT(write, 20) << "the run never ended without a signal";
        SCOPED_TRACE("SIGINT at write " + std::to_string(write));
        GameFolder folder, scratch;
        folder.Write("vlmr3.exe", FixtureImage());
        folder.Write("vlmr3.exe.bak", oldBackup);
        const CliRun run = RunWrapped(
            folder, Strace("-e trace=write,pwrite64,copy_file_range -e inject=write,pwrite64,copy_file_range:signal=SIGINT:when=" +
                                     std::to_string(write)), PATCH,
            scratch.path());
        if (run.exitCode == 0 && !Contains(run.out, "stopped by")) break;  // no write was left to stop at
        EXPECT_EQ(run.exitCode, 130) << run.out << run.err;
        EXPECT_TRUE(NoTemporaryLeft(folder));
        const Bytes game = folder.Read("vlmr3.exe");
        const bool patched = game != FixtureImage();
        const bool original = folder.Exists("vlmr3.exe.orig");
        const bool backup = folder.Read("vlmr3.exe.bak") != oldBackup;
        if (original) { EXPECT_EQ(folder.Read("vlmr3.exe.orig"), FixtureImage()); }
        if (backup) { EXPECT_EQ(folder.Read("vlmr3.exe.bak"), FixtureImage()); }
        EXPECT_TRUE(!patched || (original && backup)) << "patched before its copies";
        if (patched) { EXPECT_EQ(game.size(), FixtureImage().size()); }
        // The state of each file as it is on the disk, one line each.
        EXPECT_TRUE(Contains(run.out, "\nstopped by SIGINT:\n")) << run.out;
        EXPECT_TRUE(Contains(run.out, std::string("\n  vlmr3.exe: ") + (patched ? "patched" : "not changed") + "\n"))
            << run.out;
        EXPECT_TRUE(Contains(run.out, std::string("\n  vlmr3.exe.orig: ") + (original ? "written" : "not written") + "\n"))
            << run.out;
        EXPECT_TRUE(Contains(run.out, std::string("\n  vlmr3.exe.bak: ") + (backup ? "written" : "not changed") + "\n"))
            << run.out;
        sawEachState[patched ? 2 : original ? 1 : 0] = true;
    }
    for (int state = 0; state < 3; ++state) EXPECT_TRUE(sawEachState[state]) << "state " << state << " never reached";
}

TEST(CliStopSignal, DuringARestoreTheGameIsWholeAndNamed) {
    if (!Available("strace")) GTEST_SKIP() << "strace is not installed";
    for (int write = 1;; ++write) {
        ASSERT_LT(write, 20) << "the restore never ended without a signal";
        SCOPED_TRACE("SIGTERM at write " + std::to_string(write));
        GameFolder folder, scratch;
        const Bytes patched = PatchedGame(folder);
        const CliRun run = RunWrapped(
            folder, Strace("-e trace=write -e inject=write:signal=SIGTERM:when=" + std::to_string(write)),
            {"--restore"}, scratch.path());
        if (run.exitCode == 0 && !Contains(run.out, "stopped by")) break;
        EXPECT_EQ(run.exitCode, 130) << run.out << run.err;
        EXPECT_TRUE(NoTemporaryLeft(folder));
        const Bytes game = folder.Read("vlmr3.exe");
        EXPECT_TRUE(game == patched || game == FixtureImage());
        EXPECT_TRUE(Contains(run.out, std::string("\n  vlmr3.exe: ") + (game == patched ? "not changed" : "restored") + "\n"))
            << run.out;
    }
}

// --- What the look at the other processes cannot see ---

TEST(CliProcessView, HidepidIsNamed) {
    if (!IsRoot() || !Available("unshare") || !Available("setpriv")) GTEST_SKIP() << "needs root, unshare and setpriv";
    GameFolder folder, scratch;
    folder.Write("vlmr3.exe", FixtureImage());
    ASSERT_EQ(chown(folder.path().c_str(), 65534, 65534), 0);
    ASSERT_EQ(chown(folder.PathOf("vlmr3.exe").c_str(), 65534, 65534), 0);
    ASSERT_EQ(chmod(scratch.path().c_str(), 0777), 0);
    const CliRun run = RunWrapped(folder,
                                  "unshare -m sh -c 'mount -t proc -o hidepid=2 proc /proc 2>/dev/null || exit 77; "
                                  "exec setpriv --reuid=65534 --regid=65534 --clear-groups \"$0\" \"$@\"'",
                                  {"--dry-run"}, scratch.path());
    if (run.exitCode == 77) GTEST_SKIP() << "/proc cannot be mounted with hidepid here";
    EXPECT_EQ(run.exitCode, 0) << run.out << run.err;
    EXPECT_TRUE(Contains(run.out, "\ncould not check the processes of other users for the game: /proc hides them (hidepid)\n"))
        << run.out;
}

TEST(CliProcessView, APidNamespaceWithItsOwnProcIsNamed) {
    if (!IsRoot() || !Available("unshare")) GTEST_SKIP() << "needs root and unshare for a PID namespace";
    GameFolder folder, scratch;
    folder.Write("vlmr3.exe", FixtureImage());
    const CliRun run = RunWrapped(folder, "unshare -p -f -m --mount-proc", {"--dry-run"}, scratch.path());
    EXPECT_EQ(run.exitCode, 0) << run.out << run.err;
    EXPECT_TRUE(Contains(run.out, "\ncould not check the processes outside this PID namespace for the game")) << run.out;
}

TEST(CliProcessView, OtherUsersAreNotNamedForAGameNoneOfThemCanOpen) {
    if (!IsRoot() || !Available("setpriv")) GTEST_SKIP() << "needs root and setpriv to run as another user";
    GameFolder folder, scratch;
    folder.Write("vlmr3.exe", FixtureImage());
    ASSERT_EQ(chown(folder.path().c_str(), 65534, 65534), 0);
    ASSERT_EQ(chown(folder.PathOf("vlmr3.exe").c_str(), 65534, 65534), 0);
    ASSERT_EQ(chmod(folder.PathOf("vlmr3.exe").c_str(), 0600), 0);
    ASSERT_EQ(chmod(scratch.path().c_str(), 0777), 0);
    const std::string asPlayer = "setpriv --reuid=65534 --regid=65534 --clear-groups";
    const CliRun run = RunWrapped(folder, asPlayer, {"--dry-run"}, scratch.path());
    EXPECT_EQ(run.exitCode, 0) << run.out << run.err;
    EXPECT_FALSE(Contains(run.out, "processes of other users")) << run.out;
    const CliRun json = RunWrapped(folder, asPlayer, {"--dry-run", "--json"}, scratch.path());
    JsonValue value;
    std::string error;
    ASSERT_TRUE(ParseJson(json.out, &value, &error)) << error << json.out;
    EXPECT_GT(value["unchecked_processes"].number, 0) << "the count is kept";
}

}  // namespace
