// The executable whose resources and imports the tests read, named on the command line.
#ifndef VELMORA_TESTS_PROGRAM_FILE_H
#define VELMORA_TESTS_PROGRAM_FILE_H

// Path of the program file; empty when none was given.
const char* ProgramPath();

// Path of the list of the functions the program may import (windows_xp_imports.txt).
const char* ImportListPath();

// Path of the list of the DLLs the program may import (known_dlls.txt).
const char* KnownDllListPath();

#endif
