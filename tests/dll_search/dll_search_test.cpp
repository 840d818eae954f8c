// No DLL from the program's folder or from the current folder is ever loaded. A marker DLL,
// which creates "<its path>.loaded" when it is loaded, lies beside a copy of each program
// and in the folder the program is started in, under every name the program imports or
// loads itself and the names Windows' own DLLs load on demand. Wine is told to prefer a
// DLL it finds over its own (WINEDLLOVERRIDES=name=n,b), which is Windows' search order for
// a DLL that is no Known DLL. No marker may appear. The names beyond the imports are kept
// in planted_names.txt, from which CTest also sets the overrides.
#include <windows.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "pe_imports.h"

namespace {

std::string g_marker, g_windowProgram, g_consoleProgram, g_knownDllList, g_plantedNameList;

std::string Lower(std::string text) {
    for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return text;
}

// Names Wine cannot take from a native DLL: its loader refuses a native file for them.
struct WineOnlyBuiltin {
    const char* name;
    const char* reason;
};
const WineOnlyBuiltin WINE_BUILTIN_ONLY[] = {
    {"ntdll.dll", "Wine never loads a native ntdll.dll"},
    {"kernelbase.dll", "Wine never loads a native kernelbase.dll"},
};

// One DLL name per line, # for comments.
// Names that Wine's own user32.dll imports: Wine loads them, native first, from beside the
// program while it resolves the program's imports, before the program's first instruction.
// On Windows user32.dll is a Known DLL, whose dependencies come from the system folder too.
// They are planted in the current folder only.
const char* const WINE_USER32_IMPORTS[] = {"imm32.dll", "version.dll"};

bool ImportedByWineUser32(const std::string& name) {
    return std::find(std::begin(WINE_USER32_IMPORTS), std::end(WINE_USER32_IMPORTS), name) !=
           std::end(WINE_USER32_IMPORTS);
}

std::set<std::string> ReadNames(const std::string& path) {
    std::set<std::string> names;
    std::ifstream in(path);
    for (std::string line; std::getline(in, line);) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (!line.empty() && line[0] != '#') names.insert(Lower(line));
    }
    return names;
}

