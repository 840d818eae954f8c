// The one look at the other processes that a run takes: who holds which of its files, and
// that the tool's own process is never one of them, also where its process number is not
// the one /proc shows.

#include <fcntl.h>
#include <sched.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "target_file.h"
#include "test_folder.h"

namespace {

// Whether the survey, taken while this process holds `name` itself, counts it as held.
bool HeldWhileOwnProcessHoldsIt(const char* name) {
    const int own = open(name, O_RDONLY);
    HolderSurvey survey;
    survey.Add(name);
    survey.Take();
    struct stat facts;
    bool covered = false;
    const bool held = stat(name, &facts) == 0 && survey.Holds(facts.st_dev, facts.st_ino, &covered);
    close(own);
    return held || !covered;
}

TEST(HolderSurvey, SeesAnotherProcessAndNotItsOwn) {
    TestFolder folder;
    WriteFile("vlmr3.exe", {1, 2, 3});
    WriteFile("vlmr3.exe.bak", {4});
    EXPECT_FALSE(HeldWhileOwnProcessHoldsIt("vlmr3.exe"));

    int ready[2];
    ASSERT_EQ(pipe(ready), 0);
    const pid_t game = fork();
    if (game == 0) {
        const int held = open("vlmr3.exe", O_RDONLY);
        if (held < 0 || write(ready[1], "1", 1) != 1) _exit(1);
        for (;;) pause();
    }
    char byte = 0;
    ASSERT_EQ(read(ready[0], &byte, 1), 1);
    HolderSurvey survey;
    survey.Add("vlmr3.exe");
    survey.Add("vlmr3.exe.bak");
    survey.Add("vlmr3.exe.orig");  // not there: left out
    survey.Take();
    EXPECT_EQ(CurrentHolderSurvey(), &survey);
    struct stat target, backup;
    ASSERT_EQ(stat("vlmr3.exe", &target), 0);
    ASSERT_EQ(stat("vlmr3.exe.bak", &backup), 0);
    bool covered = false;
    EXPECT_TRUE(survey.Holds(target.st_dev, target.st_ino, &covered));
    EXPECT_TRUE(covered);
    EXPECT_FALSE(survey.Holds(backup.st_dev, backup.st_ino, &covered));
    EXPECT_TRUE(covered);
    // The open consults it, with the reason the player reads.
    OpenReason reason = OPEN_OK;
    EXPECT_EQ(OpenForUpdate("vlmr3.exe", &reason), nullptr);
    EXPECT_EQ(reason, OPEN_IN_USE);
    kill(game, SIGKILL);
    waitpid(game, nullptr, 0);
    close(ready[0]);
    close(ready[1]);
}

TEST(HolderSurvey, OwnProcessInAPidNamespaceWithoutItsOwnProcIsNoHolder) {
    TestFolder folder;
    WriteFile("vlmr3.exe", {1, 2, 3});
    // The child makes a PID namespace; its own child is process 1 there, while /proc still
    // shows the numbers of the namespace outside.
    const pid_t child = fork();
    if (child == 0) {
        if (unshare(CLONE_NEWPID) != 0) _exit(77);
        const pid_t inner = fork();
        if (inner == 0) _exit(getpid() == 1 && !HeldWhileOwnProcessHoldsIt("vlmr3.exe") ? 0 : 1);
        int status = 0;
        waitpid(inner, &status, 0);
        _exit(WIFEXITED(status) ? WEXITSTATUS(status) : 2);
    }
    int status = 0;
    waitpid(child, &status, 0);
    ASSERT_TRUE(WIFEXITED(status));
    if (WEXITSTATUS(status) == 77) GTEST_SKIP() << "a PID namespace needs root";
    EXPECT_EQ(WEXITSTATUS(status), 0) << "the own process was counted as a holder";
}

}  // namespace
