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
// and Windows 7 and Vista with their update), limits that search to the system folder.
// Where it lacks that function (Windows XP; Vista and 7 without the update) a load by name
// would still look beside the program first: the DLLs that the programs, comctl32 and
// user32 load on demand are loaded from the system folder by full path before anything can
// load one by name, and Windows then finds each loaded module by its name.
//
// A test switch: with VELMORA_TEST_NO_DEFAULT_DLL_DIRECTORIES set in the environment the
// lookup of SetDefaultDllDirectories fails, as on those systems.
void RestrictDllSearch();

// Loads `name` ("comctl32.dll") from the system folder by its full path, its own dependencies
// searched from the system folder first. Null when it cannot be loaded.
HMODULE LoadSystemDll(const char* name);
#endif
