#include "zip_reader.h"

namespace {

bool Le(const std::vector<unsigned char>& file, size_t at, size_t size, uint32_t* value) {
    if (at > file.size() || size > file.size() - at) return false;
    *value = 0;
    for (size_t i = size; i > 0; --i) *value = *value << 8 | file[at + i - 1];
    return true;
}

}  // namespace

uint32_t Crc32(const unsigned char* data, size_t size) {
    uint32_t crc = 0xFFFFFFFFu;
    for (size_t i = 0; i < size; ++i) {
        crc ^= data[i];
        for (int bit = 0; bit < 8; ++bit) crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1u)));
    }
    return ~crc;
}

bool ReadStoredZip(const std::vector<unsigned char>& file, std::vector<ZipEntry>* entries,
                   std::string* error) {
    entries->clear();
    // The end record is the last 22 bytes when the zip has no comment, as ours has none.
    uint32_t value = 0, count = 0, directorySize = 0, directory = 0;
    if (file.size() < 22 || !Le(file, file.size() - 22, 4, &value) || value != 0x06054B50) {
        *error = "no end-of-central-directory record at the end (or a zip comment)";
        return false;
    }
    const size_t end = file.size() - 22;
    Le(file, end + 10, 2, &count);
    Le(file, end + 12, 4, &directorySize);
    Le(file, end + 16, 4, &directory);
    if (uint64_t(directory) + directorySize != end) {
        *error = "the central directory does not end where the end record starts";
        return false;
    }
    size_t at = directory;
    for (uint32_t i = 0; i < count; ++i) {
        uint32_t signature = 0, madeBy = 0, method = 0, time = 0, date = 0, crc = 0, packed = 0,
                 size = 0, nameLength = 0, extraLength = 0, commentLength = 0, external = 0,
                 local = 0;
        if (!Le(file, at, 4, &signature) || signature != 0x02014B50 || !Le(file, at + 4, 2, &madeBy) ||
            !Le(file, at + 10, 2, &method) || !Le(file, at + 12, 2, &time) ||
            !Le(file, at + 14, 2, &date) || !Le(file, at + 16, 4, &crc) ||
            !Le(file, at + 20, 4, &packed) || !Le(file, at + 24, 4, &size) ||
            !Le(file, at + 28, 2, &nameLength) || !Le(file, at + 30, 2, &extraLength) ||
            !Le(file, at + 32, 2, &commentLength) || !Le(file, at + 38, 4, &external) ||
            !Le(file, at + 42, 4, &local) || at + 46 + nameLength > end) {
            *error = "central directory entry " + std::to_string(i) + " is damaged";
            return false;
        }
        ZipEntry entry;
        entry.name.assign(reinterpret_cast<const char*>(&file[at + 46]), nameLength);
        entry.versionMadeBy = static_cast<uint16_t>(madeBy);
        entry.method = static_cast<uint16_t>(method);
        entry.dosTime = static_cast<uint16_t>(time);
        entry.dosDate = static_cast<uint16_t>(date);
        entry.externalAttributes = external;
        at += 46 + nameLength + extraLength + commentLength;

        if (method != 0 || packed != size) {
            *error = entry.name + " is compressed (method " + std::to_string(method) + ")";
            return false;
        }
        uint32_t localSignature = 0, localNameLength = 0, localExtraLength = 0;
        if (!Le(file, local, 4, &localSignature) || localSignature != 0x04034B50 ||
            !Le(file, local + 26, 2, &localNameLength) || !Le(file, local + 28, 2, &localExtraLength) ||
            localNameLength != nameLength ||
            file.size() < local + 30 + nameLength ||
            entry.name != std::string(reinterpret_cast<const char*>(&file[local + 30]), nameLength)) {
            *error = "the local header of " + entry.name + " does not match its directory entry";
            return false;
        }
        const size_t data = local + 30 + localNameLength + localExtraLength;
        if (data > directory || size > directory - data) {
            *error = "the data of " + entry.name + " runs into the central directory";
            return false;
        }
        entry.data.assign(file.begin() + data, file.begin() + data + size);
        if (Crc32(entry.data.data(), entry.data.size()) != crc) {
            *error = "the CRC of " + entry.name + " is wrong";
            return false;
        }
        entries->push_back(entry);
    }
    return true;
}
