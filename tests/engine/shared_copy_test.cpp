// The copies the file system shares, and the write-back of the changed stretches alone, on
// real XFS (with reflinks) and btrfs volumes made on loop devices for the test. Skipped by
// name where the machine cannot make or mount them (no root, no loop devices, no mkfs).
#ifdef __linux__

#include <fcntl.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <random>
#include <string>

#include <gtest/gtest.h>

#include "job_report.h"
#include "patch_worker.h"
#include "target_file.h"
#include "test_folder.h"

namespace fs = std::filesystem;

namespace {

bool Run(const std::string& command) { return std::system((command + " >/dev/null 2>&1").c_str()) == 0; }

std::string Output(const std::string& command) {
    std::string out;
    if (FILE* pipe = popen(command.c_str(), "r")) {
        char buffer[4096];
        size_t n;
        while ((n = fread(buffer, 1, sizeof buffer, pipe)) > 0) out.append(buffer, n);
        pclose(pipe);
    }
    return out;
}

// A file system of its own on a loop device, mounted for one test.
class LoopVolume {
public:
    LoopVolume(const std::string& kind, unsigned mebibytes) {
        if (geteuid() != 0) {
            why_ = "needs root to mount a loop device";
            return;
        }
        const std::string mkfs = kind == "xfs" ? "mkfs.xfs -q -f -m reflink=1" : "mkfs.btrfs -q -f";
        if (!Run("command -v " + mkfs.substr(0, mkfs.find(' ')))) {
            why_ = mkfs.substr(0, mkfs.find(' ')) + " is not installed";
            return;
        }
        base_ = fs::temp_directory_path() / ("velmora-" + kind + "-" + std::to_string(getpid()) + "-" + std::to_string(rand()));
        fs::create_directories(base_ / "mnt");
        image_ = (base_ / "volume.img").string();
        mount_ = (base_ / "mnt").string();
        if (!Run("truncate -s " + std::to_string(mebibytes) + "M " + image_) || !Run(mkfs + " " + image_)) {
            why_ = "could not make the " + kind + " file system";
        } else if (!Run("mount -o loop " + image_ + " " + mount_)) {
            why_ = "no loop device could be mounted (" + kind + ")";
        } else {
            mounted_ = true;
        }
    }
    // The test's working folder goes back first: a volume cannot be unmounted from within.
    ~LoopVolume() {
        std::error_code ignored;
        fs::current_path(previous_, ignored);
        if (mounted_) Run("umount " + mount_);
        if (!base_.empty()) fs::remove_all(base_, ignored);
    }
    bool Ready() const { return mounted_; }
    const std::string& Why() const { return why_; }
    const std::string& Folder() const { return mount_; }
    uint64_t Free() const {
        Run("sync -f " + mount_);
        struct statvfs facts;
        return statvfs(mount_.c_str(), &facts) == 0 ? uint64_t(facts.f_bavail) * facts.f_frsize : 0;
    }
    // Fills the volume until about `bytes` are free.
    bool LeaveFree(uint64_t bytes) {
        const uint64_t free = Free();
        if (free <= bytes) return false;
        const int file = open((mount_ + "/filler").c_str(), O_CREAT | O_WRONLY, 0644);
        const bool filled = file >= 0 && posix_fallocate(file, 0, static_cast<off_t>(free - bytes)) == 0;
        if (file >= 0) close(file);
        return filled;
    }

private:
    fs::path previous_ = fs::current_path();
    fs::path base_;
    std::string image_, mount_, why_;
    bool mounted_ = false;
};

const size_t GAME_SIZE = 16u << 20;
const uint32_t CAMERA_AT[] = {1u << 20, 11u << 20};

// Random bytes with the camera store twice, far apart, and no other pattern of a rule.
Bytes MakeGame() {
    Bytes game(GAME_SIZE);
    std::mt19937 random(25);
    for (auto& byte : game) byte = static_cast<unsigned char>(random() % 0xC0);  // no C7, AB, A1, 8B
    for (uint32_t at : CAMERA_AT) {
        const unsigned char store[] = {0xC7, 0x05, 0x10, 0x20, 0x40, 0x00, 0x00, 0x06};
        std::copy(std::begin(store), std::end(store), game.begin() + at);
    }
    return game;
}

// Whether filefrag shows every extent of the file as shared with another file.
bool SharesExtents(const std::string& path) {
    const std::string map = Output("filefrag -v '" + path + "' 2>&1");
    return map.find("shared") != std::string::npos;
}

enum Path { NATIVE, NO_CLONE, FROM_MEMORY };

bool NoClone(FILE*, FILE*, unsigned long* error) {
    *error = EOPNOTSUPP;
    return false;
}
bool NoCopyRange(FILE*, FILE*, uint64_t, uint64_t*, unsigned long* error) {
    *error = EOPNOTSUPP;
    return false;
}

struct SharedCase {
    const char* name;
    const char* kind;
    Path path;
    CopyMethod method;
    bool shared;
};

// copy_file_range on XFS and btrfs shares the extents itself, as a clone would.
const SharedCase SHARED_CASES[] = {
    {"xfs_clone", "xfs", NATIVE, COPY_SHARED, true},
    {"xfs_kernel_copy", "xfs", NO_CLONE, COPY_IN_KERNEL, true},
    {"xfs_from_memory", "xfs", FROM_MEMORY, COPY_FROM_MEMORY, false},
    {"btrfs_clone", "btrfs", NATIVE, COPY_SHARED, true},
    {"btrfs_kernel_copy", "btrfs", NO_CLONE, COPY_IN_KERNEL, true},
    {"btrfs_from_memory", "btrfs", FROM_MEMORY, COPY_FROM_MEMORY, false},
};

class SharedCopy : public ::testing::TestWithParam<SharedCase> {
protected:
    void SetUp() override {
        g_fileOps = DEFAULT_FILE_OPS;
        if (GetParam().path != NATIVE) g_fileOps.clone = NoClone;
        if (GetParam().path == FROM_MEMORY) g_fileOps.copyRange = NoCopyRange;
    }
    void TearDown() override {
        g_fileOps = DEFAULT_FILE_OPS;
        fs::current_path(previous_);
    }
    fs::path previous_ = fs::current_path();
};

TEST_P(SharedCopy, MakesBothCopiesThatWayAndWritesOnlyTheChangedStretches) {
    const SharedCase& c = GetParam();
    LoopVolume volume(c.kind, 300);
    if (!volume.Ready()) GTEST_SKIP() << volume.Why();
    fs::current_path(volume.Folder());
    const Bytes game = MakeGame();
    WriteFile("vlmr3.exe", game);
    const uint64_t freeBefore = volume.Free();

    ToggleScope toggles(false, true, false, false);
    PatchJob job = MakeJob(0.0f, 2000, 0);
    JobReport report;
    RunPatchJob(&job, &report);

    ASSERT_STREQ(job.failure_text, "");
    EXPECT_EQ(report.originalMethod, c.method);
    EXPECT_EQ(report.backupMethod, c.method);
    EXPECT_EQ(ReadFile("vlmr3.exe.orig"), game);
    EXPECT_EQ(ReadFile("vlmr3.exe.bak"), game);
    Bytes patched = game;
    for (uint32_t at : CAMERA_AT) {
        patched[at + 6] = 0xD0;
        patched[at + 7] = 0x07;
    }
    EXPECT_EQ(ReadFile("vlmr3.exe"), patched);
    ASSERT_EQ(report.spans.size(), 2u);
    EXPECT_EQ(report.spans[0].offset, CAMERA_AT[0]);
    EXPECT_EQ(report.spans[1].offset, CAMERA_AT[1]);

    EXPECT_EQ(SharesExtents("vlmr3.exe.orig"), c.shared) << Output("filefrag -v vlmr3.exe.orig");
    EXPECT_EQ(SharesExtents("vlmr3.exe.bak"), c.shared);
    // Two shared copies take next to no room; two written ones take the game's size twice.
    const uint64_t used = freeBefore - volume.Free();
    if (c.shared) {
        EXPECT_LT(used, GAME_SIZE / 2) << used;
    } else {
        EXPECT_GE(used, 2 * GAME_SIZE - GAME_SIZE / 8) << used;
    }
}

INSTANTIATE_TEST_SUITE_P(Volumes, SharedCopy, ::testing::ValuesIn(SHARED_CASES),
                         [](const ::testing::TestParamInfo<SharedCase>& info) { return info.param.name; });

// On btrfs every write is a copy: rewriting the whole game needs room for a third copy of
// it. With room for the two copies written from memory and not for a third, the run goes
// through and says so truthfully.
TEST(SharedCopyFullDisk, BtrfsWithRoomForTwoCopiesButNotAThird) {
    LoopVolume volume("btrfs", 300);
    if (!volume.Ready()) GTEST_SKIP() << volume.Why();
    const fs::path previous = fs::current_path();
    fs::current_path(volume.Folder());
    g_fileOps = DEFAULT_FILE_OPS;
    g_fileOps.clone = NoClone;
    g_fileOps.copyRange = NoCopyRange;
    const Bytes game = MakeGame();
    WriteFile("vlmr3.exe", game);
    const bool filled = volume.LeaveFree(2 * GAME_SIZE + GAME_SIZE / 2);

    ToggleScope toggles(false, true, false, false);
    PatchJob job = MakeJob(0.0f, 2000, 0);
    JobReport report;
    if (filled) RunPatchJob(&job, &report);
    g_fileOps = DEFAULT_FILE_OPS;
    const Bytes after = ReadFile("vlmr3.exe");
    const Bytes original = ReadFile("vlmr3.exe.orig");
    const Bytes backup = ReadFile("vlmr3.exe.bak");
    fs::current_path(previous);
    ASSERT_TRUE(filled) << "the volume could not be filled";

    EXPECT_STREQ(job.failure_text, "");
    EXPECT_EQ(report.failedStep, STEP_NONE);
    EXPECT_EQ(report.gameOnDisk, GAME_ON_DISK_NOT_READ);
    EXPECT_EQ(report.backupMethod, COPY_FROM_MEMORY);
    EXPECT_EQ(original, game);
    EXPECT_EQ(backup, game);
    EXPECT_NE(after, game);
    EXPECT_EQ(after.size(), game.size());
}

}  // namespace

#endif  // __linux__
