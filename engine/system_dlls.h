#pragma once
// Where the programs take their DLLs from. A folder the player starts the tool from (the
// Downloads folder, a game folder other programs write to) may hold a DLL named like one of
// Windows' own, and the tool may run as administrator: no DLL is ever loaded from the
// program's folder or from the current folder.
//
// The import tables name only DLLs that Windows maps from the system folder whatever the
// search order (the Known DLLs of Windows XP SP3; see tests/resources/known_dlls.txt). Every
// other DLL is loaded with LoadSystemDll, and RestrictDllSearch keeps the DLLs that Windows'
// own DLLs load on demand to the system folder as well.

#ifdef _WIN32
#include <windows.h>

// Called first thing by each program's entry. Takes the current folder out of the search of
// every later load by name and, where the system has SetDefaultDllDirectories (Windows 8,
// and Windows 7 and Vista with their update), limits that search to the system folder. On
// Windows XP, which lacks that function, the program still starts.
void RestrictDllSearch();

// Loads `name` ("comctl32.dll") from the system folder by its full path, its own dependencies
// searched from the system folder first. Null when it cannot be loaded.
HMODULE LoadSystemDll(const char* name);
#endif
