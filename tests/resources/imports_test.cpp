// The program must start on a bare Windows, as old as XP SP3, and never load a DLL planted
// beside it: every DLL it imports is a Known DLL of Windows XP SP3 (known_dlls.txt), none
// comes with the compiler (libstdc++, libgcc, libwinpthread), and every function it imports
// is one that Windows XP SP3 exports.
#include "pe_imports.h"
#include "program_file.h"

#include <cctype>
#include <cstring>
#include <fstream>
#include <iterator>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

namespace {

std::vector<unsigned char> ProgramBytes() {
  std::ifstream in(ProgramPath(), std::ios::binary);
  return std::vector<unsigned char>((std::istreambuf_iterator<char>(in)),
                                    std::istreambuf_iterator<char>());
}

std::string Lower(std::string text) {
  for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return text;
}

// The 64-bit build's optional header starts with the magic 0x20B.
bool IsPe32Plus(const std::vector<unsigned char>& file) {
  if (file.size() < 0x40) return false;
  const size_t pe = file[0x3C] | file[0x3D] << 8 | file[0x3E] << 16 | size_t(file[0x3F]) << 24;
  return pe + 26 <= file.size() && file[pe + 24] == 0x0B && file[pe + 25] == 0x02;
}

struct AllowedImport {
  std::string minimum;  // "2000" or "XP"
  int line;
};

// The list kept beside this test: "DLL function minimum" per line, # for comments. Keyed by
// "dll!function", the DLL in lower case (the loader ignores its case, not the function's).
std::map<std::string, AllowedImport> ReadImportList(std::string* error) {
  std::map<std::string, AllowedImport> list;
  std::ifstream in(ImportListPath());
  if (!in.good()) {
    *error = std::string("cannot open ") + ImportListPath();
    return list;
  }
  std::string text;
  for (int line = 1; std::getline(in, text); ++line) {
    if (!text.empty() && text.back() == '\r') text.pop_back();
    if (text.empty() || text[0] == '#') continue;
    std::istringstream fields(text);
    std::string dll, function, minimum, more;
    if (!(fields >> dll >> function >> minimum) || (fields >> more)) {
      *error += "line " + std::to_string(line) + " is not \"DLL function minimum\"; ";
      continue;
    }
    if (!list.emplace(Lower(dll) + "!" + function, AllowedImport{minimum, line}).second) {
      *error += "line " + std::to_string(line) + " repeats " + function + "; ";
    }
  }
  return list;
}

// The list kept beside this test: one DLL name per line, # for comments, in lower case.
std::set<std::string> ReadKnownDlls(std::string* error) {
  std::set<std::string> names;
  std::ifstream in(KnownDllListPath());
  if (!in.good()) {
    *error = std::string("cannot open ") + KnownDllListPath();
    return names;
  }
  std::string text;
  for (int line = 1; std::getline(in, text); ++line) {
    if (!text.empty() && text.back() == '\r') text.pop_back();
    if (text.empty() || text[0] == '#') continue;
    if (text != Lower(text) || text.find(' ') != std::string::npos ||
        text.size() < 5 || text.compare(text.size() - 4, 4, ".dll") != 0) {
      *error += "line " + std::to_string(line) + " is not one DLL name in lower case; ";
      continue;
    }
    names.insert(text);
  }
  return names;
}

TEST(ProgramImports, OnlyKnownDllsOfWindowsXp) {
  std::string error;
  const std::set<std::string> known = ReadKnownDlls(&error);
  ASSERT_TRUE(error.empty()) << error;
  const std::vector<unsigned char> file = ProgramBytes();
  ASSERT_FALSE(file.empty()) << "cannot read " << ProgramPath();
  std::vector<std::string> dlls;
  ASSERT_TRUE(ReadImportedDlls(file, &dlls, &error)) << error;
  bool kernel32 = false;
  for (const std::string& dll : dlls) {
    EXPECT_EQ(known.count(Lower(dll)), 1u)
        << ProgramPath() << " imports " << dll << ", which is not a Known DLL of Windows XP SP3 ("
        << KnownDllListPath() << "): Windows would look for it in the program's folder first";
    kernel32 = kernel32 || _stricmp(dll.c_str(), "kernel32.dll") == 0;
  }
  // Every Windows program imports KERNEL32; without it the table was not read at all.
  EXPECT_TRUE(kernel32) << "no KERNEL32 import found among " << dlls.size() << " DLLs";
}

TEST(ProgramImports, EveryFunctionIsOneThatWindowsXpExports) {
  std::string error;
  const std::map<std::string, AllowedImport> allowed = ReadImportList(&error);
  ASSERT_TRUE(error.empty()) << error;
  ASSERT_FALSE(allowed.empty());
  for (const auto& entry : allowed) {
    const std::string& minimum = entry.second.minimum;
    EXPECT_TRUE(minimum == "2000" || minimum == "XP")
        << "line " << entry.second.line << ": " << entry.first << " needs Windows " << minimum;
  }

  const std::vector<unsigned char> file = ProgramBytes();
  ASSERT_FALSE(file.empty()) << "cannot read " << ProgramPath();
  if (IsPe32Plus(file)) {
    GTEST_SKIP() << "Windows XP SP3 runs 32-bit programs; this is the 64-bit test build";
  }
  std::vector<ImportedFunction> imports;
  ASSERT_TRUE(ReadImportedFunctions(file, &imports, &error)) << error;
  // A program that runs at all calls into the system; an empty table was not read.
  ASSERT_GT(imports.size(), 20u);
  for (const ImportedFunction& import : imports) {
    EXPECT_EQ(allowed.count(Lower(import.dll) + "!" + import.function), 1u)
        << ProgramPath() << " imports " << import.dll << " " << import.function
        << ", which is not in " << ImportListPath()
        << " (it must be one that Windows XP SP3 exports)";
  }
}

// What made the program stop on XP before: the list must not let these through.
TEST(ProgramImports, ImportListLeavesOutWhatWindowsXpLacks) {
  std::string error;
  const std::map<std::string, AllowedImport> allowed = ReadImportList(&error);
  ASSERT_TRUE(error.empty()) << error;
  const char* const missingOnXp[] = {
      "kernel32.dll!GetTickCount64",         "kernel32.dll!InitializeConditionVariable",
      "kernel32.dll!InitializeSRWLock",      "kernel32.dll!InitOnceExecuteOnce",
      "kernel32.dll!CreateSymbolicLinkA",    "kernel32.dll!GetFileInformationByHandleEx",
      "msvcrt.dll!strcpy_s",                 "msvcrt.dll!strcat_s",
      "msvcrt.dll!sprintf_s",                "msvcrt.dll!_vsnprintf_s",
      "msvcrt.dll!_fseeki64",                "msvcrt.dll!_ftelli64",
  };
  for (const char* name : missingOnXp) {
    EXPECT_EQ(allowed.count(name), 0u) << name;
  }
}

// The list itself: the DLLs that other programs of the compiler import, and the DLLs of
// Windows that are no Known DLLs, must not be on it.
TEST(ProgramImports, KnownDllListLeavesOutWhatIsSearchedForBesideTheProgram) {
  std::string error;
  const std::set<std::string> known = ReadKnownDlls(&error);
  ASSERT_TRUE(error.empty()) << error;
  for (const char* name : {"kernel32.dll", "user32.dll", "gdi32.dll", "msvcrt.dll"}) {
    EXPECT_EQ(known.count(name), 1u) << name;
  }
  for (const char* name : {"comctl32.dll", "uxtheme.dll", "dwmapi.dll", "version.dll", "cryptbase.dll",
                           "imm32.dll", "msctf.dll", "libstdc++-6.dll", "libgcc_s_dw2-1.dll",
                           "libgcc_s_seh-1.dll", "libwinpthread-1.dll", "api-ms-win-crt-runtime-l1-1-0.dll",
                           "ucrtbase.dll"}) {
    EXPECT_EQ(known.count(name), 0u) << name;
  }
}

}  // namespace
