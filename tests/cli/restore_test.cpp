// --restore: the kept copy comes back over the target, but never over a game that the copy
// is not the original of, unless forced; and a failed write says so and keeps the copy.

#include <cstdio>
#include <string>

#include <gtest/gtest.h>

#include "cli_runner.h"
#include "expected.h"
#include "json_value.h"
#include "restore.h"
#include "target_file.h"

namespace {

TEST(CliRestore, TwoRunsThenRestoreGivesTheOriginalBack) {
    GameFolder folder;
    const Bytes original = FixtureImage();
    folder.Write("vlmr3.exe", original);
    ASSERT_EQ(folder.Run({"--fov", "1920", "--camera", "2000", "--fps"}).exitCode, 0);
    const Bytes afterFirst = folder.Read("vlmr3.exe");
    // The first-only widescreen rule now finds the second 4:3 constant.
    ASSERT_EQ(folder.Run({"--aspect", "16:10"}).exitCode, 0);
    ASSERT_EQ(Slice(folder.Read("vlmr3.exe"), ASPECT_AGAIN_AT, 4), Bytes({0xCD, 0xCC, 0xCC, 0x3F}));

    const CliRun restore = folder.Run({"--restore", "--json"});
    EXPECT_EQ(restore.exitCode, 0) << restore.out << restore.err;
    EXPECT_EQ(restore.err, "");
    EXPECT_EQ(folder.Read("vlmr3.exe"), original);
    EXPECT_EQ(folder.Read("vlmr3.exe.orig"), original);
    EXPECT_EQ(folder.Read("vlmr3.exe.bak"), afterFirst);
    JsonValue json;
    std::string error;
    ASSERT_TRUE(ParseJson(restore.out, &json, &error)) << error << "\n" << restore.out;
    EXPECT_EQ(json["target"].text, "vlmr3.exe");
    EXPECT_EQ(json["copy"].text, "vlmr3.exe.orig");
    EXPECT_TRUE(json["restored"].boolean);
    EXPECT_FALSE(json["forced"].boolean);
    EXPECT_EQ(json["exit_code"].number, 0);
    EXPECT_EQ(json["result_text"].text, "Restored vlmr3.exe\nfrom vlmr3.exe.orig.\n\nvlmr3.exe.orig is kept.");

    // Once more: the target already holds the original, so nothing is written at all.
    const FolderState restored = Snapshot(folder.path());
    const CliRun again = folder.Run({"--restore"});
    EXPECT_EQ(again.exitCode, 0);
    EXPECT_EQ(again.out, "Restored vlmr3.exe\nfrom vlmr3.exe.orig.\n\nIt held those bytes already.\n");
    EXPECT_EQ(Snapshot(folder.path()), restored);
}

TEST(CliRestore, WithoutAnOriginalTheBackupIsUsed) {
    GameFolder folder;
    folder.Write("vm3plus.exe", FullyPatched(FixtureImage()));
    const Bytes backup = With(FullyPatched(FixtureImage()), ASPECT_AT, {0xAB, 0xAA, 0xAA, 0x3F});
    folder.Write("vm3plus.exe.bak", backup);
    const CliRun run = folder.Run({"--restore"});
    EXPECT_EQ(run.exitCode, 0) << run.out << run.err;
    EXPECT_EQ(run.out, "Restored vm3plus.exe\nfrom vm3plus.exe.bak.\n\nvm3plus.exe.bak is kept.\n");
    EXPECT_EQ(folder.Read("vm3plus.exe"), backup);
    EXPECT_EQ(folder.Read("vm3plus.exe.bak"), backup);
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
    noTarget.Write("vlmr3.exe.orig", FixtureImage());
    before = Snapshot(noTarget.path());
    run = noTarget.Run({"--restore", "--json"});
    EXPECT_EQ(run.exitCode, 3);
    JsonValue json;
    std::string error;
    ASSERT_TRUE(ParseJson(run.out, &json, &error)) << error;
    EXPECT_EQ(json["target"].kind, JsonValue::NUL);
    EXPECT_EQ(json["copy"].kind, JsonValue::NUL);
    EXPECT_EQ(json["result_text"].text, "No Velmora 2345 files\nMaybe file is busy");
    EXPECT_EQ(json["exit_code"].number, 3);
    EXPECT_EQ(Snapshot(noTarget.path()), before);
}

// A copy from before a game update must not replace the updated game, unless forced.
TEST(CliRestore, RefusedWhenTheTargetIsNotAPatchedFormOfTheCopy) {
    const Bytes original = FixtureImage();
    const struct {
        const char* label;
        Bytes updated;
        std::string why;
    } cases[] = {
        {"a byte changed outside the patterns", With(FullyPatched(original), 0x800, {0xCC}),
         "byte 0x800 differs outside the patches."},
        {"a byte of a pattern that no rule writes", With(FullyPatched(original), CAMERA_AT + 2, {0x11}),
         "byte 0x202 differs outside the patches."},
        {"the update as it comes, unpatched", With(original, 0x10, {0x4D, 0x5A}),
         "byte 0x10 differs outside the patches."},
        {"the file grew", [&] {
             Bytes grown = FullyPatched(original);
             grown.resize(grown.size() + 512, 0xCC);
             return grown;
         }(), "the sizes differ (4608 and 4096 bytes)."},
        {"the file shrank", Bytes(original.begin(), original.end() - 16),
         "the sizes differ (4080 and 4096 bytes)."},
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
        EXPECT_EQ(refused.out,
                  "Nothing was changed!\n\nvlmr3.exe is not a patched\nform of vlmr3.exe.orig:\n" + c.why + "\n");
        EXPECT_NE(refused.err, "");
        EXPECT_EQ(Snapshot(folder.path()), before);

        const CliRun forced = folder.Run({"--restore", "--force", "--json"});
        EXPECT_EQ(forced.exitCode, 0) << forced.out << forced.err;
        EXPECT_TRUE(Contains(forced.out, "\"forced\": true")) << forced.out;
        EXPECT_EQ(folder.Read("vlmr3.exe"), original);
    }
}

// In the process itself, so that a write of the target can be made to fail the way a full
// disk makes it fail.
class RestoreFailure : public testing::Test {
protected:
    void SetUp() override {
        previous_ = std::filesystem::current_path();
        folder_.Write("vlmr3.exe", FullyPatched(FixtureImage()));
        folder_.Write("vlmr3.exe.orig", FixtureImage());
        std::filesystem::current_path(folder_.path());
    }
    void TearDown() override {
        g_fileOps = DEFAULT_FILE_OPS;
        std::filesystem::current_path(previous_);
    }
    GameFolder folder_;
    std::filesystem::path previous_;
};

size_t WriteHalf(const void* buffer, size_t size, FILE* file) {
    return DEFAULT_FILE_OPS.write(buffer, size / 2, file);
}
int FailingCommit(FILE*) { return -1; }
int FailingFlush(FILE*) { return -1; }
int FailingClose(FILE* file) {
    DEFAULT_FILE_OPS.close(file);
    return -1;
}

TEST_F(RestoreFailure, AFailedWriteSaysSoAndKeepsTheCopy) {
    const struct {
        const char* step;
        void (*inject)();
    } steps[] = {
        {"write", [] { g_fileOps.write = WriteHalf; }},
        {"flush", [] { g_fileOps.flush = FailingFlush; }},
        {"commit", [] { g_fileOps.commit = FailingCommit; }},
        {"close", [] { g_fileOps.close = FailingClose; }},
    };
    for (const auto& s : steps) {
        SCOPED_TRACE(s.step);
        folder_.Write("vlmr3.exe", FullyPatched(FixtureImage()));
        s.inject();
        RestoreResult result;
        RunRestore(false, &result);
        g_fileOps = DEFAULT_FILE_OPS;
        EXPECT_EQ(result.outcome, RESTORE_WRITE_FAILED);
        EXPECT_STREQ(result.text,
                     "Writing vlmr3.exe failed!\r\n\r\nvlmr3.exe.orig is kept:\r\nrestore again, or copy it\r\nover "
                     "vlmr3.exe.");
        EXPECT_EQ(folder_.Read("vlmr3.exe.orig"), FixtureImage());
    }
}

}  // namespace
