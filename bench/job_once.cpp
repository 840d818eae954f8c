// Runs one patch job, with all four rules on, in the current folder and prints its result
// lines: the process whose peak memory is compared with the size of the target file.

#include <cstdio>
#include <cstring>

#include "patch_worker.h"

int main() {
    PatchJob job;
    std::memset(&job, 0, sizeof job);
    for (RuleRequest& request : job.requests) request.on = true;
    job.requests[RULE_WIDESCREEN].value.ratio = 16.0f / 9.0f;
    job.requests[RULE_CAMERA].value.whole = 2048;
    job.requests[RULE_FOV].value.whole = 1920;
    RunPatchJob(&job);
    if (job.target_name[0] == '\0') {
        std::printf("no target found\n");
        return 1;
    }
    std::printf("%s\n", job.target_name);
    for (const char* line : job.status) std::printf("%s\n", line);
    std::printf("%s\n", job.failure_text);
    return job.failure_text[0] == '\0' ? 0 : 1;
}
