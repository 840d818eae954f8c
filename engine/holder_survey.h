#pragma once
// Who else holds the run's files: the look at the other processes in place of the sharing
// modes that Linux lacks.

#include <cstdint>

#include "patch_job.h"

// What the look at the other processes cannot see.
enum ProcessView {
    VIEW_ALL,
    VIEW_HIDEPID,        // /proc is mounted with hidepid: other users' processes are not listed
    VIEW_PID_NAMESPACE,  // this process has a PID namespace and a /proc of its own
};

// Linux has no sharing modes, so a running game is seen by looking at the other processes:
// which have one of the files open or mapped. A survey does that once for a whole run, for
// every file the run may open, instead of once per open; while a survey lives, the natively
// existing-file opens (OpenForUpdate) consult it for the files it covers and look afresh
// only for the others. On Windows the sharing modes do this and a survey does nothing.
//
//     HolderSurvey survey;
//     survey.Add("vlmr3.exe"); survey.Add("vlmr3.exe.bak");  // ... every name of the run
//     survey.Take();
//     FILE* target = OpenForUpdate("vlmr3.exe", &reason);    // consults the survey
//     if (survey.UncheckedProcesses() != 0) ...               // tell the player
//
// One survey at a time; it is the one in effect from Take to its end.
class HolderSurvey {
public:
    enum { MAX_FILES = 32 };
    HolderSurvey() = default;
    ~HolderSurvey();
    HolderSurvey(const HolderSurvey&) = delete;
    HolderSurvey& operator=(const HolderSurvey&) = delete;

    // Names whose file does not exist (yet) are left out; false when the survey is full.
    bool Add(const char* name);
    // Walks the processes once, other than this one, and puts the survey in effect.
    void Take();
    // Whether another process holds the file with this identity; `covered` says whether the
    // survey knows the file at all.
    bool Holds(uint64_t volume, uint64_t index, bool* covered) const;
    // Processes whose open files and mappings could not be looked at (another user's, when
    // not run as root); -1 when the processes could not be listed at all.
    int UncheckedProcesses() const { return unchecked_; }
    // What the walk could not see at all: processes that /proc does not list.
    ProcessView View() const { return view_; }

    struct File {
        uint64_t volume, index;
        char path[PATCH_TEXT_SIZE];  // as the maps show it, when it can be told
        bool held;
    };

private:
    File files_[MAX_FILES] = {};
    int count_ = 0;
    int unchecked_ = 0;
    ProcessView view_ = VIEW_ALL;
    bool taken_ = false;
};
// The survey in effect, or null.
const HolderSurvey* CurrentHolderSurvey();
