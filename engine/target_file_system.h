#pragma once
// The half of the file operations that each system does its own way, behind the FileOps
// table: target_file_windows.cpp for Windows, target_file_native.cpp for Linux and the other
// POSIX systems. Only target_file.cpp puts them into the table; everything else goes
// through g_fileOps.

#include "target_file.h"

namespace system_files {

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
const char* ReadOnlyHint();

}  // namespace system_files
