#pragma once
// The file operations of the patch job. They go through one table so that tests can make
// any of them fail the way a full disk, a busy file or a short read would, or stop the
// process in the middle of a job.

#include <cstddef>
#include <cstdint>
#include <cstdio>

#include "holder_survey.h"  // the opens consult the survey in effect
#include "open_reasons.h"
#include "patch_job.h"

// A system file handle: a HANDLE on Windows, a file descriptor elsewhere.
using NativeFile = intptr_t;
const NativeFile NO_NATIVE_FILE = -1;

enum OpenDisposition {
    OPEN_EXISTING_ONLY,  // the file must be there
    // A file made by this call, which nothing of that name may precede: an existing file,
    // folder or link (even one leading nowhere) makes it fail, so that nothing is ever
    // written through a name someone else laid down.
    CREATE_NEW_ONLY,
    // The file must be there; opened for reading only, sharing everything, so that a
    // running game, a read-only file and a read-only file system can still be read.
    OPEN_EXISTING_READ,
};

struct FileFacts {
    bool exists;
    bool directory;
    bool readOnly;  // the read-only attribute (Windows); natively the open tells
    bool immutable;  // natively: the immutable or append-only attribute
    bool owned;      // natively: the user's own file, so that its mode is theirs to change
};

// What a name itself is, a link not followed.
enum EntryKind {
    ENTRY_NONE,   // nothing of that name
    ENTRY_FILE,   // a plain file
    ENTRY_LINK,   // a symbolic link (or another reparse point that is no folder)
    ENTRY_OTHER,  // a folder, a device, a pipe, or what cannot be told
};

// Which file a name leads to, links followed: its kind and its identity on the system, so
// that two names of one file (a hard link, a symbolic link) are seen to be one.
struct FileIdentity {
    bool exists;
    bool regular;    // a plain file, possibly reached through a link; not a folder or a device
    uint64_t volume; // st_dev, or the volume serial number
    uint64_t index;  // st_ino, or the file index
    uint64_t size;
};

struct FileOps {
    FileFacts (*inspect)(const char* name);
    // Opens for reading and writing with no sharing at all: while the handle is open no other
    // handle or process can open the file, and the open fails while anyone else has it open.
    // On failure returns NO_NATIVE_FILE and puts the system's error code (GetLastError, or
    // errno) into *error.
    NativeFile (*openNative)(const char* name, OpenDisposition disposition, unsigned long* error);
    void (*closeNative)(NativeFile file);
    // The runtime's descriptor for a system handle (_open_osfhandle); -1 on failure.
    int (*descriptorOf)(NativeFile file);
    void (*closeDescriptor)(int descriptor);
    FILE* (*streamOf)(int descriptor, const char* mode);
    // The file's size in bytes from seeking to its end; false when it cannot be told.
    bool (*tellSize)(FILE* file, uint64_t* size);
    bool (*rewind)(FILE* file);
    size_t (*read)(void* buffer, size_t size, FILE* file);
    size_t (*write)(const void* buffer, size_t size, FILE* file);
    int (*flush)(FILE* file);
    // Forces what the system holds of the file onto the disk (_commit, fsync); 0 on success.
    int (*commit)(FILE* file);
    int (*close)(FILE* file);
    int (*remove)(const char* name);
    // Renames `from` to `to` in one step. With `replace` an existing `to` is replaced; without
    // it the move fails when `to` exists. The move itself is on the disk when it returns.
    bool (*move)(const char* from, const char* to, bool replace);
    void* (*allocate)(size_t size);
    void (*release)(void* buffer);
    FileIdentity (*identify)(const char* name);
    EntryKind (*entryKind)(const char* name);
};

// The operations in use; tests may replace entries and put the defaults back.
extern FileOps g_fileOps;
extern const FileOps DEFAULT_FILE_OPS;

// Whether two identities are one existing file.
bool SameFile(const FileIdentity& a, const FileIdentity& b);

// The reason for a failed openNative, from its error code and what inspect said of the file.
OpenReason ReasonOfOpenError(unsigned long error, const FileFacts& facts);

// The system's error code of the last failed file operation (errno, or GetLastError), and
// a way to clear it first so that a failure that set none is not blamed on an old one.
unsigned long LastSystemError();
void ClearSystemError();
// The system's own words for an error code (strerror, or FormatMessageA with its line end
// cut), and its name for scripts: the errno name ("ENOSPC") or "WIN32_<n>" ("WIN32_112").
void FormatSystemErrorText(unsigned long error, char (&text)[PATCH_TEXT_SIZE]);
void FormatSystemErrorCode(unsigned long error, char (&code)[32]);

// Opens an existing file for update ("r+b") with no sharing, or returns null and says why.
// `reason` may be null.
FILE* OpenForUpdate(const char* name, OpenReason* reason);
// Opens an existing file for reading only, with every sharing (OPEN_EXISTING_READ), or
// returns null and says why. `reason` may be null.
FILE* OpenForReading(const char* name, OpenReason* reason);

// How reading a whole file into memory went.
enum ReadOutcome {
    READ_WHOLE,
    READ_SIZE_UNKNOWN,  // the size could not be told, or the file could not be rewound
    READ_TOO_LARGE,     // 4 GiB or more: images are counted in 32 bits
    READ_NO_MEMORY,
    READ_SHORT,         // fewer bytes came than the size said
};

// Reads the open file from its start into one buffer from g_fileOps.allocate; on
// READ_WHOLE the caller owns *image and releases it with g_fileOps.release. On anything else
// nothing is left allocated.
ReadOutcome ReadWholeFile(FILE* file, uint8_t** image, uint32_t* size);

// Writes the whole block and pushes it to the system, so that a failed or short write,
// including one that only shows when the runtime's buffer is flushed, is noticed.
bool WriteWhole(FILE* file, const void* buffer, size_t size);
// Flushes the stream and forces the file onto the disk.
bool CommitFile(FILE* file);

// Puts `size` bytes under `name` so that `name` is at every moment either what it was or
// the whole new contents: they are written to a new file `name` + ".velmora-tmp" in the same
// folder (made by this call, never through a link), forced to the disk and moved over
// `name`, and the folder is forced to the disk after the move. With `replace` false an
// existing `name` is kept and the call fails. On failure the temporary file is removed and
// `name` is as it was; `systemError` (may be null) then holds the system's error code of the
// step that failed, or 0 when it set none.
bool WriteFileAtomically(const char* name, const void* data, size_t size, bool replace);
bool WriteFileAtomically(const char* name, const void* data, size_t size, bool replace, unsigned long* systemError);

// Removes what a cut-off WriteFileAtomically may have left under `temporary`: a plain file,
// or a link, which is removed itself and never followed. Anything else (a folder) stays.
// True when nothing is left under the name.
bool RemoveTemporary(const char* temporary);

// The temporary file that WriteFileAtomically uses for `name`; false when the name is too
// long for the buffer.
bool TemporaryNameOf(const char* name, char (&out)[PATCH_TEXT_SIZE]);
