// A target that another process holds, as a running game (also one under Wine or Proton)
// holds its executable: open, locked or mapped. Nothing is touched, and the player is told.

#include <string>

#include <gtest/gtest.h>

#include "cli_runner.h"
#include "expected.h"

namespace {

const char DRY_RUN_NOTE[] = "Dry run: nothing was written. A real run would show:\n\n";
const char IN_USE[] = "No Velmora 2345 files\nMaybe file is busy\nvlmr3.exe: in use\nClose the game, then try again.\n";

TEST(CliInUse, EveryWayOfHoldingTheTargetIsInUse) {
    const struct {
        const char* label;
        HoldKind kind;
    } holds[] = {
        {"open for reading", HOLD_OPEN},
        {"locked with flock", HOLD_FLOCK},
        {"mapped, its descriptor closed", HOLD_MAPPED},
    };
    for (const auto& h : holds) {
        SCOPED_TRACE(h.label);
        GameFolder folder;
        folder.Write("vlmr3.exe", FixtureImage());
        folder.Write("vlmr3.exe.orig", FixtureImage());
        {
            FileHolder holder(folder.PathOf("vlmr3.exe"), h.kind);
            ASSERT_TRUE(holder.holding());
            const FolderState before = Snapshot(folder.path());
            for (const std::vector<std::string>& args :
                 {std::vector<std::string>{}, {"--dry-run", "--fps"}, {"--restore", "--force"}}) {
                const CliRun run = folder.Run(args);
                EXPECT_EQ(run.exitCode, 3) << (args.empty() ? "" : args[0]);
                const bool dry = !args.empty() && args[0] == "--dry-run";
                EXPECT_EQ(WindowPart(run.err), (dry ? std::string(DRY_RUN_NOTE) : std::string()) + IN_USE);
            }
            EXPECT_EQ(Snapshot(folder.path()), before);
        }
        // Once the game is closed the same command goes through.
        const CliRun run = folder.Run({});
        EXPECT_EQ(run.exitCode, 0) << run.out << run.err;
    }
}

// A held candidate is named even when another one is the target, which it would have been.
TEST(CliInUse, AHeldCandidateIsPassedOverForTheOneBeforeIt) {
    GameFolder folder;
    folder.Write("vlmr3.exe", FixtureImage());
    folder.Write("vlmr4.exe", FixtureImage());
    FileHolder holder(folder.PathOf("vlmr4.exe"), HOLD_OPEN);
    ASSERT_TRUE(holder.holding());
    const CliRun run = folder.Run({});
    EXPECT_EQ(run.exitCode, 0) << run.out << run.err;
    EXPECT_EQ(run.out.compare(0, 16, "Done vlmr3.exe!\n"), 0) << run.out;
    EXPECT_EQ(folder.Read("vlmr4.exe"), FixtureImage());
}

}  // namespace
