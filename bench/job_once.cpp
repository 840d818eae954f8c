// Runs one patch job, with all four rules on, in the current folder and prints its result
// lines: the process whose peak memory is compared with the size of the target file.

#include <cstdio>
#include <cstring>

#include "feature_toggles.h"
#include "patch_worker.h"

int main() {
    g_bWidescreen = g_bCameraDistance = g_bFieldOfView = g_bFps60 = 1;
    PatchJob job;
    std::memset(&job, 0, sizeof job);
    job.aspect_ratio = 16.0f / 9.0f;
    job.camera_distance = 2048;
    job.fov_width = 1920;
    RunPatchJob(&job);
    if (job.target_name[0] == '\0') {
        std::printf("no target found\n");
        return 1;
    }
    std::printf("%s\n%s\n%s\n%s\n%s\n%s\n", job.target_name, job.widescreen_status, job.camera_status, job.fov_status,
                job.fps_status, job.failure_text);
    return job.failure_text[0] == '\0' ? 0 : 1;
}
