// Reads a zip file whose entries are stored (not compressed), the kind the release package
// is: every entry's name, attributes, time and bytes, with each entry's CRC checked.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct ZipEntry {
    std::string name;
    uint16_t versionMadeBy = 0;  // high byte: the system whose attributes these are (0: MS-DOS)
    uint16_t method = 0;         // 0: stored
    uint16_t dosTime = 0, dosDate = 0;
    uint32_t externalAttributes = 0;
    std::vector<unsigned char> data;
};

// The entries in the order of the central directory. False with a reason in `error` when the
// file is not a well-formed zip, an entry is compressed, or an entry's CRC is wrong.
bool ReadStoredZip(const std::vector<unsigned char>& file, std::vector<ZipEntry>* entries,
                   std::string* error);

uint32_t Crc32(const unsigned char* data, size_t size);
