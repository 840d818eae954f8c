// No DLL from the program's folder or from the current folder is ever loaded. A marker DLL,
// which creates "<its path>.loaded" when it is loaded, lies beside a copy of each program
// and in the folder the program is started in, under every name the program imports or
// loads itself and the names Windows' own DLLs load on demand. Wine is told to prefer a
// DLL it finds over its own (WINEDLLOVERRIDES=name=n,b), which is Windows' search order for
// a DLL that is no Known DLL. No marker may appear. The names beyond the imports are kept
// in planted_names.txt, from which CTest also sets the overrides.
#include <windows.h>
#include <tlhelp32.h>

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
#include "system_dlls.h"

namespace {

std::string g_marker, g_windowProgram, g_consoleProgram, g_knownDllList, g_plantedNameList, g_sourceFolder;

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

// The path each module of a running process was loaded from, by its lower-case file name.
std::vector<std::pair<std::string, std::string>> ModulesOf(DWORD processId) {
    std::vector<std::pair<std::string, std::string>> modules;
    const HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPMODULE, processId);
    if (snapshot == INVALID_HANDLE_VALUE) return modules;
    MODULEENTRY32 module = {};
    module.dwSize = sizeof module;
    for (BOOL more = Module32First(snapshot, &module); more; more = Module32Next(snapshot, &module)) {
        modules.push_back({Lower(module.szModule), Lower(module.szExePath)});
    }
    CloseHandle(snapshot);
    return modules;
}

std::string SystemFolder() {
    char folder[MAX_PATH];
    const UINT length = GetSystemDirectoryA(folder, MAX_PATH);
    return length > 0 && length < MAX_PATH ? Lower(folder) : "";
}

// Runs the program from `folder` in `currentFolder` with `arguments`; a window program is
// given time to open and paint its window, then closed. Where `modules` is given, it gets
// the window program's modules while its window is open.
void RunProgram(const std::string& program, const std::string& currentFolder, const std::string& arguments,
                bool window, std::vector<std::pair<std::string, std::string>>* modules = nullptr) {
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
            if (modules != nullptr) *modules = ModulesOf(process.dwProcessId);
            EnumWindows(CloseWindowOf, static_cast<LPARAM>(process.dwProcessId));
        }
    }
    if (WaitForSingleObject(process.hProcess, 60000) == WAIT_TIMEOUT) TerminateProcess(process.hProcess, 1);
    WaitForSingleObject(process.hProcess, 10000);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
}

// The name of the test switch that makes the programs' lookup of SetDefaultDllDirectories
// fail, as on Windows XP, and on Vista and 7 without their update.
const char NO_DEFAULT_DIRECTORIES[] = "VELMORA_TEST_NO_DEFAULT_DLL_DIRECTORIES";

