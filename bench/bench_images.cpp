#include "bench_images.h"

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>

namespace fs = std::filesystem;

namespace {

const char* const CODE_FOLDERS[] = {
    "/usr/lib/gcc/i686-w64-mingw32",
    "/usr/i686-w64-mingw32/lib",
    "/usr/lib/i386-linux-gnu/wine",
};

const uint16_t MACHINE_I386 = 0x014C;
const uint32_t SECTION_CODE = 0x00000020;
const uint32_t SECTION_EXECUTE = 0x20000000;

uint32_t Read16(const Image& file, size_t at) { return file[at] | (file[at + 1] << 8); }
uint32_t Read32(const Image& file, size_t at) {
    return file[at] | (file[at + 1] << 8) | (file[at + 2] << 16) | (static_cast<uint32_t>(file[at + 3]) << 24);
}

// Appends the raw bytes of the file's executable sections when it is a 32-bit x86 PE file.
void AppendCodeSections(const Image& file, Image& code) {
    if (file.size() < 0x40 || file[0] != 'M' || file[1] != 'Z') return;
    const size_t pe = Read32(file, 0x3C);
    if (pe + 24 > file.size() || std::memcmp(&file[pe], "PE\0\0", 4) != 0) return;
    if (Read16(file, pe + 4) != MACHINE_I386) return;
    const uint32_t sections = Read16(file, pe + 6);
    const size_t table = pe + 24 + Read16(file, pe + 20);
    for (uint32_t i = 0; i < sections; ++i) {
        const size_t header = table + 40 * i;
        if (header + 40 > file.size()) return;
        if (!(Read32(file, header + 36) & (SECTION_CODE | SECTION_EXECUTE))) continue;
        const uint32_t virtualSize = Read32(file, header + 8);
        uint32_t rawSize = Read32(file, header + 16);
        const size_t rawStart = Read32(file, header + 20);
        if (virtualSize != 0 && virtualSize < rawSize) rawSize = virtualSize;  // drop the file alignment padding
        if (rawStart >= file.size()) continue;
        const size_t length = std::min<size_t>(rawSize, file.size() - rawStart);
        code.insert(code.end(), file.begin() + rawStart, file.begin() + rawStart + length);
    }
}

Image ReadWhole(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return Image(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void PutAt(Image& image, size_t at, std::initializer_list<uint8_t> bytes) {
    std::copy(bytes.begin(), bytes.end(), image.begin() + at);
}

}  // namespace

RealCodeImage BuildRealCodeImage(uint32_t size) {
    RealCodeImage result;
    std::vector<fs::path> files;
    for (const char* folder : CODE_FOLDERS) {
        std::error_code error;
        for (fs::recursive_directory_iterator it(folder, error), end; !error && it != end; it.increment(error)) {
            if (it->is_regular_file() && !it->is_symlink()) files.push_back(it->path());
        }
    }
    std::sort(files.begin(), files.end());

    Image code;
    size_t used = 0;
    for (const fs::path& path : files) {
        if (code.size() >= size) break;
        const size_t before = code.size();
        AppendCodeSections(ReadWhole(path), code);
        if (code.size() > before) ++used;
    }
    if (code.empty()) return result;
    const size_t distinct = code.size();
    result.bytes.reserve(size);
    while (result.bytes.size() < size) {
        const size_t take = std::min<size_t>(size - result.bytes.size(), code.size());
        result.bytes.insert(result.bytes.end(), code.begin(), code.begin() + take);
    }
    result.source = "code sections of " + std::to_string(used) + " i386 PE files, " +
                    std::to_string(std::min<size_t>(distinct, size) >> 20) + " MiB distinct";
    return result;
}

Image BuildRandomImage(uint32_t size) {
    Image image(size);
    std::mt19937 random(20240611u);
    std::uniform_int_distribution<int> byte(0, 254);
    for (uint8_t& b : image) {
        const int value = byte(random);
        b = static_cast<uint8_t>(value >= ABSENT_BYTE ? value + 1 : value);
    }
    // 64 camera stores and 64 loads followed by cdq, evenly spread.
    const size_t step = size / 64;
    for (size_t i = 0; i < 64 && step >= 32; ++i) {
        PutAt(image, i * step + 3, {0xC7, 0x05, 0x10, 0x20, 0x30, 0x00, 0x00, 0x06, 0x00, 0x00});
        PutAt(image, i * step + step / 2 + 7, {0xA1, 0x40, 0x50, 0x60, 0x00, 0x99});
    }
    // The 4:3 constant and the frame-rate compare once each, in the last 4 KiB.
    if (size >= 8192) {
        PutAt(image, size - 4096 + 5, {0xAB, 0xAA, 0xAA, 0x3F});
        PutAt(image, size - 2048 + 9, {0x8B, 0xF8, 0x83, 0xFF, 0x02});
    }
    return image;
}

uint8_t RarestByte(const Image& image, uint64_t* occurrences) {
    uint64_t counts[256] = {};
    for (uint8_t b : image) ++counts[b];
    const uint64_t* rarest = std::min_element(counts, counts + 256);
    *occurrences = *rarest;
    return static_cast<uint8_t>(rarest - counts);
}
