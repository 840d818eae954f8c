#pragma once
// The small disk that tools/small-volume mounts for the tests (its folder in the environment
// variable VELMORA_SMALL_VOLUME), on which a test can leave free exactly as many bytes as it
// wants: a real full disk, met by the program as a player's machine would meet it.

#include <cstdint>
#include <string>
#include <vector>

class SmallVolume {
public:
    // Finds the volume; Ready() tells whether there is one, Why() why not.
    SmallVolume();
    ~SmallVolume();  // removes the filler, giving the space back
    SmallVolume(const SmallVolume&) = delete;
    SmallVolume& operator=(const SmallVolume&) = delete;

    bool Ready() const { return why_.empty(); }
    const std::string& Why() const { return why_; }
    // The volume's folder as a Windows path.
    const std::string& Path() const { return path_; }

    // The bytes free on the volume now.
    uint64_t Free() const;
    // Writes a filler file until exactly `bytes` are free (rounded down to whole 4 KiB
    // pages). False, with the reason in *why, when that many are not free to begin with.
    bool LeaveFree(uint64_t bytes, std::string* why);

private:
    std::string path_;
    std::string why_;
    std::string filler_;
};

// Writes `head` and then extends the file to `size` bytes without writing the rest: the
// system keeps the rest as a hole of zeros that takes no room until it is written.
bool WriteSparseFile(const std::string& path, const std::vector<uint8_t>& head, uint64_t size);
