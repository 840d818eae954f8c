// The target as it is spelt on the disk: natively any case of a candidate's name is that
// candidate, its copies take the same spelling, two spellings in one folder make the
// choice the player's, and a name picked with --exe is the only one opened. On Windows the
// names and texts stay the window's.

#include <set>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "candidate_names.h"
#include "job_report.h"
#include "patch_worker.h"
#include "restore.h"
#include "target_file.h"
#include "test_folder.h"

namespace {

// A game with the widescreen pattern once, among filler.
const Bytes GAME = {0x90, 0x90, 0xAB, 0xAA, 0xAA, 0x3F, 0x90, 0x90};
const char NO_FILES[] = "No Velmora 2345 files\r\nMaybe file is busy";

std::vector<std::string> g_opened;

NativeFile RecordingOpen(const char* name, OpenDisposition disposition, unsigned long* error) {
    g_opened.push_back(name);
    return DEFAULT_FILE_OPS.openNative(name, disposition, error);
}

// Records the name of every open for update or creation while it lives.
class OpenRecorder {
public:
    OpenRecorder() {
        g_opened.clear();
        g_fileOps.openNative = RecordingOpen;
    }
    ~OpenRecorder() { g_fileOps = DEFAULT_FILE_OPS; }
};

struct PatchRun {
    PatchJob job;
    JobReport report;
};

void RunWith(const char* exe, PatchRun* run) {
    ToggleScope toggles(true, false, false, false);
    run->job = MakeJob(16.0f / 9.0f, 0, 0);
    run->report.exe = exe;
    RunPatchJob(&run->job, &run->report);
}

TEST(CandidateNames, AnySpellingOfACandidateIsIt) {
    for (const char* spelling : {"VLMR3.EXE", "Vlmr3.exe", "vLmR3.eXe", "vlmr3.exe"}) {
        SCOPED_TRACE(spelling);
        TestFolder folder;
        WriteFile(spelling, GAME);
        PatchRun run;
        RunWith(nullptr, &run);
        EXPECT_STREQ(run.job.failure_text, "");
#ifdef _WIN32
        // The window's own name and texts, whatever the disk says.
        EXPECT_STREQ(run.job.target_name, "vlmr3.exe");
#else
        EXPECT_STREQ(run.job.target_name, spelling);
        EXPECT_TRUE(FileExists(std::string(spelling) + ".bak"));
        EXPECT_TRUE(FileExists(std::string(spelling) + ".orig"));
        EXPECT_EQ(ReadFile(std::string(spelling) + ".orig"), GAME);
        if (std::string(spelling) != "vlmr3.exe") {
            EXPECT_FALSE(FileExists("vlmr3.exe.bak"));
        }
#endif
        EXPECT_NE(ReadFile(spelling), GAME);
        ASSERT_EQ(run.report.files.count, 1);
        EXPECT_EQ(run.report.files.files[0].candidate, 2);
        EXPECT_EQ(run.report.files.files[0].reason, OPEN_OK);
        EXPECT_FALSE(run.report.files.caseTwins);
    }
}

TEST(CandidateNames, NamesThatAreNoCandidatesAreNotOnes) {
    TestFolder folder;
    for (const char* name : {"vlmr3.exe.bak", "xvlmr3.exe", "vlmr3.ex", "vlmr3exe"}) WriteFile(name, GAME);
    PatchRun run;
    RunWith(nullptr, &run);
    EXPECT_STREQ(run.job.target_name, "");
    EXPECT_STREQ(run.job.failure_text, NO_FILES);
    EXPECT_EQ(run.report.files.count, 0);
    EXPECT_EQ(CandidateIndexOf("PCVLMR5.EXE"), 5);
    EXPECT_EQ(CandidateIndexOf("vlmr3.exe.orig"), -1);
    EXPECT_EQ(CandidateIndexOf(""), -1);
}

// A candidate chosen by --exe is opened alone, even where a later one would be the target.
TEST(CandidateNames, ExeOpensThatCandidateAndNoOther) {
    for (const char* exe : {"Vlmr2.exe", "VLMR2.EXE"}) {
        SCOPED_TRACE(exe);
        TestFolder folder;
        for (const char* name : {"Vlmr2.exe", "vlmr3.exe", "PCVlmr5.exe"}) WriteFile(name, GAME);
        PatchRun run;
        {
            OpenRecorder recorder;
            RunWith(exe, &run);
            for (const std::string& opened : g_opened) EXPECT_EQ(opened.compare(0, 9, "Vlmr2.exe"), 0) << opened;
        }
        EXPECT_STREQ(run.job.target_name, "Vlmr2.exe");
        EXPECT_STREQ(run.job.failure_text, "");
        EXPECT_NE(ReadFile("Vlmr2.exe"), GAME);
        EXPECT_EQ(ReadFile("vlmr3.exe"), GAME);
        EXPECT_EQ(ReadFile("PCVlmr5.exe"), GAME);
        EXPECT_EQ(run.report.candidates[2], OPEN_MISSING) << "vlmr3.exe was looked at";
        EXPECT_EQ(run.report.files.count, 1);
    }
    // One that is not there: nothing at all, even with the others there.
    TestFolder folder;
    WriteFile("vlmr3.exe", GAME);
    PatchRun run;
    OpenRecorder recorder;
    RunWith("vlmr4.exe", &run);
    EXPECT_TRUE(g_opened.empty());
    EXPECT_STREQ(run.job.target_name, "");
    EXPECT_EQ(run.report.files.count, 0);
    EXPECT_EQ(ReadFile("vlmr3.exe"), GAME);
}

TEST(CandidateNames, ExePicksTheCandidateToRestore) {
    TestFolder folder;
    const Bytes patched = {0x90, 0x90, 0x39, 0x8E, 0xE3, 0x3F, 0x90, 0x90};
    for (const char* name : {"Vlmr2.exe", "vlmr3.exe"}) {
        WriteFile(name, patched);
        WriteFile(std::string(name) + ".orig", GAME);
    }
    RestoreResult result;
    {
        OpenRecorder recorder;
        RunRestore(false, &result, "vlmr2.exe");
        for (const std::string& opened : g_opened) EXPECT_EQ(opened.compare(0, 9, "Vlmr2.exe"), 0) << opened;
    }
    EXPECT_EQ(result.outcome, RESTORE_DONE) << result.text;
    EXPECT_STREQ(result.target_name, "Vlmr2.exe");
    EXPECT_EQ(ReadFile("Vlmr2.exe"), GAME);
    EXPECT_EQ(ReadFile("vlmr3.exe"), patched);
}

#ifndef _WIN32
// Either of two spellings could be the game the player means: neither is touched, both are
// named, until --exe names one exactly.
TEST(CandidateNames, TwoSpellingsOfOneCandidateAreLeftToThePlayer) {
    TestFolder folder;
    for (const char* name : {"VLMR3.EXE", "vlmr3.exe", "Vlmr2.exe"}) WriteFile(name, GAME);
    PatchRun run;
    RunWith(nullptr, &run);
    EXPECT_STREQ(run.job.target_name, "");
    EXPECT_STREQ(run.job.failure_text, NO_FILES);
    EXPECT_TRUE(run.report.files.caseTwins);
    ASSERT_EQ(run.report.files.count, 3);
    EXPECT_STREQ(run.report.files.files[0].name, "Vlmr2.exe");
    EXPECT_STREQ(run.report.files.files[1].name, "VLMR3.EXE");
    EXPECT_STREQ(run.report.files.files[2].name, "vlmr3.exe");
    for (const char* name : {"VLMR3.EXE", "vlmr3.exe", "Vlmr2.exe"}) EXPECT_EQ(ReadFile(name), GAME) << name;
    for (const char* copy : {"VLMR3.EXE.bak", "vlmr3.exe.bak", "Vlmr2.exe.bak"}) EXPECT_FALSE(FileExists(copy)) << copy;

    RestoreResult restore;
    RunRestore(true, &restore);
    EXPECT_EQ(restore.outcome, RESTORE_NO_TARGET);

    // A spelling that is neither leaves the choice open; the exact one makes it.
    PatchRun unsure;
    RunWith("Vlmr3.exe", &unsure);
    EXPECT_STREQ(unsure.job.target_name, "");
    EXPECT_EQ(unsure.report.files.count, 2);
    PatchRun picked;
    RunWith("VLMR3.EXE", &picked);
    EXPECT_STREQ(picked.job.target_name, "VLMR3.EXE");
    EXPECT_NE(ReadFile("VLMR3.EXE"), GAME);
    EXPECT_EQ(ReadFile("vlmr3.exe"), GAME);
    EXPECT_TRUE(FileExists("VLMR3.EXE.orig"));
    EXPECT_FALSE(FileExists("vlmr3.exe.orig"));
}

// A folder under the other spelling is no second candidate.
TEST(CandidateNames, AFolderOfTheOtherSpellingIsNoTwin) {
    TestFolder folder;
    WriteFile("vlmr3.exe", GAME);
    std::filesystem::create_directory("VLMR3.EXE");
    PatchRun run;
    RunWith(nullptr, &run);
    EXPECT_STREQ(run.job.target_name, "vlmr3.exe");
    EXPECT_FALSE(run.report.files.caseTwins);
}
#endif

}  // namespace
