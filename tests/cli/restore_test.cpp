// --restore: the kept copy that the game is a patched form of comes back over it, whole or
// not at all; never a copy from before a game update, unless forced, and then the game as
// it was is kept first.

#include <cstdio>
#include <filesystem>
#include <string>

#include <gtest/gtest.h>

#ifndef _WIN32
#include <sys/stat.h>
#endif

#include "cli_runner.h"
#include "expected.h"
#include "json_value.h"
#include "restore.h"
#include "target_file.h"

namespace {

namespace fs = std::filesystem;

JsonValue Json(const CliRun& run) {
    JsonValue json;
    std::string error;
    EXPECT_TRUE(ParseJson(run.out, &json, &error)) << error << "\n" << run.out;
    return json;
}

// The files as they are, without the folder's own times, which a removed temporary file changes.
FolderState FilesOf(const fs::path& folder) {
    FolderState state = Snapshot(folder);
    state.folderModified = state.folderChanged = 0;
    return state;
}

// The fixture as a game update leaves it: one byte of code changed, 512 bytes appended.
Bytes UpdatedGrown(const Bytes& v1) {
    Bytes v2 = With(v1, 0x800, {0xCC});
    v2.resize(v2.size() + 512, 0xCC);
    return v2;
}

// A same-size update: two address bytes of the FOV load (mov eax, [addr]; cdq) changed.
Bytes UpdatedAddress(const Bytes& v1) { return With(v1, FOV_AT + 1, {0x28, 0x21}); }

TEST(CliRestore, TwoRunsThenOneRestoreGoesBackToTheOriginal) {
    GameFolder folder;
    const Bytes original = FixtureImage();
    folder.Write("vlmr3.exe", original);
    ASSERT_EQ(folder.Run({"--fov", "1920", "--camera", "2000", "--fps"}).exitCode, 0);
    const Bytes afterFirst = folder.Read("vlmr3.exe");
    // The first-only widescreen rule now finds the second 4:3 constant, and the new aspect
    // goes over the first run's too: two runs away from the original.
    ASSERT_EQ(folder.Run({"--aspect", "16:10"}).exitCode, 0);
    ASSERT_EQ(Slice(folder.Read("vlmr3.exe"), ASPECT_AGAIN_AT, 4), Bytes({0xCD, 0xCC, 0xCC, 0x3F}));

    const CliRun first = folder.Run({"--restore", "--json"});
    EXPECT_EQ(first.exitCode, 0) << first.out << first.err;
    EXPECT_EQ(first.err, "");
    EXPECT_EQ(folder.Read("vlmr3.exe"), original);
    JsonValue json = Json(first);
    EXPECT_EQ(json["schema"].number, 2);
    EXPECT_EQ(json["restored_from"].text, "vlmr3.exe.orig");
    EXPECT_TRUE(json["restored"].boolean);
    EXPECT_FALSE(json["copy_patched"].boolean);
    EXPECT_EQ(json["result_text"].text, "Restored vlmr3.exe\nfrom vlmr3.exe.orig.\n\nvlmr3.exe.orig is kept.");
    // The original explains the game: the backup is not needed.
    ASSERT_EQ(json["copies"].items.size(), 2u);
    EXPECT_EQ(json["copies"].items[0]["name"].text, "vlmr3.exe.orig");
    EXPECT_TRUE(json["copies"].items[0]["fits"].boolean);
    EXPECT_EQ(json["copies"].items[1]["kind"].text, "bak");
    EXPECT_EQ(json["copies"].items[1]["fits"].kind, JsonValue::NUL);
    EXPECT_EQ(folder.Read("vlmr3.exe.orig"), original);
    EXPECT_NE(folder.Read("vlmr3.exe.bak"), original);

    // Once more: the target already holds the original, so nothing is written at all.
    const FolderState restored = Snapshot(folder.path());
    const CliRun again = folder.Run({"--restore"});
    EXPECT_EQ(again.exitCode, 0);
    EXPECT_EQ(again.out, "Nothing was changed!\n\nvlmr3.exe already holds\nthe bytes of vlmr3.exe.orig.\n");
    EXPECT_EQ(Snapshot(folder.path()), restored);
    json = Json(folder.Run({"--restore", "--json"}));
    EXPECT_FALSE(json["restored"].boolean);
    EXPECT_EQ(json["exit_code"].number, 0);
    EXPECT_EQ(json["restored_from"].text, "vlmr3.exe.orig");
    EXPECT_EQ(Snapshot(folder.path()), restored);
}

// The backup is put back, and since it shows changes of its own (the 60 FPS rule's
// written form, and no camera or FOV pattern), the player is told it is no original.
TEST(CliRestore, WithoutAnOriginalTheBackupIsUsed) {
    GameFolder folder;
    folder.Write("vm3plus.exe", FullyPatched(FixtureImage()));
    const Bytes backup = With(FullyPatched(FixtureImage()), ASPECT_AT, {0xAB, 0xAA, 0xAA, 0x3F});
    folder.Write("vm3plus.exe.bak", backup);
    const CliRun run = folder.Run({"--restore"});
    EXPECT_EQ(run.exitCode, 0) << run.out << run.err;
    EXPECT_EQ(run.out,
              "Restored vm3plus.exe\nfrom vm3plus.exe.bak.\n\nvm3plus.exe.bak is kept. It is\npatched itself: the "
              "changes\nof camera, fov, fps stay.\nNo file holds the original.\n");
    const JsonValue json = Json(folder.Run({"--restore", "--json"}));
    EXPECT_TRUE(json["copy_patched"].boolean);
    ASSERT_EQ(json["rules_kept"].items.size(), 3u);
    EXPECT_EQ(json["rules_kept"].items[0].text, "camera");
    EXPECT_EQ(folder.Read("vm3plus.exe"), backup);
    EXPECT_EQ(folder.Read("vm3plus.exe.bak"), backup);
}

// --dir names the game folder for a restore as for a patch run.
TEST(CliRestore, InTheFolderThatDirNames) {
    GameFolder folder;
    fs::create_directory(folder.path() / "game");
    folder.Write("game/vlmr3.exe", FullyPatched(FixtureImage()));
    folder.Write("game/vlmr3.exe.orig", FixtureImage());
    const CliRun run = folder.Run({"--restore", "--dir", "game"});
    EXPECT_EQ(run.exitCode, 0) << run.out << run.err;
    EXPECT_EQ(folder.Read("game/vlmr3.exe"), FixtureImage());
    EXPECT_EQ(folder.Run({"--dir", "game", "--restore", "--json"}).exitCode, 0);
}

TEST(CliRestore, NoCopyAndNoTargetChangeNothing) {
    GameFolder noCopy;
    noCopy.Write("vlmr3.exe", FullyPatched(FixtureImage()));
    FolderState before = Snapshot(noCopy.path());
    CliRun run = noCopy.Run({"--restore"});
    EXPECT_EQ(run.exitCode, 4);
    EXPECT_EQ(run.out, "Nothing was changed!\n\nvlmr3.exe has no copy to\nrestore: no vlmr3.exe.orig\nand no vlmr3.exe.bak.\n");
    EXPECT_NE(run.err, "");
    EXPECT_EQ(Snapshot(noCopy.path()), before);

    GameFolder noTarget;
    noTarget.Write("vlmr3.exe.foo", FixtureImage());
    before = Snapshot(noTarget.path());
    run = noTarget.Run({"--restore", "--json"});
    EXPECT_EQ(run.exitCode, 3);
    const JsonValue json = Json(run);
    EXPECT_EQ(json["target"].kind, JsonValue::NUL);
    EXPECT_EQ(json["restored_from"].kind, JsonValue::NUL);
    // None of the names is there: the window's guess at a busy file is left out.
    EXPECT_EQ(json["result_text"].text, "No Velmora 2345 files");
    EXPECT_EQ(json["error"]["code"].text, "no_target");
    EXPECT_FALSE(json["restored"].boolean);
    EXPECT_EQ(json["exit_code"].number, 3);
    EXPECT_EQ(Snapshot(noTarget.path()), before);
}

// A copy from before a game update must not replace the updated game, unless forced; and
// forced, the updated game is kept first.
TEST(CliRestore, RefusedWhenTheTargetIsAPatchedFormOfNeitherCopy) {
    const Bytes original = FixtureImage();
    const struct {
        const char* label;
        Bytes updated;
        std::string why;  // the line of each copy, both being the original
    } cases[] = {
        {"a byte changed outside the patterns", With(FullyPatched(original), 0x800, {0xCC}), "byte 0x800 differs"},
        {"a byte of a pattern that no rule writes", With(FullyPatched(original), CAMERA_AT + 2, {0x11}),
         "byte 0x202 differs"},
        {"the update as it comes, unpatched", With(original, 0x10, {0x4D, 0x5A}), "byte 0x10 differs"},
        {"two address bytes of the FOV load", UpdatedAddress(original), "byte 0x301 differs"},
        {"the file grew", UpdatedGrown(original), "the sizes differ\n(4608 and 4096 bytes)"},
        {"the file shrank", Bytes(original.begin(), original.end() - 16), "the sizes differ\n(4080 and 4096 bytes)"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.label);
        GameFolder folder;
        folder.Write("vlmr3.exe", original);
        ASSERT_EQ(folder.Run({"--fov", "1920", "--camera", "2000", "--fps"}).exitCode, 0);
        folder.Write("vlmr3.exe", c.updated);
        const FolderState before = Snapshot(folder.path());

        const CliRun refused = folder.Run({"--restore"});
        EXPECT_EQ(refused.exitCode, 4) << refused.out;
        EXPECT_EQ(refused.out, "Nothing was changed!\n\nvlmr3.exe is not a patched form\nof a kept copy:\nvlmr3.exe.orig: " +
                                   c.why + "\nvlmr3.exe.bak: " + c.why +
                                   "\n\nThe store's \"verify files\" also\nrestores the game; --force\nrestores anyway.\n");
        EXPECT_NE(refused.err, "");
        EXPECT_EQ(Snapshot(folder.path()), before);
        const JsonValue json = Json(folder.Run({"--restore", "--json"}));
        EXPECT_FALSE(json["restored"].boolean);
        EXPECT_EQ(json["exit_code"].number, 4);
        EXPECT_EQ(json["restored_from"].kind, JsonValue::NUL);
        ASSERT_EQ(json["copies"].items.size(), 2u);
        for (const JsonValue& copy : json["copies"].items) {
            EXPECT_FALSE(copy["fits"].boolean);
            EXPECT_EQ(copy["first_difference"].kind, JsonValue::NUMBER);
        }
        EXPECT_EQ(Snapshot(folder.path()), before);

        const CliRun forced = folder.Run({"--restore", "--force", "--json"});
        EXPECT_EQ(forced.exitCode, 0) << forced.out << forced.err;
        const JsonValue done = Json(forced);
        EXPECT_TRUE(done["forced"].boolean);
        EXPECT_TRUE(done["restored"].boolean);
        const JsonValue& kept = done["copies"].items.back();
        EXPECT_EQ(kept["kind"].text, "before_restore");
        EXPECT_EQ(kept["name"].text, "vlmr3.exe.before-restore");
        EXPECT_TRUE(kept["written"].boolean);
        EXPECT_EQ(done["result_text"].text,
                  "Restored vlmr3.exe\nfrom vlmr3.exe.orig.\n\nvlmr3.exe.orig is kept.\nThe game as it was is\nkept as "
                  "vlmr3.exe.before-restore.");
        EXPECT_EQ(folder.Read("vlmr3.exe"), original);
        EXPECT_EQ(folder.Read("vlmr3.exe.before-restore"), c.updated);
    }
}

// A second forced restore replaces the game kept by the first, and only with a whole one.
TEST(CliRestore, ForceReplacesAnOlderKeptGame) {
    GameFolder folder;
    folder.Write("vlmr3.exe", UpdatedGrown(FixtureImage()));
    folder.Write("vlmr3.exe.orig", FixtureImage());
    folder.Write("vlmr3.exe.before-restore", {1, 2, 3});
    const CliRun run = folder.Run({"--restore", "--force"});
    EXPECT_EQ(run.exitCode, 0) << run.out;
    EXPECT_TRUE(Contains(run.out, "kept as vlmr3.exe.before-restore.")) << run.out;
    EXPECT_EQ(folder.Read("vlmr3.exe.before-restore"), UpdatedGrown(FixtureImage()));
    EXPECT_EQ(folder.Read("vlmr3.exe"), FixtureImage());
}

// Patched, then updated by the store, then patched again: that run keeps the new version,
// unpatched, as the original and moves the old one aside; the new version comes back.
TEST(CliRestore, AfterAGameUpdateTheNewVersionComesBack) {
    const Bytes v1 = FixtureImage();
    const struct {
        const char* label;
        Bytes v2;
    } updates[] = {
        {"grown", UpdatedGrown(v1)},
        // Not the FOV load's address: the FOV rule writes those bytes, so its written form
        // is the same in both versions.
        {"same size", With(v1, 0x800, {0xCC, 0xCD})},
    };
    for (const auto& u : updates) {
        SCOPED_TRACE(u.label);
        GameFolder folder;
        folder.Write("vlmr3.exe", v1);
        ASSERT_EQ(folder.Run({"--fov", "1920"}).exitCode, 0);
        folder.Write("vlmr3.exe", u.v2);
        ASSERT_EQ(folder.Run({"--fov", "1920"}).exitCode, 0);
        ASSERT_EQ(folder.Read("vlmr3.exe.bak"), u.v2);

        const CliRun run = folder.Run({"--restore", "--json"});
        EXPECT_EQ(run.exitCode, 0) << run.out;
        const JsonValue json = Json(run);
        EXPECT_EQ(json["restored_from"].text, "vlmr3.exe.orig");
        EXPECT_TRUE(json["restored"].boolean);
        EXPECT_FALSE(json["copy_patched"].boolean);
        EXPECT_EQ(folder.Read("vlmr3.exe"), u.v2);
        EXPECT_EQ(folder.Read("vlmr3.exe.orig"), u.v2);
        EXPECT_EQ(folder.Read("vlmr3.exe.orig.1"), v1);
        EXPECT_FALSE(folder.Exists("vlmr3.exe.before-restore"));
    }
}

// The game replaced by the store after a run, with no run since: the kept copies are both
// of the old version, and the new one stays.
TEST(CliRestore, ASameSizeUpdateIsNotRestoredOver) {
    GameFolder folder;
    folder.Write("vlmr3.exe", FixtureImage());
    ASSERT_EQ(folder.Run({"--fov", "1920", "--camera", "2000", "--fps"}).exitCode, 0);
    folder.Write("vlmr3.exe", UpdatedAddress(FixtureImage()));
    const FolderState before = Snapshot(folder.path());
    const CliRun run = folder.Run({"--restore"});
    EXPECT_EQ(run.exitCode, 4) << run.out;
    EXPECT_EQ(Snapshot(folder.path()), before);
}

// Names that are not a copy of the game count as absent: a folder, or the game itself
// through a link.
struct SkippedCopyKind {
    const char* label;
    bool (*make)(const GameFolder& folder);
    const char* line;
};

const SkippedCopyKind SKIPPED_COPY_KINDS[] = {
    {"folder", [](const GameFolder& folder) { return fs::create_directory(folder.path() / "vlmr3.exe.orig"); },
     "vlmr3.exe.orig is not a file."},
    {"hard_link",
     [](const GameFolder& folder) {
         std::error_code error;
         fs::create_hard_link(folder.path() / "vlmr3.exe", folder.path() / "vlmr3.exe.orig", error);
         return !error;
     },
     "vlmr3.exe.orig is the same file as vlmr3.exe."},
    {"symbolic_link",
     [](const GameFolder& folder) {
         std::error_code error;
         fs::create_symlink("vlmr3.exe", folder.path() / "vlmr3.exe.orig", error);
         return !error;
     },
     "vlmr3.exe.orig is the same file as vlmr3.exe."},
};

class SkippedCopy : public testing::TestWithParam<SkippedCopyKind> {};

TEST_P(SkippedCopy, IsNoCopy) {
    const SkippedCopyKind& k = GetParam();
    const Bytes original = FixtureImage();
    const Bytes patched = FullyPatched(original);
    {
        GameFolder folder;
        folder.Write("vlmr3.exe", patched);
        if (!k.make(folder)) GTEST_SKIP() << "this file system makes no " << k.label << " here";
        const FolderState before = Snapshot(folder.path());
        const CliRun run = folder.Run({"--restore"});
        EXPECT_EQ(run.exitCode, 4) << run.out;
        EXPECT_EQ(run.out, std::string("Nothing was changed!\n\nvlmr3.exe has no copy to\nrestore: no "
                                       "vlmr3.exe.orig\nand no vlmr3.exe.bak.\n") +
                               k.line + "\n");
        EXPECT_EQ(Snapshot(folder.path()), before);
    }
    GameFolder folder;
    folder.Write("vlmr3.exe", patched);
    folder.Write("vlmr3.exe.bak", original);
    ASSERT_TRUE(k.make(folder));
    const CliRun run = folder.Run({"--restore", "--json"});
    EXPECT_EQ(run.exitCode, 0) << run.out;
    const JsonValue json = Json(run);
    EXPECT_EQ(json["restored_from"].text, "vlmr3.exe.bak");
    EXPECT_EQ(folder.Read("vlmr3.exe"), original);
    // The skipped one is listed with why it is no copy.
    ASSERT_EQ(json["copies"].items.size(), 2u);
    EXPECT_EQ(json["copies"].items[0]["kind"].text, "orig");
    EXPECT_EQ(json["copies"].items[0]["problem"].kind, JsonValue::OBJECT) << run.out;
    EXPECT_EQ(json["copies"].items[1]["name"].text, "vlmr3.exe.bak");
    EXPECT_TRUE(json["copies"].items[1]["fits"].boolean);
}

INSTANTIATE_TEST_SUITE_P(Kinds, SkippedCopy, testing::ValuesIn(SKIPPED_COPY_KINDS),
                         [](const testing::TestParamInfo<SkippedCopyKind>& info) { return std::string(info.param.label); });

#ifndef _WIN32
// The restored game is a new file: it must start as the old one did and stay the player's.
TEST(CliRestore, KeepsTheTargetsPermissions) {
    GameFolder folder;
    folder.Write("vlmr3.exe", FullyPatched(FixtureImage()));
    folder.Write("vlmr3.exe.orig", FixtureImage());
    ASSERT_EQ(chmod(folder.PathOf("vlmr3.exe").c_str(), 0751), 0);
    const CliRun run = folder.Run({"--restore"});
    ASSERT_EQ(run.exitCode, 0) << run.out;
    struct stat facts;
    ASSERT_EQ(stat(folder.PathOf("vlmr3.exe").c_str(), &facts), 0);
    EXPECT_EQ(facts.st_mode & 07777, 0751u);
    EXPECT_EQ(folder.Read("vlmr3.exe"), FixtureImage());
}
#endif

// In the process itself, so that a step of the replacement can be made to fail the way a
// full disk makes it fail.
class RestoreFailure : public testing::Test {
protected:
    void SetUp() override {
        previous_ = fs::current_path();
        fs::current_path(folder_.path());
    }
    void TearDown() override {
        g_fileOps = DEFAULT_FILE_OPS;
        fs::current_path(previous_);
    }
    GameFolder folder_;
    fs::path previous_;
};

size_t WriteHalf(const void* buffer, size_t size, FILE* file) {
    return DEFAULT_FILE_OPS.write(buffer, size / 2, file);
}
int FailingCommit(FILE*) { return -1; }
int FailingFlush(FILE*) { return -1; }
bool FailingMove(const char*, const char*, bool) { return false; }

// Every step but the last one: the kept game of --force is written by then.
bool MoveFailingOverTheTarget(const char* from, const char* to, bool replace) {
    if (std::string(to) == "vlmr3.exe") return false;
    return DEFAULT_FILE_OPS.move(from, to, replace);
}

TEST_F(RestoreFailure, AFailedReplacementLeavesEveryFileAsItWas) {
    const struct {
        const char* step;
        void (*inject)();
    } steps[] = {
        {"write", [] { g_fileOps.write = WriteHalf; }},
        {"flush", [] { g_fileOps.flush = FailingFlush; }},
        {"commit", [] { g_fileOps.commit = FailingCommit; }},
        {"move", [] { g_fileOps.move = FailingMove; }},
    };
    for (const auto& s : steps) {
        SCOPED_TRACE(s.step);
        folder_.Write("vlmr3.exe", FullyPatched(FixtureImage()));
        folder_.Write("vlmr3.exe.orig", FixtureImage());
        const FolderState before = FilesOf(folder_.path());
        s.inject();
        RestoreResult result;
        RunRestore(false, &result);
        g_fileOps = DEFAULT_FILE_OPS;
        EXPECT_EQ(result.outcome, RESTORE_WRITE_FAILED);
        EXPECT_STREQ(result.text, "Nothing was changed!\r\n\r\nvlmr3.exe could not be\r\nreplaced with vlmr3.exe.orig.");
        EXPECT_EQ(FilesOf(folder_.path()), before) << Describe(Snapshot(folder_.path()));
    }
}

TEST_F(RestoreFailure, AForcedRestoreThatFailsSaysWhatItKept) {
    folder_.Write("vlmr3.exe", UpdatedGrown(FixtureImage()));
    folder_.Write("vlmr3.exe.orig", FixtureImage());
    g_fileOps.move = MoveFailingOverTheTarget;
    RestoreResult result;
    RunRestore(true, &result);
    g_fileOps = DEFAULT_FILE_OPS;
    EXPECT_EQ(result.outcome, RESTORE_WRITE_FAILED);
    EXPECT_STREQ(result.text,
                 "Restoring vlmr3.exe failed!\r\n\r\nvlmr3.exe is as it was;\r\nvlmr3.exe.before-restore\r\nholds a copy of it.");
    EXPECT_EQ(folder_.Read("vlmr3.exe"), UpdatedGrown(FixtureImage()));
    EXPECT_EQ(folder_.Read("vlmr3.exe.before-restore"), UpdatedGrown(FixtureImage()));
    EXPECT_EQ(folder_.Read("vlmr3.exe.orig"), FixtureImage());

    // The kept game cannot be written: nothing else is tried.
    folder_.Write("vlmr3.exe.before-restore", {7});
    const FolderState before = FilesOf(folder_.path());
    g_fileOps.commit = FailingCommit;
    RunRestore(true, &result);
    g_fileOps = DEFAULT_FILE_OPS;
    EXPECT_EQ(result.outcome, RESTORE_WRITE_FAILED);
    EXPECT_STREQ(result.text, "Nothing was changed!\r\n\r\nvlmr3.exe.before-restore\r\ncould not be written.");
    EXPECT_EQ(FilesOf(folder_.path()), before);
}

}  // namespace
