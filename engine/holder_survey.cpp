#include "holder_survey.h"

#include "platform.h"

namespace {

const HolderSurvey* g_survey = nullptr;

}  // namespace

HolderSurvey::~HolderSurvey() {
    if (g_survey == this) g_survey = nullptr;
}

bool HolderSurvey::Add(const char* name) {
    File file = {};
    if (!platform::SurveyedFile(name, &file)) return true;
    for (int i = 0; i < count_; ++i) {
        if (files_[i].volume == file.volume && files_[i].index == file.index) return true;
    }
    if (count_ == MAX_FILES) return false;
    files_[count_++] = file;
    return true;
}

void HolderSurvey::Take() {
    unchecked_ = platform::MarkHolders(files_, count_);
    view_ = platform::ViewOfProcesses();
    taken_ = true;
    g_survey = this;
}

bool HolderSurvey::Holds(uint64_t volume, uint64_t index, bool* covered) const {
    *covered = false;
    if (!taken_) return false;
    for (int i = 0; i < count_; ++i) {
        if (files_[i].volume == volume && files_[i].index == index) {
            *covered = true;
            return files_[i].held;
        }
    }
    return false;
}

const HolderSurvey* CurrentHolderSurvey() { return g_survey; }
