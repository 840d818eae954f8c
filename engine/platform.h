#pragma once
// What each system does its own way, declared once: platform_windows.cpp for Windows,
// platform_posix.cpp for Linux and the other POSIX systems (places_*.cpp for where their
// players keep games). The file operations among them are put into the FileOps table by
// target_file.cpp only; everything else goes through g_fileOps.

#include <string>

#include "game_search.h"
#include "target_file.h"

namespace platform {

FileFacts Inspect(const char* name);
NativeFile OpenNative(const char* name, OpenDisposition disposition, unsigned long* error);
void CloseNative(NativeFile file);
int DescriptorOf(NativeFile file);
void CloseDescriptor(int descriptor);
FILE* StreamOf(int descriptor, const char* mode);
bool TellSize(FILE* file, uint64_t* size);
int Commit(FILE* file);
bool Move(const char* from, const char* to, bool replace);
FileIdentity Identify(const char* name);
EntryKind EntryKindOf(const char* name);
bool WriteAt(FILE* file, uint64_t offset, const void* data, size_t size);
bool ReadAt(FILE* file, uint64_t offset, void* data, size_t size);
bool Clone(FILE* destination, FILE* source, unsigned long* error);
bool CopyRange(FILE* destination, FILE* source, uint64_t size, uint64_t* copied, unsigned long* error);
// The FileOps table's listFolder: on Windows no junction or folder link is a folder, as they
// can lead back up.
bool ListFolder(const char* folder, ListedEntryFn each, void* context);
FileIdentity IdentifyOpen(FILE* file);
NativeFile OpenFolderOf(const char* name);
int CommitFolder(NativeFile folder);
FolderHoldState HoldFolder(NativeFile* hold);
void ReleaseFolder(NativeFile hold);
void Pause(unsigned milliseconds);
KeptAttributes* ReadAttributes(FILE* file);
void GiveAttributes(const KeptAttributes* attributes, FILE* file, const char* name, char (&notKept)[PATCH_TEXT_SIZE]);
void FreeAttributes(KeptAttributes* attributes);
bool RealName(const char* name, char (&real)[PATCH_TEXT_SIZE]);

// The hint for a read-only file, in the terms of the system's own tools.
extern const char READ_ONLY_HINT[];

// The facts of a file that a holder survey covers; false for a name it leaves out (one
// that is not there, or not a plain file; on Windows every name, as sharing modes do the
// survey's work).
bool SurveyedFile(const char* name, HolderSurvey::File* file);
// Marks the files that a process other than this one has open or mapped, in one walk over
// the processes; returns the number of processes that could not be looked at, or -1 when
// they could not be listed.
int MarkHolders(HolderSurvey::File* files, int count);
// What the walk over the processes cannot see: natively a /proc mounted with hidepid, or
// one of a PID namespace of this process's own; on Windows, nothing.
ProcessView ViewOfProcesses();

// Calls `each` with every name in `folder` but "." and "..". False when the folder cannot
// be listed, and on Windows, whose file system finds a name in any case by itself: there
// the caller goes by the names it knows.
bool ListNamesToFold(const char* folder, void (*each)(const char* name, void* context), void* context);

// Memory for a large image straight from the system, in huge pages where they can be had.
// Natively only: on Windows MAPS_LARGE_BUFFERS is false and MapPages gives null.
extern const bool MAPS_LARGE_BUFFERS;
void* MapPages(size_t length);
void AdviseHugePages(void* start, size_t length);
void UnmapPages(void* base, size_t length);

// A whole file mapped for reading only, with every sharing, so that a running game can be
// read and no memory is filled for it: the system's pages of the file are seen as they
// are. Null when the file cannot be opened or mapped, or is 4 GiB or larger; an empty file
// gives a non-null pointer and *size 0. UnmapFile takes back what MapFileForReading gave.
const uint8_t* MapFileForReading(const char* name, uint32_t* size);
void UnmapFile(const uint8_t* base, uint32_t size);

// The separator of a path's parts: '\\' on Windows, '/' elsewhere.
extern const char PATH_SEPARATOR;
// Room for a folder's path (PATH_MAX natively, more than Windows' MAX_PATH).
enum { FOLDER_PATH_SIZE = 4096 };
// The folder's path with every link resolved, in `buffer`; on Windows `folder` itself.
// Empty when it cannot be told.
const char* RealPathOf(const char* folder, char (&buffer)[FOLDER_PATH_SIZE]);
// The folder that an environment variable names (Windows: "ProgramFiles"), in `buffer`;
// empty when it is not set, or too long to be a folder's path.
const char* FolderOfVariable(const char* variable, char (&buffer)[FOLDER_PATH_SIZE]);

// Where the system's players keep their games, for --find (see game_search.h): on Windows
// from the registry and the stores' usual folders, elsewhere below the home folder `home`
// and in the prefix `winePrefix`. In places_windows.cpp and places_posix.cpp.
SearchPlaces UsualPlaces(const std::string& home, const std::string& winePrefix);

// The one path quoter: `text` quoted for the shell a player pastes it into, in `out` (`room`
// bytes), so that pasted it names that very file and runs nothing, and shown it cannot move
// the cursor. Natively POSIX single quotes, '\'' for a quote inside, and $'\n' or $'\xHH'
// for a control character or a byte that is no UTF-8; on Windows cmd's double quotes, a
// trailing backslash run doubled before the closing quote, a quote inside as "\^"" and a
// control character as ?. False, with `out` empty, when it does not fit.
bool QuoteForShell(const char* text, char* out, size_t room);
template <size_t N>
bool QuoteForShell(const char* text, char (&out)[N]) { return QuoteForShell(text, out, N); }

}  // namespace platform
