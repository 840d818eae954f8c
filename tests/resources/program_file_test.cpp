// The program file as it is shipped: small, with no symbols or debug information, and with
// nothing in it that changes from build to build (the link time stamp) or from folder to
// folder (build paths).
#include "program_file.h"

#include <cstdint>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include <gtest/gtest.h>

namespace {

const size_t SIZE_LIMIT = 160 * 1024;

std::vector<unsigned char> ProgramBytes() {
  std::ifstream in(ProgramPath(), std::ios::binary);
  return std::vector<unsigned char>((std::istreambuf_iterator<char>(in)),
                                    std::istreambuf_iterator<char>());
}

uint32_t Le(const std::vector<unsigned char>& bytes, size_t at, size_t size) {
  uint32_t value = 0;
  for (size_t i = size; i > 0; --i) value = value << 8 | bytes.at(at + i - 1);
  return value;
}

TEST(ProgramFile, IsSmallStrippedAndFreeOfTimeStampsAndPaths) {
  const std::vector<unsigned char> file = ProgramBytes();
  ASSERT_GT(file.size(), 0x40u) << "cannot read " << ProgramPath();
  EXPECT_LE(file.size(), SIZE_LIMIT) << ProgramPath();

  const size_t pe = Le(file, 0x3C, 4);
  ASSERT_EQ(Le(file, pe, 4), 0x00004550u) << "no PE signature";
  const size_t sectionCount = Le(file, pe + 6, 2);
  EXPECT_EQ(Le(file, pe + 8, 4), 0u) << "the link time stamp is set";
  EXPECT_EQ(Le(file, pe + 12, 4), 0u) << "a COFF symbol table is left in";
  EXPECT_EQ(Le(file, pe + 16, 4), 0u) << "COFF symbols are left in";

  const size_t optional = pe + 24;
  const bool pe32plus = Le(file, optional, 2) == 0x20B;
  const size_t directories = optional + (pe32plus ? 112 : 96);
  const size_t DEBUG_DIRECTORY = 6;
  EXPECT_EQ(Le(file, directories + 8 * DEBUG_DIRECTORY + 4, 4), 0u) << "a debug directory is left in";

  const size_t sections = optional + Le(file, pe + 20, 2);
  for (size_t i = 0; i < sectionCount; ++i) {
    const char* name = reinterpret_cast<const char*>(&file.at(sections + 40 * i));
    const std::string section(name, strnlen(name, 8));
    // With the symbol table gone, long names such as .debug_info would show as "/4" and so on.
    EXPECT_NE(section.compare(0, 6, ".debug"), 0) << section;
    EXPECT_NE(section[0], '/') << "section with a long name: " << section;
  }

  // A path of the build folder would differ between two clones.
  const std::string bytes(file.begin(), file.end());
  for (const char* trace : {"/work/", "/home/", "/tmp/", "/usr/", "CMakeFiles", ".cpp"}) {
    EXPECT_EQ(bytes.find(trace), std::string::npos) << "the file holds \"" << trace << "\"";
  }
}

}  // namespace