std::vector<std::string> ImportedDlls(const std::string& program) {
    std::ifstream in(program, std::ios::binary);
    const std::vector<unsigned char> file((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    std::vector<std::string> dlls;
    std::string error;
    EXPECT_TRUE(ReadImportedDlls(file, &dlls, &error)) << program << ": " << error;
    for (std::string& dll : dlls) dll = Lower(dll);
    return dlls;
}

// Every name to plant, and why some cannot be tried under Wine.
struct PlantPlan {
    std::vector<std::string> planted;
    std::vector<std::pair<std::string, std::string>> skipped;  // name, reason
};

PlantPlan MakePlan() {
    std::set<std::string> names;
    for (const std::string& program : {g_windowProgram, g_consoleProgram}) {
        for (const std::string& dll : ImportedDlls(program)) names.insert(dll);
    }
    for (const std::string& name : ReadNames(g_plantedNameList)) names.insert(name);
    const std::set<std::string> known = ReadNames(g_knownDllList);
    PlantPlan plan;
    for (const std::string& name : names) {
        if (known.count(name) != 0) {
            plan.skipped.push_back(
                {name, "a Known DLL of Windows XP SP3 (known_dlls.txt): Windows maps it from the system folder "
                       "whatever the search order, while Wine 8 has no Known DLLs and would load the planted copy"});
            continue;
        }
        const WineOnlyBuiltin* builtin =
            std::find_if(std::begin(WINE_BUILTIN_ONLY), std::end(WINE_BUILTIN_ONLY),
                         [&](const WineOnlyBuiltin& b) { return name == b.name; });
        if (builtin != std::end(WINE_BUILTIN_ONLY)) {
            plan.skipped.push_back({name, builtin->reason});
            continue;
        }
        plan.planted.push_back(name);
        if (ImportedByWineUser32(name)) {
            plan.skipped.push_back({name + " beside the program",
                                    "Wine's own user32.dll imports it and loads it from beside the program before the "
                                    "program starts (on Windows user32.dll is a Known DLL); it is planted in the "
                                    "current folder only"});
        }
    }
    return plan;
}

std::string NewFolder(const std::string& under, const std::string& name) {
    const std::string folder = under + name;
    CreateDirectoryA(folder.c_str(), nullptr);
    return folder;
}

std::string TempRoot() {
    char temp[MAX_PATH];
    GetTempPathA(MAX_PATH, temp);
    char name[64];
    std::snprintf(name, sizeof name, "velmora-dll-search-%lu", static_cast<unsigned long>(GetCurrentProcessId()));
    return NewFolder(temp, name) + "\\";
}

void RemoveTree(const std::string& folder) {
    WIN32_FIND_DATAA found;
    const HANDLE search = FindFirstFileA((folder + "\\*").c_str(), &found);
    if (search != INVALID_HANDLE_VALUE) {
        do {
            const std::string name = found.cFileName;
            if (name == "." || name == "..") continue;
            const std::string path = folder + "\\" + name;
            if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
                RemoveTree(path);
            } else {
                DeleteFileA(path.c_str());
            }
        } while (FindNextFileA(search, &found));
        FindClose(search);
    }
    RemoveDirectoryA(folder.c_str());
}

// Whether this process's WINEDLLOVERRIDES (which its children inherit) puts the native DLL
// first for `name`: an entry "a,b,name=n,b" or "name=n".
bool NativeFirst(const std::string& name) {
    char overrides[32768];
    const DWORD length = GetEnvironmentVariableA("WINEDLLOVERRIDES", overrides, sizeof overrides);
    if (length == 0 || length >= sizeof overrides) return false;
    const std::string base = name.substr(0, name.size() - 4);
    bool native = false;
    std::string all = Lower(overrides);
    for (size_t start = 0; start <= all.size();) {
        const size_t end = std::min(all.find(';', start), all.size());
        const std::string entry = all.substr(start, end - start);
        const size_t equals = entry.find('=');
        if (equals != std::string::npos) {
            const std::string names = "," + entry.substr(0, equals) + ",";
            if (names.find("," + base + ",") != std::string::npos) native = entry.compare(equals + 1, 1, "n") == 0;
        }
        start = end + 1;
    }
    return native;
}

BOOL CALLBACK CloseWindowOf(HWND window, LPARAM processId) {
    DWORD owner = 0;
    GetWindowThreadProcessId(window, &owner);
    if (owner == static_cast<DWORD>(processId)) PostMessageA(window, WM_CLOSE, 0, 0);
    return TRUE;
}

// Runs the program from `folder` in `currentFolder` with `arguments`; a window program is
// given time to open and paint its window, then closed.
void RunProgram(const std::string& program, const std::string& currentFolder, const std::string& arguments,
                bool window) {
    std::string commandLine = "\"" + program + "\" " + arguments;
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process = {};
    ASSERT_TRUE(CreateProcessA(program.c_str(), &commandLine[0], nullptr, nullptr, FALSE, 0, nullptr,
                               currentFolder.c_str(), &startup, &process))
        << "cannot start " << program << ", error " << GetLastError();
    if (window) {
        WaitForInputIdle(process.hProcess, 60000);
        // Time for what the first paint and the first messages load.
        if (WaitForSingleObject(process.hProcess, 3000) == WAIT_TIMEOUT) {
            EnumWindows(CloseWindowOf, static_cast<LPARAM>(process.dwProcessId));
        }
    }
    if (WaitForSingleObject(process.hProcess, 60000) == WAIT_TIMEOUT) TerminateProcess(process.hProcess, 1);
    WaitForSingleObject(process.hProcess, 10000);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
}

class DllSearch : public ::testing::Test {
protected:
    void SetUp() override {
        plan_ = MakePlan();
        root_ = TempRoot();
        programFolder_ = NewFolder(root_, "program");
        currentFolder_ = NewFolder(root_, "current");
        for (const std::string& name : plan_.planted) {
            ASSERT_TRUE(NativeFirst(name)) << "WINEDLLOVERRIDES does not make Wine prefer a native " << name
                                           << ": a planted copy would not be taken even where it is searched for";
        }
        for (const std::string& folder : {programFolder_, currentFolder_}) {
            for (const std::string& name : plan_.planted) {
                if (folder == programFolder_ && ImportedByWineUser32(name)) continue;
                ASSERT_TRUE(CopyFileA(g_marker.c_str(), (folder + "\\" + name).c_str(), FALSE))
                    << "cannot plant " << name << " in " << folder << ", error " << GetLastError();
            }
        }
    }
    void TearDown() override { RemoveTree(root_.substr(0, root_.size() - 1)); }

    // The copy of `program` beside the planted DLLs.
    std::string PlaceProgram(const std::string& program) {
        const std::string name = program.substr(program.find_last_of("\\/") + 1);
        const std::string copy = programFolder_ + "\\" + name;
        EXPECT_TRUE(CopyFileA(program.c_str(), copy.c_str(), FALSE)) << "cannot copy " << program;
        return copy;
    }

    // The planted names whose marker appeared, with the folder they lay in.
    std::vector<std::string> LoadedMarkers() {
        std::vector<std::string> loaded;
        for (const std::string& folder : {programFolder_, currentFolder_}) {
            for (const std::string& name : plan_.planted) {
                if (GetFileAttributesA((folder + "\\" + name + ".loaded").c_str()) != INVALID_FILE_ATTRIBUTES) {
                    loaded.push_back(name + (folder == programFolder_ ? " beside the program" : " in the current folder"));
                }
            }
        }
        return loaded;
    }

    void ExpectNoMarker(const std::string& program) {
        for (const std::string& loaded : LoadedMarkers()) {
            ADD_FAILURE() << program << " loaded the planted " << loaded;
        }
    }

    PlantPlan plan_;
    std::string root_, programFolder_, currentFolder_;
};

TEST_F(DllSearch, WindowProgramLoadsNoPlantedDll) {
    ASSERT_FALSE(plan_.planted.empty());
    const std::string program = PlaceProgram(g_windowProgram);
    RunProgram(program, currentFolder_, "", true);
    ExpectNoMarker(program);
}

TEST_F(DllSearch, ConsoleProgramLoadsNoPlantedDll) {
    ASSERT_FALSE(plan_.planted.empty());
    const std::string program = PlaceProgram(g_consoleProgram);
    // No game in the current folder: it looks for one, reports the reasons and ends.
    RunProgram(program, currentFolder_, "--dry-run", false);
    RunProgram(program, currentFolder_, "--restore", false);
    ExpectNoMarker(program);
}

// The marker itself is loaded where Wine is told to prefer it: without that, the tests above
// would pass for any program.
TEST_F(DllSearch, PlantedMarkerIsLoadedWhereTheSearchReachesIt) {
    const std::string name = "velmoraprobe.dll";
    const std::string planted = currentFolder_ + "\\" + name;
    ASSERT_TRUE(CopyFileA(g_marker.c_str(), planted.c_str(), FALSE));
    const HMODULE module = LoadLibraryA(planted.c_str());
    ASSERT_NE(module, nullptr) << "error " << GetLastError();
    FreeLibrary(module);
    EXPECT_NE(GetFileAttributesA((planted + ".loaded").c_str()), INVALID_FILE_ATTRIBUTES);
}

// Each name that is not planted is a skipped case of its own, named with the reason.
class NameNotPlanted : public ::testing::Test {
public:
    explicit NameNotPlanted(std::string reason) : reason_(std::move(reason)) {}
    void TestBody() override { GTEST_SKIP() << reason_; }

private:
    std::string reason_;
};

}  // namespace

int main(int argc, char** argv) {
    testing::InitGoogleTest(&argc, argv);
    if (argc != 6) {
        std::fprintf(stderr, "usage: %s [gtest options] MARKER.dll PROGRAM.exe PATCH.exe KNOWN_DLLS.txt NAMES.txt\n",
                     argv[0]);
        return 2;
    }
    g_marker = argv[1];
    g_windowProgram = argv[2];
    g_consoleProgram = argv[3];
    g_knownDllList = argv[4];
    g_plantedNameList = argv[5];
    for (const auto& skipped : MakePlan().skipped) {
        std::string testName = skipped.first;
        for (char& c : testName) {
            if (!std::isalnum(static_cast<unsigned char>(c))) c = '_';
        }
        const std::string reason = skipped.first + " is not planted: " + skipped.second;
        testing::RegisterTest("DllSearchNotPlanted", testName.c_str(), nullptr, nullptr, __FILE__, __LINE__,
                              [reason]() -> ::testing::Test* { return new NameNotPlanted(reason); });
    }
    return RUN_ALL_TESTS();
}
