#pragma once
// A fresh, empty working folder for one test, removed again afterwards, with small
// helpers to lay out game files in it.

#include <filesystem>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "patch_job.h"

using Bytes = std::vector<unsigned char>;

class TestFolder {
public:
    TestFolder();
    ~TestFolder();
    TestFolder(const TestFolder&) = delete;
    TestFolder& operator=(const TestFolder&) = delete;

    const std::filesystem::path& path() const { return path_; }

private:
    std::filesystem::path previous_;
    std::filesystem::path path_;
};

void WriteFile(const std::string& name, const Bytes& bytes);
Bytes ReadFile(const std::string& name);
bool FileExists(const std::string& name);

// Switches the rules of the jobs MakeJob makes, as the window's toggles would, while it
// lives; then they are as the window starts again.
class ToggleScope {
public:
    ToggleScope(bool widescreen, bool camera, bool fov, bool fps);
    ~ToggleScope();
};

// A job as the window fills it with the toggles (see ToggleScope), zero everywhere else.
PatchJob MakeJob(float aspect, int16_t camera, int32_t fov);
