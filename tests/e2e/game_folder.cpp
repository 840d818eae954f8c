#include "game_folder.h"

#include <windows.h>

#include <algorithm>
#include <cstdio>

#include <gtest/gtest.h>

Bytes FixtureImage() {
    // NOP filler: none of the patterns starts with 90, so the only hits are the ones placed.
    Bytes image(FIXTURE_SIZE, 0x90);
    image = With(image, ASPECT_AT, {0xAB, 0xAA, 0xAA, 0x3F});
    image = With(image, CAMERA_AT, {0xC7, 0x05, 0x10, 0x20, 0x40, 0x00, 0x00, 0x06, 0x00, 0x00});
    image = With(image, CAMERA_AGAIN_AT,
                 {0xC7, 0x05, 0x14, 0x20, 0x40, 0x00, 0x00, 0x06, 0x00, 0x00});
    image = With(image, FOV_AT, {0xA1, 0x18, 0x20, 0x40, 0x00, 0x99, 0xF7, 0xF9});
    image = With(image, FPS_AT, {0x8B, 0xF8, 0x83, 0xFF, 0x02, 0x7C, 0xF0});
    return image;
}

Bytes With(Bytes image, size_t offset, const Bytes& bytes) {
    std::copy(bytes.begin(), bytes.end(), image.begin() + static_cast<std::ptrdiff_t>(offset));
    return image;
}

GameFolder::GameFolder() : GameFolder(std::string()) {}

GameFolder::GameFolder(const std::string& under) {
    static int counter = 0;
    char temp[MAX_PATH];
    GetTempPathA(MAX_PATH, temp);
    const std::string parent = under.empty() ? std::string(temp) : under + "\\";
    char name[MAX_PATH];
    std::snprintf(name, sizeof name, "%svelmora-e2e-%lu-%d", parent.c_str(),
                  GetCurrentProcessId(), ++counter);
    path_ = name;
    CreateDirectoryA(path_.c_str(), nullptr);
}

GameFolder::~GameFolder() {
    for (const std::string& name : Files()) {
        const std::string path = PathOf(name);
        SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_NORMAL);
        DeleteFileA(path.c_str());
    }
    RemoveDirectoryA(path_.c_str());
}

void GameFolder::Write(const std::string& name, const Bytes& bytes) const {
    FILE* file = std::fopen(PathOf(name).c_str(), "wb");
    ASSERT_NE(file, nullptr) << PathOf(name);
    ASSERT_EQ(std::fwrite(bytes.data(), 1, bytes.size(), file), bytes.size());
    ASSERT_EQ(std::fclose(file), 0);
}

bool GameFolder::Exists(const std::string& name) const {
    return GetFileAttributesA(PathOf(name).c_str()) != INVALID_FILE_ATTRIBUTES;
}

Bytes GameFolder::Read(const std::string& name) const {
    Bytes bytes;
    FILE* file = std::fopen(PathOf(name).c_str(), "rb");
    if (file == nullptr) return bytes;
    uint8_t block[4096];
    size_t count;
    while ((count = std::fread(block, 1, sizeof block, file)) > 0) {
        bytes.insert(bytes.end(), block, block + count);
    }
    std::fclose(file);
    return bytes;
}

std::vector<std::string> GameFolder::Files() const {
    std::vector<std::string> names;
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA((path_ + "\\*").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE) return names;
    do {
        if (!(found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) names.push_back(found.cFileName);
    } while (FindNextFileA(search, &found));
    FindClose(search);
    std::sort(names.begin(), names.end());
    return names;
}

std::string Hex(const Bytes& bytes) {
    std::string text;
    for (uint8_t byte : bytes) {
        char digits[4];
        std::snprintf(digits, sizeof digits, "%s%02X", text.empty() ? "" : " ", byte);
        text += digits;
    }
    return text;
}

std::string FirstDifference(const Bytes& actual, const Bytes& expected) {
    if (actual.size() != expected.size()) {
        return "size " + std::to_string(actual.size()) + ", expected " +
               std::to_string(expected.size());
    }
    for (size_t i = 0; i < actual.size(); ++i) {
        if (actual[i] == expected[i]) continue;
        const size_t from = i & ~static_cast<size_t>(7);
        const size_t to = std::min(actual.size(), from + 16);
        char offset[32];
        std::snprintf(offset, sizeof offset, "0x%lX", static_cast<unsigned long>(i));
        return std::string("first difference at ") + offset + ": " +
               Hex(Bytes(actual.begin() + from, actual.begin() + to)) + ", expected " +
               Hex(Bytes(expected.begin() + from, expected.begin() + to));
    }
    return "";
}
