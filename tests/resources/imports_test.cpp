// The program must start on a bare Windows: every DLL it imports comes with the system, none
// with the compiler (libstdc++, libgcc, libwinpthread).
#include "pe_imports.h"
#include "program_file.h"

#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include <gtest/gtest.h>

namespace {

TEST(ProgramImports, OnlySystemDlls) {
  std::ifstream in(ProgramPath(), std::ios::binary);
  ASSERT_TRUE(in.good()) << "cannot open " << ProgramPath();
  const std::vector<unsigned char> file((std::istreambuf_iterator<char>(in)),
                                        std::istreambuf_iterator<char>());
  std::vector<std::string> dlls;
  std::string error;
  ASSERT_TRUE(ReadImportedDlls(file, &dlls, &error)) << error;
  bool kernel32 = false;
  for (const std::string& dll : dlls) {
    EXPECT_TRUE(IsSystemDll(dll)) << ProgramPath() << " imports " << dll;
    kernel32 = kernel32 || _stricmp(dll.c_str(), "kernel32.dll") == 0;
  }
  // Every Windows program imports KERNEL32; without it the table was not read at all.
  EXPECT_TRUE(kernel32) << "no KERNEL32 import found among " << dlls.size() << " DLLs";
}

TEST(ProgramImports, SystemDllListTellsRuntimeDllsApart) {
  struct Case {
    const char* name;
    bool system;
  };
  const Case cases[] = {
      {"KERNEL32.dll", true},
      {"user32.DLL", true},
      {"COMCTL32.dll", true},
      {"msvcrt.dll", true},
      {"api-ms-win-crt-runtime-l1-1-0.dll", true},
      {"libstdc++-6.dll", false},
      {"libgcc_s_dw2-1.dll", false},
      {"libgcc_s_seh-1.dll", false},
      {"libwinpthread-1.dll", false},
      {"kernel32.dll.evil.dll", false},
      {"api-ms-win-crt-.dll", false},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(IsSystemDll(c.name), c.system) << c.name;
  }
}

}  // namespace
