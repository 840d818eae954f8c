#include "system_dlls.h"

#ifdef _WIN32

#include "bounded_text.h"

#ifndef LOAD_LIBRARY_SEARCH_SYSTEM32
#define LOAD_LIBRARY_SEARCH_SYSTEM32 0x00000800
#endif

namespace {

// Set once SetDefaultDllDirectories has limited every search to the system folder.
bool g_systemFolderOnly = false;

}  // namespace

void RestrictDllSearch() {
    SetDllDirectoryA("");
    // Looked up, not imported: Windows XP's kernel32 does not export it, and an import would
    // keep the program from starting there.
    using SetDefaultDllDirectoriesProc = BOOL(WINAPI*)(DWORD);
    const HMODULE kernel32 = GetModuleHandleA("kernel32.dll");
    if (kernel32 == nullptr) return;
    const auto setDefaultDllDirectories = reinterpret_cast<SetDefaultDllDirectoriesProc>(
        reinterpret_cast<void*>(GetProcAddress(kernel32, "SetDefaultDllDirectories")));
    if (setDefaultDllDirectories != nullptr && setDefaultDllDirectories(LOAD_LIBRARY_SEARCH_SYSTEM32)) {
        g_systemFolderOnly = true;
    }
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
