#pragma once
// What each system does its own way, declared once: platform_windows.cpp for Windows,
// platform_posix.cpp for Linux and the other POSIX systems. The file operations among them
// are put into the FileOps table by target_file.cpp only; everything else goes through
// g_fileOps.

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

}  // namespace platform
