#include "patch_worker.h"

#include "bounded_text.h"
#include "patch_rules.h"
#include "target_file.h"

const char* const TARGET_CANDIDATES[TARGET_CANDIDATE_COUNT] = {
    "Vlmr2.exe", "v2plus.exe", "vlmr3.exe", "vm3plus.exe", "vlmr4.exe", "PCVlmr5.exe",
};

namespace {

// The image is counted in 32 bits; anything larger is refused before it is read.
const uint64_t MAX_IMAGE_SIZE = 0xFFFFFFFFull;

// Every name that opens replaces the one before, so the last openable name is the target.
void ProbeCandidates(PatchJob* job) {
    for (const char* name : TARGET_CANDIDATES) {
        FILE* probe = g_fileOps.openExclusive(name, "r+b");
        if (probe == nullptr) continue;
        g_fileOps.close(probe);
        strcpy_s(job->target_name, name);
    }
}

// Reads the open target whole. On failure fills failure_text; nothing has been written.
uint8_t* ReadWholeImage(FILE* target, PatchJob* job, uint32_t* imageSize) {
    const char* name = job->target_name;
    uint64_t size = 0;
    if (!g_fileOps.tellSize(target, &size) || !g_fileOps.rewind(target)) {
        sprintf_s(job->failure_text, "Nothing was changed!\r\n\r\nThe size of %s\r\ncould not be read.", name);
        return nullptr;
    }
    if (size > MAX_IMAGE_SIZE) {
        sprintf_s(job->failure_text, "Nothing was changed!\r\n\r\n%s is 4 GiB\r\nor larger.", name);
        return nullptr;
    }
    uint8_t* image = static_cast<uint8_t*>(g_fileOps.allocate(static_cast<size_t>(size)));
    if (image == nullptr) {
        sprintf_s(job->failure_text, "Nothing was changed!\r\n\r\nNot enough memory\r\nto read %s.", name);
        return nullptr;
    }
    if (g_fileOps.read(image, static_cast<size_t>(size), target) != size) {
        g_fileOps.release(image);
        sprintf_s(job->failure_text, "Nothing was changed!\r\n\r\n%s could not\r\nbe read whole.", name);
        return nullptr;
    }
    *imageSize = static_cast<uint32_t>(size);
    return image;
}

// Writes the backup whole, or reports why not. A backup left half-written would look
// like a good copy of the game, so a failed one is removed again.
bool WriteBackup(const char* backupName, const uint8_t* image, uint32_t size, PatchJob* job) {
    FILE* backup = g_fileOps.openExclusive(backupName, "wb");
    bool written = false;
    if (backup != nullptr) {
        written = WriteWhole(backup, image, size);
        written = (g_fileOps.close(backup) == 0) && written;
        if (!written) g_fileOps.remove(backupName);
    }
    if (!written) {
        sprintf_s(job->failure_text, "Nothing was changed!\r\n\r\nThe backup %s\r\ncould not be written.", backupName);
    }
    return written;
}

}  // namespace

void RunPatchJob(PatchJob* job) {
    const RuleValues values = {job->aspect_ratio, job->camera_distance, job->fov_width};
    bool applied[RULE_COUNT] = {};

    ProbeCandidates(job);
    if (job->target_name[0] == '\0') return;

    FILE* target = g_fileOps.openExclusive(job->target_name, "r+b");
    if (target == nullptr) {
        sprintf_s(job->failure_text, "Nothing was changed!\r\n\r\n%s could not be\r\nopened again.\r\nMaybe file is busy",
                  job->target_name);
        return;
    }
    uint32_t size = 0;
    uint8_t* image = ReadWholeImage(target, job, &size);
    if (image == nullptr) {
        g_fileOps.close(target);
        return;
    }

    char backupName[PATCH_TEXT_SIZE];
    strcpy_s(backupName, job->target_name);
    strcat_s(backupName, ".bak");
    if (!WriteBackup(backupName, image, size, job)) {
        g_fileOps.close(target);
        g_fileOps.release(image);
        return;
    }

    ApplyPatchRules(image, size, values, job, applied);

    bool writtenBack = g_fileOps.rewind(target) && WriteWhole(target, image, size);
    writtenBack = (g_fileOps.close(target) == 0) && writtenBack;
    g_fileOps.release(image);
    if (!writtenBack) {
        sprintf_s(job->failure_text,
                  "Writing %s failed!\r\n\r\n%s holds\r\nthe previous contents:\r\ncopy it back to restore\r\nthe game.",
                  job->target_name, backupName);
    }

    char(*const statusLines[RULE_COUNT])[PATCH_TEXT_SIZE] = {&job->widescreen_status, &job->camera_status,
                                                              &job->fov_status, &job->fps_status};
    for (int rule = 0; rule < RULE_COUNT; ++rule) {
        if (!applied[rule]) strcpy_s(*statusLines[rule], RuleNotUsedText(static_cast<PatchRule>(rule)));
    }
}

unsigned PATCH_WORKER_API PatchWorker(void* job) {
    RunPatchJob(static_cast<PatchJob*>(job));
    return 0;
}