// Each case runs twice: as the system is, and with the fallback for the systems that lack
// SetDefaultDllDirectories forced.
class DllSearch : public ::testing::TestWithParam<bool> {
protected:
    void SetUp() override {
        SetEnvironmentVariableA(NO_DEFAULT_DIRECTORIES, GetParam() ? "1" : nullptr);
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
    void TearDown() override {
        SetEnvironmentVariableA(NO_DEFAULT_DIRECTORIES, nullptr);
        RemoveTree(root_.substr(0, root_.size() - 1));
    }

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

TEST_P(DllSearch, WindowProgramLoadsNoPlantedDll) {
    ASSERT_FALSE(plan_.planted.empty());
    const std::string program = PlaceProgram(g_windowProgram);
    std::vector<std::pair<std::string, std::string>> modules;
    RunProgram(program, currentFolder_, "", true, &modules);
    ExpectNoMarker(program);
    // The common controls are the system folder's, whichever way the search was restricted.
    const auto comctl32 = std::find_if(modules.begin(), modules.end(),
                                       [](const std::pair<std::string, std::string>& m) { return m.first == "comctl32.dll"; });
    ASSERT_NE(comctl32, modules.end()) << "comctl32.dll is not among the window program's " << modules.size()
                                       << " modules";
    EXPECT_EQ(comctl32->second, SystemFolder() + "\\comctl32.dll");
}

// A small game, so that the runs open, read, copy and write as they do for a player.
void PutGame(const std::string& folder) {
    std::vector<unsigned char> image(4096, 0x90);
    image[0] = 'M';
    image[1] = 'Z';
    const unsigned char fourThirds[] = {0xAB, 0xAA, 0xAA, 0x3F};
    std::copy(std::begin(fourThirds), std::end(fourThirds), image.begin() + 0x100);
    std::ofstream out(folder + "\\vlmr3.exe", std::ios::binary);
    out.write(reinterpret_cast<const char*>(image.data()), static_cast<std::streamsize>(image.size()));
}

TEST_P(DllSearch, ConsoleProgramLoadsNoPlantedDll) {
    ASSERT_FALSE(plan_.planted.empty());
    const std::string program = PlaceProgram(g_consoleProgram);
    // No game in the current folder: it looks for one, reports the reasons and ends.
    RunProgram(program, currentFolder_, "--dry-run", false);
    RunProgram(program, currentFolder_, "--restore", false);
    // Then real runs on a game: a patch, the state, the search and a restore.
    PutGame(currentFolder_);
    for (const char* arguments : {"", "--status", "--find .", "--restore", "--find"}) {
        RunProgram(program, currentFolder_, arguments, false);
    }
    std::ifstream original(currentFolder_ + "\\vlmr3.exe.orig", std::ios::binary);
    EXPECT_TRUE(original.good()) << "the patch run wrote no vlmr3.exe.orig: it did not run as a player's would";
    ExpectNoMarker(program);
}

INSTANTIATE_TEST_SUITE_P(Systems, DllSearch, ::testing::Bool(), [](const ::testing::TestParamInfo<bool>& info) {
    return std::string(info.param ? "WithoutSetDefaultDllDirectories" : "AsTheSystemIs");
});

// The marker itself is loaded where Wine is told to prefer it: without that, the tests above
// would pass for any program.
TEST_P(DllSearch, PlantedMarkerIsLoadedWhereTheSearchReachesIt) {
    const std::string name = "velmoraprobe.dll";
    const std::string planted = currentFolder_ + "\\" + name;
    ASSERT_TRUE(CopyFileA(g_marker.c_str(), planted.c_str(), FALSE));
    const HMODULE module = LoadLibraryA(planted.c_str());
    ASSERT_NE(module, nullptr) << "error " << GetLastError();
    FreeLibrary(module);
    EXPECT_NE(GetFileAttributesA((planted + ".loaded").c_str()), INVALID_FILE_ATTRIBUTES);
}

std::string ReadText(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

bool EndsWith(const std::string& text, const std::string& end) {
    return text.size() >= end.size() && text.compare(text.size() - end.size(), end.size(), end) == 0;
}

// The C++ files below `folder`, as paths relative to the source folder.
void SourcesBelow(const std::string& folder, std::vector<std::string>* files) {
    WIN32_FIND_DATAA found;
    const HANDLE search = FindFirstFileA((g_sourceFolder + "/" + folder + "/*").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE) return;
    do {
        const std::string name = found.cFileName;
        if (name == "." || name == "..") continue;
        const std::string path = folder + "/" + name;
        if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
            SourcesBelow(path, files);
        } else if (EndsWith(name, ".cpp") || EndsWith(name, ".h")) {
            files->push_back(path);
        }
    } while (FindNextFileA(search, &found));
    FindClose(search);
}

// The first statement of the body of the function whose definition starts with `head`,
// preprocessor lines left out.
std::string FirstStatementOf(const std::string& text, const std::string& head) {
    const size_t at = text.find(head);
    if (at == std::string::npos) return "";
    size_t pos = text.find('{', at);
    if (pos == std::string::npos) return "";
    std::string statement;
    for (++pos; pos < text.size(); ++pos) {
        const char c = text[pos];
        if (c == '#' && statement.empty()) {
            pos = text.find('\n', pos);
            if (pos == std::string::npos) return "";
            continue;
        }
        if (c == ';') return statement;
        if (!std::isspace(static_cast<unsigned char>(c))) statement += c;
    }
    return "";
}

// Every DLL the programs' own code loads goes through LoadSystemDll, which builds the path
// in the system folder, and each program restricts the search before anything else.
TEST(DllLoads, OnlyThroughTheOneFunctionThatBuildsTheSystemPath) {
    std::vector<std::string> files;
    for (const char* folder : {"ui", "cli", "engine"}) SourcesBelow(folder, &files);
    ASSERT_GT(files.size(), 10u) << "no sources found below " << g_sourceFolder;
    const std::string loader = "engine/system_dlls.cpp";
    bool loaderSeen = false;
    for (const std::string& file : files) {
        const std::string text = ReadText(g_sourceFolder + "/" + file);
        for (size_t at = text.find("LoadLibrary"); at != std::string::npos; at = text.find("LoadLibrary", at + 1)) {
            const std::string call = text.substr(at, text.find('(', at) - at);
            if (file == loader && call == "LoadLibraryExA") {
                loaderSeen = true;
                continue;
            }
            ADD_FAILURE() << file << " loads a DLL with " << call << " past LoadSystemDll";
        }
    }
    EXPECT_TRUE(loaderSeen) << loader << " loads no DLL by its full path";
    // Each program's entry restricts the search first of all.
    const struct {
        const char* file;
        const char* function;
        const char* first;
    } entries[] = {
        {"ui/main.cpp", "WinMain(", "RestrictDllSearch()"},
        {"cli/main.cpp", "int main(", "console::StartProcess()"},
        {"cli/console_windows.cpp", "void StartProcess()", "RestrictDllSearch()"},
    };
    for (const auto& entry : entries) {
        EXPECT_EQ(FirstStatementOf(ReadText(g_sourceFolder + "/" + entry.file), entry.function), entry.first)
            << entry.file;
    }

    // In the program files: LoadLibraryExA is LoadSystemDll's. The one LoadLibraryA is
    // libgcc's frame registration, which loads nothing: it runs only after
    // GetModuleHandleA("libgcc_s_dw2-1.dll") found that module loaded already.
    for (const std::string& program : {g_windowProgram, g_consoleProgram}) {
        const std::string bytes = ReadText(program);
        const std::vector<unsigned char> file(bytes.begin(), bytes.end());
        std::vector<ImportedFunction> functions;
        std::string error;
        ASSERT_TRUE(ReadImportedFunctions(file, &functions, &error)) << program << ": " << error;
        for (const ImportedFunction& f : functions) {
            if (f.function.compare(0, 11, "LoadLibrary") != 0) continue;
            if (f.function == "LoadLibraryExA") continue;
            if (f.function == "LoadLibraryA" && bytes.find("libgcc_s_dw2-1.dll") != std::string::npos) continue;
            ADD_FAILURE() << program << " imports " << f.function << ", which no code of its own may call";
        }
    }
}

// The restriction itself, in this process, the fallback forced: a DLL that is only in the
// current folder is not found by name any more (Windows XP looks there after the system
// folder, for a DLL the system folder lacks). It restricts this process for good, which the
// other cases do not mind: they load by full path, and their programs are processes of their own.
TEST(RestrictedSearch, NoLoadByNameFromTheCurrentFolder) {
    char temp[MAX_PATH];
    GetTempPathA(MAX_PATH, temp);
    const std::string folder = NewFolder(temp, "velmora-current-folder-" + std::to_string(GetCurrentProcessId()));
    for (const char* name : {"velmoraprobe1.dll", "velmoraprobe2.dll"}) {
        ASSERT_TRUE(CopyFileA(g_marker.c_str(), (folder + "\\" + name).c_str(), FALSE));
    }
    char previous[MAX_PATH];
    GetCurrentDirectoryA(MAX_PATH, previous);
    ASSERT_TRUE(SetCurrentDirectoryA(folder.c_str()));
    // Unrestricted, the current folder is searched: else this case could not fail.
    const HMODULE before = LoadLibraryA("velmoraprobe1.dll");
    EXPECT_NE(before, nullptr) << "the current folder is not searched even without the restriction";
    if (before != nullptr) FreeLibrary(before);
    // A DLL folder set before is replaced by none at all, which also takes the current folder
    // out of the search.
    ASSERT_TRUE(SetDllDirectoryA(temp));
    SetEnvironmentVariableA(NO_DEFAULT_DIRECTORIES, "1");
    RestrictDllSearch();
    SetEnvironmentVariableA(NO_DEFAULT_DIRECTORIES, nullptr);
    char dllFolder[MAX_PATH] = "unread";
    EXPECT_EQ(GetDllDirectoryA(MAX_PATH, dllFolder), 0u) << "the DLL folder is still " << dllFolder;
    const HMODULE after = LoadLibraryA("velmoraprobe2.dll");
    if (after != nullptr) FreeLibrary(after);
    SetCurrentDirectoryA(previous);
    RemoveTree(folder);
    const HMODULE ntdll = GetModuleHandleA("ntdll.dll");
    if (after != nullptr && ntdll != nullptr && GetProcAddress(ntdll, "wine_get_version") != nullptr) {
        GTEST_SKIP() << "Wine 8 keeps the current folder in the search after SetDllDirectoryA(\"\"): its loader takes "
                        "an empty DLL folder for none; the DLL folder checked above shows the call was made";
    }
    EXPECT_EQ(after, nullptr) << "a DLL of the current folder is loaded by name after RestrictDllSearch";
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
    if (argc != 7) {
        std::fprintf(stderr,
                     "usage: %s [gtest options] MARKER.dll PROGRAM.exe PATCH.exe KNOWN_DLLS.txt NAMES.txt SOURCE_DIR\n",
                     argv[0]);
        return 2;
    }
    g_marker = argv[1];
    g_windowProgram = argv[2];
    g_consoleProgram = argv[3];
    g_knownDllList = argv[4];
    g_plantedNameList = argv[5];
    g_sourceFolder = argv[6];
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
