#include "test_folder.h"

#include <atomic>
#include <cstring>
#include <fstream>
#include <iterator>
#include <random>

#include "feature_toggles.h"

namespace fs = std::filesystem;

TestFolder::TestFolder() : previous_(fs::current_path()) {
    static std::atomic<unsigned> counter{0};
    std::random_device seed;
    for (;;) {
        path_ = fs::temp_directory_path() /
                ("velmora-test-" + std::to_string(seed()) + "-" + std::to_string(counter++));
        if (fs::create_directory(path_)) break;
    }
    fs::current_path(path_);
}

TestFolder::~TestFolder() {
    fs::current_path(previous_);
    std::error_code ignored;
    fs::remove_all(path_, ignored);
}

void WriteFile(const std::string& name, const Bytes& bytes) {
    std::ofstream out(name, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    ASSERT_TRUE(out.good()) << name;
}

Bytes ReadFile(const std::string& name) {
    std::ifstream in(name, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

bool FileExists(const std::string& name) { return fs::exists(name); }

ToggleScope::ToggleScope(bool widescreen, bool camera, bool fov, bool fps) {
    g_bWidescreen = widescreen;
    g_bCameraDistance = camera;
    g_bFieldOfView = fov;
    g_bFps60 = fps;
}

ToggleScope::~ToggleScope() {
    g_bWidescreen = 1;
    g_bCameraDistance = 0;
    g_bFieldOfView = 0;
    g_bFps60 = 0;
}

PatchJob MakeJob(float aspect, int16_t camera, int32_t fov) {
    PatchJob job;
    std::memset(&job, 0, sizeof job);
    job.aspect_ratio = aspect;
    job.camera_distance = camera;
    job.fov_width = fov;
    return job;
}
