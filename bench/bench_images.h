#pragma once
// The images the benchmark scans: 32-bit x86 machine code taken from the i386 programs and
// libraries installed on this machine, and random bytes with the four patterns put in.

#include <cstdint>
#include <string>
#include <vector>

using Image = std::vector<uint8_t>;

struct RealCodeImage {
    Image bytes;
    std::string source;  // where the code came from, for the report
};

// The executable sections of every i386 PE file under the MinGW runtime and Wine folders,
// in path order, concatenated and repeated up to exactly `size` bytes. Empty when no such
// file is found.
RealCodeImage BuildRealCodeImage(uint32_t size);

// Random bytes (a fixed seed), none of them ABSENT_BYTE, with every-hit patterns spread
// over the whole image and the first-only patterns near its end, so that each rule
// examines the whole image.
Image BuildRandomImage(uint32_t size);

// Never occurs in the random image, nor in any pattern or in anything the rules write.
const uint8_t ABSENT_BYTE = 0x5A;

// The byte value that occurs least often in `image`, and how often.
uint8_t RarestByte(const Image& image, uint64_t* occurrences);
