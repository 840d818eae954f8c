// GoogleTest entry that takes the program file as the one argument left after gtest's own.
#include "program_file.h"

#include <cstdio>
#include <string>

#include <gtest/gtest.h>

namespace {
std::string g_programPath;
}

const char* ProgramPath() {
  return g_programPath.c_str();
}

int main(int argc, char** argv) {
  testing::InitGoogleTest(&argc, argv);
  if (argc != 2) {
    std::fprintf(stderr, "usage: %s [gtest options] PROGRAM.exe\n", argv[0]);
    return 2;
  }
  g_programPath = argv[1];
  return RUN_ALL_TESTS();
}
