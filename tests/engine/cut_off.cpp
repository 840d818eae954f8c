#include "cut_off.h"

#include <cstdlib>

#include "patch_worker.h"
#include "restore.h"
#include "target_file.h"

namespace {

int g_steps;
int g_cutAt;
bool g_tornWrite;  // a cut at a write ends the process half-way through it

void Step() {
    // No cleanup of any kind: the files must be safe as the system holds them right now.
    if (++g_steps == g_cutAt) std::_Exit(CUT_OFF_EXIT_CODE);
}

NativeFile Open(const char* name, OpenDisposition disposition, unsigned long* error) {
    const NativeFile file = DEFAULT_FILE_OPS.openNative(name, disposition, error);
    Step();
    return file;
}
size_t Write(const void* buffer, size_t size, FILE* file) {
    if (g_tornWrite && g_steps + 1 == g_cutAt) {
        // Half the bytes reach the file, as when the process is killed in the write.
        DEFAULT_FILE_OPS.write(buffer, size / 2, file);
        DEFAULT_FILE_OPS.flush(file);
        std::_Exit(CUT_OFF_EXIT_CODE);
    }
    const size_t written = DEFAULT_FILE_OPS.write(buffer, size, file);
    Step();
    return written;
}
// The write-back writes each changed stretch in place: a cut between two of them, or half-way
// through one, is a cut like any other.
bool WriteAt(FILE* file, uint64_t offset, const void* data, size_t size) {
    if (g_tornWrite && g_steps + 1 == g_cutAt) {
        DEFAULT_FILE_OPS.writeAt(file, offset, data, size / 2);
        std::_Exit(CUT_OFF_EXIT_CODE);
    }
    const bool written = DEFAULT_FILE_OPS.writeAt(file, offset, data, size);
    Step();
    return written;
}
bool CopyRange(FILE* destination, FILE* source, uint64_t size, uint64_t* copied, unsigned long* error) {
    const bool done = DEFAULT_FILE_OPS.copyRange(destination, source, size, copied, error);
    Step();
    return done;
}
int Commit(FILE* file) {
    const int result = DEFAULT_FILE_OPS.commit(file);
    Step();
    return result;
}
int Close(FILE* file) {
    const int result = DEFAULT_FILE_OPS.close(file);
    Step();
    return result;
}
bool Move(const char* from, const char* to, bool replace) {
    const bool moved = DEFAULT_FILE_OPS.move(from, to, replace);
    Step();
    return moved;
}

}  // namespace

PatchJob CutOffJob() {
    PatchJob job = {};
    for (RuleRequest& request : job.requests) request.on = true;
    job.requests[RULE_WIDESCREEN].value.ratio = 16.0f / 9.0f;
    job.requests[RULE_CAMERA].value.whole = 2048;
    job.requests[RULE_FOV].value.whole = 1920;
    return job;
}

void CutOffAfterStep(int step) {
    g_steps = 0;
    g_tornWrite = false;
    g_cutAt = step;
    g_fileOps = DEFAULT_FILE_OPS;
    g_fileOps.openNative = Open;
    g_fileOps.write = Write;
    g_fileOps.writeAt = WriteAt;
    g_fileOps.copyRange = CopyRange;
    g_fileOps.commit = Commit;
    g_fileOps.close = Close;
    g_fileOps.move = Move;
}

int RunCutOffJob(int step) {
    CutOffAfterStep(step);
    PatchJob job = CutOffJob();
    RunPatchJob(&job);
    return job.failure_text[0] == '\0' ? CUT_OFF_FINISHED : CUT_OFF_FAILED;
}

int RunCutOffRestore(int step, bool force) {
    CutOffAfterStep(step);
    g_tornWrite = true;
    RestoreResult result;
    RunRestore(force, &result);
    return result.outcome == RESTORE_DONE ? CUT_OFF_FINISHED : CUT_OFF_FAILED;
}
