#include "system_dlls.h"

#ifdef _WIN32

#include "bounded_text.h"

#ifndef LOAD_LIBRARY_SEARCH_SYSTEM32
#define LOAD_LIBRARY_SEARCH_SYSTEM32 0x00000800
#endif

namespace {

// Set once SetDefaultDllDirectories has limited every search to the system folder.
bool g_systemFolderOnly = false;

// What the programs' own code, comctl32 and user32 load by name on demand: themes, the
// desktop compositor (not on Windows XP, where the load just fails), file versions, input
// methods and text services.
const char* const LOADED_ON_DEMAND[] = {"uxtheme.dll", "dwmapi.dll", "version.dll", "imm32.dll", "msctf.dll"};

// The name looked up in kernel32; the test switch asks for one no kernel32 exports.
const char* SetDefaultDllDirectoriesName() {
    char value[2];
    const DWORD length = GetEnvironmentVariableA("VELMORA_TEST_NO_DEFAULT_DLL_DIRECTORIES", value, sizeof value);
    return length > 0 ? "SetDefaultDllDirectories (test switch: not there)" : "SetDefaultDllDirectories";
}

}  // namespace

void RestrictDllSearch() {
    SetDllDirectoryA("");
    // Looked up, not imported: Windows XP's kernel32 does not export it, and an import would
    // keep the program from starting there.
    using SetDefaultDllDirectoriesProc = BOOL(WINAPI*)(DWORD);
    const HMODULE kernel32 = GetModuleHandleA("kernel32.dll");
    const auto setDefaultDllDirectories =
        kernel32 == nullptr ? nullptr
                            : reinterpret_cast<SetDefaultDllDirectoriesProc>(
                                  reinterpret_cast<void*>(GetProcAddress(kernel32, SetDefaultDllDirectoriesName())));
    if (setDefaultDllDirectories != nullptr && setDefaultDllDirectories(LOAD_LIBRARY_SEARCH_SYSTEM32)) {
        g_systemFolderOnly = true;
        return;
    }
    // Kept loaded for the life of the process: a later load by name is given this module.
    for (const char* name : LOADED_ON_DEMAND) LoadSystemDll(name);
}

HMODULE LoadSystemDll(const char* name) {
    char path[MAX_PATH];
    const UINT length = GetSystemDirectoryA(path, MAX_PATH);
    if (length == 0 || length >= MAX_PATH) return nullptr;
    if (strcat_s(path, "\\") != 0 || strcat_s(path, name) != 0) return nullptr;
    // With the default directories set, a load by full path searches the DLL's dependencies
    // in the system folder only. Without them (Windows XP), the altered search order looks
    // for them in the DLL's own folder, the system folder, before any other.
    return LoadLibraryExA(path, nullptr, g_systemFolderOnly ? 0 : LOAD_WITH_ALTERED_SEARCH_PATH);
}

#endif
