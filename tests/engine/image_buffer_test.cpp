// The buffer that holds the game's image: every size gives room for all its bytes, several
// buffers live side by side, large ones are laid out for huge pages natively, and a job on
// a game large enough for such a buffer writes exactly what it does on a small one.

#include <cstdint>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "image_buffer.h"
#include "patch_worker.h"
#include "test_folder.h"

namespace {

const size_t MiB = size_t(1) << 20;

// A byte that tells each position of each buffer from the others'.
uint8_t Mark(size_t buffer, size_t at) { return static_cast<uint8_t>(at * 7 + at / 4096 + buffer * 31 + 1); }

TEST(ImageBuffer, EverySizeHoldsAllItsBytesSideBySide) {
    const size_t sizes[] = {0, 1, 63, 4096, 4 * MiB - 1, 4 * MiB, 4 * MiB + 1, 6 * MiB + 5, 64 * MiB};
    std::vector<uint8_t*> buffers;
    for (size_t size : sizes) {
        uint8_t* buffer = static_cast<uint8_t*>(AllocateImageBuffer(size));
        ASSERT_NE(buffer, nullptr) << size;
        // What malloc gives everywhere, the 32-bit Windows runtime included.
        EXPECT_EQ(reinterpret_cast<uintptr_t>(buffer) % 8, 0u) << size;
        buffers.push_back(buffer);
    }
    // Written whole only after all are there, so that one buffer running into another shows.
    for (size_t i = 0; i < buffers.size(); ++i) {
        for (size_t at = 0; at < sizes[i]; ++at) buffers[i][at] = Mark(i, at);
    }
    for (size_t i = 0; i < buffers.size(); ++i) {
        size_t wrong = 0;
        for (size_t at = 0; at < sizes[i]; ++at) wrong += buffers[i][at] != Mark(i, at);
        EXPECT_EQ(wrong, 0u) << "buffer of " << sizes[i] << " bytes";
    }
    for (uint8_t* buffer : buffers) ReleaseImageBuffer(buffer);
    ReleaseImageBuffer(nullptr);
}

#ifndef _WIN32
// The flags of the mapping that holds `at`, as /proc/self/smaps lists them.
std::string MappingFlags(const void* at) {
    std::ifstream smaps("/proc/self/smaps");
    const uintptr_t address = reinterpret_cast<uintptr_t>(at);
    bool inside = false;
    for (std::string line; std::getline(smaps, line);) {
        unsigned long long from = 0, to = 0;
        char dash = 0;
        if (line.find(' ') != std::string::npos && std::sscanf(line.c_str(), "%llx%c%llx", &from, &dash, &to) == 3 &&
            dash == '-') {
            inside = from <= address && address < to;
        } else if (inside && line.rfind("VmFlags:", 0) == 0) {
            return line;
        }
    }
    return "";
}

TEST(ImageBuffer, LargeImagesAreLaidOutForHugePages) {
    const size_t size = 6 * MiB + 5;
    void* buffer = AllocateImageBuffer(size);
    ASSERT_NE(buffer, nullptr);
    EXPECT_EQ(reinterpret_cast<uintptr_t>(buffer) % (2 * MiB), 0u);
    const std::string flags = MappingFlags(buffer);
    ASSERT_NE(flags, "") << "no mapping holds the buffer";
    EXPECT_NE((flags + " ").find(" hg "), std::string::npos) << flags;
    // The last byte's huge page is one of the advised ones too.
    EXPECT_EQ(MappingFlags(static_cast<uint8_t*>(buffer) + size - 1), flags);
    ReleaseImageBuffer(buffer);

    void* small = AllocateImageBuffer(64 * 1024);
    ASSERT_NE(small, nullptr);
    EXPECT_EQ((MappingFlags(small) + " ").find(" hg "), std::string::npos) << "small images stay on the heap";
    ReleaseImageBuffer(small);
}
#endif

// The rules' patterns at the start, across the buffer's first huge-page boundary and at the
// very end of a game of 6 MiB: the copies are the game as it was, the game has each change.
TEST(ImageBuffer, AJobOnALargeGameWritesWhatItDoesOnASmallOne) {
    TestFolder folder;
    ToggleScope toggles(false, true, false, false);
    Bytes game(6 * MiB + 13);
    for (size_t at = 0; at < game.size(); ++at) game[at] = static_cast<uint8_t>(0x90 ^ (at % 251 == 0));
    const Bytes store = {0xC7, 0x05, 1, 2, 3, 4, 0x00, 0x06};
    const size_t places[] = {0, 2 * MiB - 5, game.size() - store.size()};
    for (size_t place : places) std::copy(store.begin(), store.end(), game.begin() + static_cast<std::ptrdiff_t>(place));
    WriteFile("vlmr3.exe", game);

    PatchJob job = MakeJob(0, 2000, 0);
    RunPatchJob(&job);
    EXPECT_STREQ(job.failure_text, "");
    EXPECT_STREQ(job.status[RULE_CAMERA], "Camera dist correction OK");
    Bytes expected = game;
    for (size_t place : places) {
        expected[place + 6] = 0xD0;  // 2000 = 0x07D0
        expected[place + 7] = 0x07;
    }
    EXPECT_TRUE(ReadFile("vlmr3.exe") == expected);
    EXPECT_TRUE(ReadFile("vlmr3.exe.bak") == game);
    EXPECT_TRUE(ReadFile("vlmr3.exe.orig") == game);
}

}  // namespace
