#pragma once
// A temporary game folder with stand-in game executables: byte images that hold the four
// patterns the program rewrites at known offsets, among bytes that hold none of them.

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

using Bytes = std::vector<uint8_t>;

// Where each pattern starts in the fixture image.
enum FixtureOffset : size_t {
    ASPECT_AT = 0x40,        // AB AA AA 3F
    CAMERA_AT = 0x100,       // C7 05 ?? ?? ?? ?? 00 06
    CAMERA_AGAIN_AT = 0x180, // the same store a second time: every store is rewritten
    FOV_AT = 0x200,          // A1 ?? ?? ?? ?? 99
    FPS_AT = 0x280,          // 8B F8 83 FF 02
    FIXTURE_SIZE = 0x400,
};

// The stand-in executable.
Bytes FixtureImage();
// `image` with `bytes` written over it from `offset` on.
Bytes With(Bytes image, size_t offset, const Bytes& bytes);

class GameFolder {
public:
    GameFolder();   // a new empty folder under the temporary folder
    explicit GameFolder(const std::string& under);  // a new empty folder in `under`
    ~GameFolder();  // removes it with everything in it
    GameFolder(const GameFolder&) = delete;
    GameFolder& operator=(const GameFolder&) = delete;

    const std::string& Path() const { return path_; }
    std::string PathOf(const std::string& name) const { return path_ + "\\" + name; }

    void Write(const std::string& name, const Bytes& bytes) const;
    bool Exists(const std::string& name) const;
    Bytes Read(const std::string& name) const;
    // The names of the files in the folder, sorted.
    std::vector<std::string> Files() const;

private:
    std::string path_;
};

// "AB AA AA 3F" for the messages of failed comparisons.
std::string Hex(const Bytes& bytes);
// The first offset at which two images differ, as text, or "" when they are equal.
std::string FirstDifference(const Bytes& actual, const Bytes& expected);
