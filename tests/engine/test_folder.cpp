#include "test_folder.h"

#include <atomic>
#include <cstring>
#include <fstream>
#include <iterator>
#include <random>


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

namespace {

// The window's toggles as they start: the switches of the jobs MakeJob makes.
bool g_switches[RULE_COUNT];
const bool STARTING_SWITCHES = [] {
    for (int rule = 0; rule < RULE_COUNT; ++rule) g_switches[rule] = RULE_TABLE[rule].onByDefault;
    return true;
}();

}  // namespace

ToggleScope::ToggleScope(bool widescreen, bool camera, bool fov, bool fps) {
    g_switches[RULE_WIDESCREEN] = widescreen;
    g_switches[RULE_CAMERA] = camera;
    g_switches[RULE_FOV] = fov;
    g_switches[RULE_FPS] = fps;
}

ToggleScope::~ToggleScope() {
    for (int rule = 0; rule < RULE_COUNT; ++rule) g_switches[rule] = RULE_TABLE[rule].onByDefault;
}

PatchJob MakeJob(float aspect, int16_t camera, int32_t fov) {
    PatchJob job;
    std::memset(&job, 0, sizeof job);
    for (int rule = 0; rule < RULE_COUNT; ++rule) job.requests[rule].on = g_switches[rule];
    job.requests[RULE_WIDESCREEN].value.ratio = aspect;
    job.requests[RULE_CAMERA].value.whole = camera;
    job.requests[RULE_FOV].value.whole = fov;
    job.candidate = -1;
    return job;
}
