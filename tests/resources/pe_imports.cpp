#include "pe_imports.h"

#include <cctype>
#include <cstdint>

namespace {

const uint32_t IMPORT_DIRECTORY = 1;
const uint32_t DELAY_IMPORT_DIRECTORY = 13;

struct PeImage {
  const std::vector<unsigned char>* file;
  size_t sections;
  uint32_t section_count;
  uint64_t image_base;
};

bool Read(const std::vector<unsigned char>& file, uint64_t offset, size_t size, uint64_t* value) {
  if (offset > file.size() || size > file.size() - offset) {
    return false;
  }
  uint64_t result = 0;
  for (size_t i = size; i > 0; --i) {
    result = (result << 8) | file[offset + i - 1];
  }
  *value = result;
  return true;
}

// File offset of a relative virtual address, through the section that holds it.
bool RvaToOffset(const PeImage& image, uint64_t rva, uint64_t* offset) {
  const std::vector<unsigned char>& file = *image.file;
  for (uint32_t i = 0; i < image.section_count; ++i) {
    const size_t header = image.sections + 40 * i;
    uint64_t virtualSize = 0, virtualAddress = 0, rawSize = 0, rawPointer = 0;
    if (!Read(file, header + 8, 4, &virtualSize) || !Read(file, header + 12, 4, &virtualAddress) ||
        !Read(file, header + 16, 4, &rawSize) || !Read(file, header + 20, 4, &rawPointer)) {
      return false;
    }
    if (rva >= virtualAddress && rva < virtualAddress + rawSize) {
      *offset = rawPointer + (rva - virtualAddress);
      return true;
    }
  }
  return false;
}

bool ReadName(const PeImage& image, uint64_t rva, std::string* name) {
  uint64_t offset = 0;
  if (!RvaToOffset(image, rva, &offset)) {
    return false;
  }
  const std::vector<unsigned char>& file = *image.file;
  name->clear();
  for (uint64_t at = offset; at < file.size(); ++at) {
    if (file[at] == 0) {
      return !name->empty();
    }
    *name += static_cast<char>(file[at]);
  }
  return false;
}

}  // namespace

bool ReadImportedDlls(const std::vector<unsigned char>& file, std::vector<std::string>* dlls,
                      std::string* error) {
  dlls->clear();
  uint64_t value = 0;
  if (!Read(file, 0, 2, &value) || value != 0x5A4D) {
    *error = "no MZ header";
    return false;
  }
  uint64_t pe = 0;
  if (!Read(file, 0x3C, 4, &pe) || !Read(file, pe, 4, &value) || value != 0x00004550) {
    *error = "no PE signature";
    return false;
  }
  uint64_t sectionCount = 0, optionalSize = 0, magic = 0;
  const uint64_t optional = pe + 24;
  if (!Read(file, pe + 6, 2, &sectionCount) || !Read(file, pe + 20, 2, &optionalSize) ||
      !Read(file, optional, 2, &magic)) {
    *error = "truncated file header";
    return false;
  }
  PeImage image = {&file, static_cast<size_t>(optional + optionalSize),
                   static_cast<uint32_t>(sectionCount), 0};
  uint64_t directories = 0, directoryCount = 0;
  if (magic == 0x10B) {  // PE32
    directories = optional + 96;
    Read(file, optional + 92, 4, &directoryCount);
    Read(file, optional + 28, 4, &image.image_base);
  } else if (magic == 0x20B) {  // PE32+
    directories = optional + 112;
    Read(file, optional + 108, 4, &directoryCount);
    Read(file, optional + 24, 8, &image.image_base);
  } else {
    *error = "unknown optional header magic";
    return false;
  }

  uint64_t importRva = 0;
  if (directoryCount > IMPORT_DIRECTORY &&
      Read(file, directories + 8 * IMPORT_DIRECTORY, 4, &importRva) && importRva != 0) {
    uint64_t descriptor = 0;
    if (!RvaToOffset(image, importRva, &descriptor)) {
      *error = "import table outside every section";
      return false;
    }
    // Import descriptors are 20 bytes; an all-zero one ends the table.
    for (;; descriptor += 20) {
      uint64_t lookup = 0, nameRva = 0, thunks = 0;
      if (!Read(file, descriptor, 4, &lookup) || !Read(file, descriptor + 12, 4, &nameRva) ||
          !Read(file, descriptor + 16, 4, &thunks)) {
        *error = "import table runs past the file";
        return false;
      }
      if (lookup == 0 && nameRva == 0 && thunks == 0) {
        break;
      }
      std::string name;
      if (!ReadName(image, nameRva, &name)) {
        *error = "bad import DLL name";
        return false;
      }
      dlls->push_back(name);
    }
  }

  uint64_t delayRva = 0;
  if (directoryCount > DELAY_IMPORT_DIRECTORY &&
      Read(file, directories + 8 * DELAY_IMPORT_DIRECTORY, 4, &delayRva) && delayRva != 0) {
    uint64_t descriptor = 0;
    if (!RvaToOffset(image, delayRva, &descriptor)) {
      *error = "delay-load table outside every section";
      return false;
    }
    // Delay-load descriptors are 32 bytes; a zero name ends the table.
    for (;; descriptor += 32) {
      uint64_t attributes = 0, nameRva = 0;
      if (!Read(file, descriptor, 4, &attributes) || !Read(file, descriptor + 4, 4, &nameRva)) {
        *error = "delay-load table runs past the file";
        return false;
      }
      if (nameRva == 0) {
        break;
      }
      if ((attributes & 1) == 0) {
        nameRva -= image.image_base;  // the old form holds virtual addresses
      }
      std::string name;
      if (!ReadName(image, nameRva, &name)) {
        *error = "bad delay-load DLL name";
        return false;
      }
      dlls->push_back(name);
    }
  }
  return true;
}

bool IsSystemDll(const std::string& name) {
  std::string lower;
  for (char c : name) {
    lower += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  }
  static const char* const SYSTEM_DLLS[] = {
      "kernel32.dll", "user32.dll", "gdi32.dll",   "comctl32.dll",
      "msvcrt.dll",   "advapi32.dll", "shell32.dll",
  };
  for (const char* system : SYSTEM_DLLS) {
    if (lower == system) {
      return true;
    }
  }
  // The Universal C Runtime's API sets.
  const std::string crtPrefix = "api-ms-win-crt-";
  const std::string suffix = ".dll";
  return lower.size() > crtPrefix.size() + suffix.size() &&
         lower.compare(0, crtPrefix.size(), crtPrefix) == 0 &&
         lower.compare(lower.size() - suffix.size(), suffix.size(), suffix) == 0;
}
