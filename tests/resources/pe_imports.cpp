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
  bool pe32plus;
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

// The names of the functions of one DLL's lookup table (an array of pointer-sized entries
// ending in zero; the top bit marks an import by ordinal).
bool ReadThunks(const PeImage& image, uint64_t lookupRva, const std::string& dll,
                std::vector<ImportedFunction>* functions, std::string* error) {
  uint64_t entry = 0;
  if (!RvaToOffset(image, lookupRva, &entry)) {
    *error = "import lookup table of " + dll + " outside every section";
    return false;
  }
  const size_t width = image.pe32plus ? 8 : 4;
  const uint64_t ordinalFlag = uint64_t(1) << (width * 8 - 1);
  for (;; entry += width) {
    uint64_t thunk = 0;
    if (!Read(*image.file, entry, width, &thunk)) {
      *error = "import lookup table of " + dll + " runs past the file";
      return false;
    }
    if (thunk == 0) return true;
    ImportedFunction function = {dll, ""};
    if (thunk & ordinalFlag) {
      function.function = "#" + std::to_string(thunk & 0xFFFF);
    } else if (!ReadName(image, (thunk & 0x7FFFFFFF) + 2, &function.function)) {  // after the hint
      *error = "bad function name imported from " + dll;
      return false;
    }
    functions->push_back(function);
  }
}

bool ReadImports(const std::vector<unsigned char>& file, std::vector<std::string>* dlls,
                 std::vector<ImportedFunction>* functions, std::string* error) {
  dlls->clear();
  functions->clear();
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
                   static_cast<uint32_t>(sectionCount), 0, magic == 0x20B};
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
      // The lookup table; old linkers left it out, and then the address table holds the same.
      if (!ReadThunks(image, lookup != 0 ? lookup : thunks, name, functions, error)) {
        return false;
      }
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
      uint64_t attributes = 0, nameRva = 0, lookupRva = 0;
      if (!Read(file, descriptor, 4, &attributes) || !Read(file, descriptor + 4, 4, &nameRva) ||
          !Read(file, descriptor + 16, 4, &lookupRva)) {
        *error = "delay-load table runs past the file";
        return false;
      }
      if (nameRva == 0) {
        break;
      }
      if ((attributes & 1) == 0) {
        nameRva -= image.image_base;  // the old form holds virtual addresses
        lookupRva -= image.image_base;
      }
      std::string name;
      if (!ReadName(image, nameRva, &name)) {
        *error = "bad delay-load DLL name";
        return false;
      }
      dlls->push_back(name);
      if (!ReadThunks(image, lookupRva, name, functions, error)) {
        return false;
      }
    }
  }
  return true;
}

}  // namespace

bool ReadImportedDlls(const std::vector<unsigned char>& file, std::vector<std::string>* dlls,
                      std::string* error) {
  std::vector<ImportedFunction> functions;
  return ReadImports(file, dlls, &functions, error);
}

bool ReadImportedFunctions(const std::vector<unsigned char>& file,
                           std::vector<ImportedFunction>* functions, std::string* error) {
  std::vector<std::string> dlls;
  return ReadImports(file, &dlls, functions, error);
}
