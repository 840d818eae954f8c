// GoogleTest entry that takes the program file, the list of the functions it may import and
// the list of the DLLs it may import, as the arguments left after gtest's own.
#include "program_file.h"

#include <cstdio>
#include <string>

#include <gtest/gtest.h>

namespace {
std::string g_programPath;
std::string g_importListPath;
std::string g_knownDllListPath;
}

const char* ProgramPath() {
  return g_programPath.c_str();
}

const char* ImportListPath() {
  return g_importListPath.c_str();
}

const char* KnownDllListPath() {
  return g_knownDllListPath.c_str();
}

int main(int argc, char** argv) {
  testing::InitGoogleTest(&argc, argv);
  if (argc != 4) {
    std::fprintf(stderr, "usage: %s [gtest options] PROGRAM.exe IMPORT_LIST.txt KNOWN_DLLS.txt\n",
                 argv[0]);
    return 2;
  }
  g_programPath = argv[1];
  g_importListPath = argv[2];
  g_knownDllListPath = argv[3];
  return RUN_ALL_TESTS();
}
