#include "small_volume.h"

#include <windows.h>

#include <cstdio>
#include <cstdlib>

namespace {

const uint64_t PAGE = 4096;

std::string ReadText(const std::string& path) {
    std::string text;
    FILE* file = std::fopen(path.c_str(), "rb");
    if (file == nullptr) return text;
    char block[512];
    size_t count;
    while ((count = std::fread(block, 1, sizeof block, file)) > 0) text.append(block, count);
    std::fclose(file);
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.pop_back();
    return text;
}

bool Exists(const std::string& path) {
    return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

}  // namespace

SmallVolume::SmallVolume() {
    const char* folder = std::getenv("VELMORA_SMALL_VOLUME");
    if (folder == nullptr || *folder == '\0') {
        why_ = "VELMORA_SMALL_VOLUME names no small volume (CTest sets it up with "
               "tools/small-volume)";
        return;
    }
    char full[MAX_PATH];
    if (GetFullPathNameA(folder, MAX_PATH, full, nullptr) == 0) {
        why_ = std::string("no Windows path for ") + folder;
        return;
    }
    path_ = full;
    if (Exists(path_ + "\\small-volume")) {
        filler_ = path_ + "\\filler";
        return;
    }
    const std::string reason = ReadText(path_ + "\\no-small-volume");
    why_ = "no small volume at " + path_ + ": " +
           (reason.empty() ? std::string("tools/small-volume did not mount it") : reason);
}

SmallVolume::~SmallVolume() {
    if (!filler_.empty()) DeleteFileA(filler_.c_str());
}

uint64_t SmallVolume::Free() const {
    ULARGE_INTEGER available = {}, total = {}, free = {};
    if (!GetDiskFreeSpaceExA((path_ + "\\").c_str(), &available, &total, &free)) return 0;
    return available.QuadPart;
}

bool SmallVolume::LeaveFree(uint64_t bytes, std::string* why) {
    bytes -= bytes % PAGE;
    DeleteFileA(filler_.c_str());
    const uint64_t now = Free();
    if (now < bytes) {
        *why = "only " + std::to_string(now) + " bytes free on " + path_ + ", not " +
               std::to_string(bytes);
        return false;
    }
    std::vector<uint8_t> fill(static_cast<size_t>(now - bytes), 0x5A);
    FILE* file = std::fopen(filler_.c_str(), "wb");
    const bool written = file != nullptr &&
                         std::fwrite(fill.data(), 1, fill.size(), file) == fill.size();
    if (file != nullptr) std::fclose(file);
    if (!written || Free() != bytes) {
        *why = "the filler left " + std::to_string(Free()) + " bytes free on " + path_ +
               ", not " + std::to_string(bytes);
        return false;
    }
    return true;
}

bool WriteSparseFile(const std::string& path, const std::vector<uint8_t>& head, uint64_t size) {
    HANDLE file = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    DWORD written = 0;
    LARGE_INTEGER end;
    end.QuadPart = static_cast<LONGLONG>(size);
    const bool ok = ::WriteFile(file, head.data(), static_cast<DWORD>(head.size()), &written,
                                nullptr) &&
                    written == head.size() && SetFilePointerEx(file, end, nullptr, FILE_BEGIN) &&
                    SetEndOfFile(file);
    CloseHandle(file);
    return ok;
}
