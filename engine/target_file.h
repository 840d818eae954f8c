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
    bool special;    // neither a plain file nor a folder: a device, a pipe, a socket
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
    uint32_t links;  // its names in all: st_nlink, or nNumberOfLinks
};

// What a folder's listing says of one of its entries, before anyone looks at the entry itself.
enum ListedKind {
    LISTED_FOLDER,
    LISTED_LINK,     // a symbolic link, which may lead to a folder
    LISTED_UNKNOWN,  // the listing does not tell (DT_UNKNOWN: some file systems never do)
    LISTED_OTHER,    // a file, a device, or a link that is not to be followed (Windows)
};
using ListedEntryFn = void (*)(const char* name, ListedKind kind, void* context);
// What a file that replaces another is given of it before it takes its name, as cp
// --preserve=all gives: natively the owner, the group, the mode, and every extended
// attribute as it is (the ACLs among them, so that no ACL mask turns into group bits); on
// Windows its attributes and its security descriptor. Made from the old file's descriptor,
// given through the new one's: never by name, which a link swapped in could lead elsewhere.
struct KeptAttributes;

// Where a run in the current folder stands against other runs in it.
enum FolderHoldState {
    FOLDER_HELD,         // this run holds the folder
    FOLDER_BUSY,         // another run holds it
    FOLDER_UNLOCKABLE,   // the system cannot lock it (some network file systems): run unheld
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
    // it the move fails when `to` exists. On Windows the move is on the disk when it returns;
    // natively the folder is committed after it (openFolderOf, commitFolder).
    bool (*move)(const char* from, const char* to, bool replace);
    void* (*allocate)(size_t size);
    void (*release)(void* buffer);
    FileIdentity (*identify)(const char* name);
    EntryKind (*entryKind)(const char* name);
    // Writes or reads `size` bytes at `offset` of the file, past the stream's buffer and
    // without moving its position (pwrite and pread, or SetFilePointer with WriteFile and
    // ReadFile); false unless all of them went.
    bool (*writeAt)(FILE* file, uint64_t offset, const void* data, size_t size);
    bool (*readAt)(FILE* file, uint64_t offset, void* data, size_t size);
    // The copy the file system makes itself, from `source` into the empty `destination`:
    // `clone` shares the source's extents (FICLONE) and writes nothing or all of it;
    // `copyRange` copies from `*copied` on in the kernel (copy_file_range), moving *copied,
    // and may stop part-way. Both false where the file system or the system cannot (always
    // on Windows), with the error code in *error.
    bool (*clone)(FILE* destination, FILE* source, unsigned long* error);
    bool (*copyRange)(FILE* destination, FILE* source, uint64_t size, uint64_t* copied, unsigned long* error);
    // Calls `each` for every entry of `folder` but "." and ".."; false when it cannot be listed.
    bool (*listFolder)(const char* folder, ListedEntryFn each, void* context);
    // The file that an open stream has, whatever name it has now.
    FileIdentity (*identifyOpen)(FILE* file);
    // Opens the folder that `name` lies in, so that a move into it can be forced onto the
    // disk afterwards without naming anything again; NO_NATIVE_FILE where the moves are on
    // the disk by themselves (Windows) or the folder cannot be opened.
    NativeFile (*openFolderOf)(const char* name);
    // Forces the folder's entries onto the disk; 0 on success.
    int (*commitFolder)(NativeFile folder);
    // Tries once to take the current folder for this run; *hold is then the hold to release.
    FolderHoldState (*holdFolder)(NativeFile* hold);
    void (*releaseFolder)(NativeFile hold);
    void (*pause)(unsigned milliseconds);
    // Null when nothing can be read of the file's attributes.
    KeptAttributes* (*readAttributes)(FILE* file);
    // Gives the attributes to the open new file `file`, named `name` until its move. What
    // could not be given is put into `notKept` ("the owner (user 0)", ...), comma-separated;
    // empty when everything was.
    void (*giveAttributes)(const KeptAttributes* attributes, FILE* file, const char* name,
                           char (&notKept)[PATCH_TEXT_SIZE]);
    void (*freeAttributes)(KeptAttributes* attributes);
    // The name of the file that `name` really is, links followed (natively the full path);
    // false when it cannot be told or does not fit.
    bool (*realName)(const char* name, char (&real)[PATCH_TEXT_SIZE]);
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

// How a copy's bytes were put into its file.
enum CopyMethod {
    COPY_NOT_MADE,
    COPY_SHARED,     // the file system shares the source's extents (a reflink)
    COPY_IN_KERNEL,  // copied by the kernel from the source (copy_file_range)
    COPY_FROM_MEMORY,
};
const char* CopyMethodCode(CopyMethod method);  // "shared", "in_kernel", "from_memory"; "" for none

// Puts the `size` bytes of `data` into the empty, just made `destination`. Where `source`
// (may be null) is an open file that holds the same bytes, the file system is asked to make
// the copy from it: shared extents first, then a copy in the kernel, and where neither is
// to be had (or the kernel's copy stopped part-way), the rest from `data`. The caller
// commits the file. `method` (may be null) tells which way went.
bool CopyInto(FILE* destination, FILE* source, const void* data, size_t size, CopyMethod* method);

// How a copy or a replacement went. A move that happened is done, whether or not its
// folder then reached the disk: the file under the name is the new one.
enum WriteOutcome {
    WRITE_FAILED,    // `name` is as it was
    WRITE_DONE,      // `name` holds the new contents, on the disk
    WRITE_NOT_SAFE,  // `name` holds the new contents, but the folder could not be forced to the disk
    WRITE_STOPPED,   // a stop was asked for (see StopRequested) before the move: `name` is as it was
};

struct AtomicWrite {
    // In: with false an existing `name` is kept and the call fails.
    bool replace = true;
    // In: given to the new file before the move, when not null.
    const KeptAttributes* attributes = nullptr;
    // In: an open file holding the same bytes, that the copy is made from where the file
    // system can (see CopyInto); may be null.
    FILE* source = nullptr;
    // Out: how the bytes were put into the new file.
    CopyMethod method = COPY_NOT_MADE;
    // Out: the system's error code of the step that failed (or of the folder's commit, on
    // WRITE_NOT_SAFE), or 0 when it set none; and what of the attributes was not kept.
    unsigned long systemError = 0;
    char notKept[PATCH_TEXT_SIZE] = {};
};

// Puts `size` bytes under `name` so that `name` is at every moment either what it was or
// the whole new contents: they are written to a new file `name` + ".velmora-tmp" in the same
// folder (made by this call, never through a link), given the attributes, forced to the disk
// and moved over `name`, and the folder is forced to the disk after the move through a
// descriptor opened before it, so that nothing is named after the move. On WRITE_FAILED and
// WRITE_STOPPED the temporary file is removed and `name` is as it was. This is the one
// primitive every copy goes through.
WriteOutcome WriteFileAtomically(const char* name, const void* data, size_t size, AtomicWrite* how);
// The same with the system's error code of a failed step only (may be null); true only on
// WRITE_DONE.
bool WriteFileAtomically(const char* name, const void* data, size_t size, bool replace, unsigned long* systemError = nullptr);

// A run that changes files holds the current folder from its first read to its last move,
// so that two runs never work on one game at once. Take waits up to FOLDER_WAIT_MS for
// another run to let go, calling g_onFolderWait once when it has to wait; it returns false
// when the other run still holds it. The hold ends with the object.
enum { FOLDER_WAIT_MS = 10000 };
class FolderHold {
public:
    FolderHold() = default;
    ~FolderHold();
    FolderHold(const FolderHold&) = delete;
    FolderHold& operator=(const FolderHold&) = delete;
    bool Take();

private:
    NativeFile hold_ = NO_NATIVE_FILE;
    bool held_ = false;
};
// Told when a run has to wait for another; null: nothing is told. The console sets it.
extern void (*g_onFolderWait)();
extern const char FOLDER_BUSY_TEXT[];  // "another velmora-patch is working in this folder"

// Ctrl-C, a closed console, SIGINT, SIGTERM and SIGHUP ask a run to stop: the step under way
// is finished or undone, and no further one begins. CatchStopSignals installs that (the
// console does; the window has no such signals); StopRequested tells whether one came,
// StopSignalName which ("SIGINT", "Ctrl-C"), and StopExitCode the exit code to end with
// (130, or the code of a Ctrl-C on Windows).
void CatchStopSignals();
bool StopRequested();
const char* StopSignalName();
int StopExitCode();
// For tests and for the stop handlers themselves.
void RequestStop(int signal);
void ClearStopRequest();
// Windows: the console's stop handler waits for the run to end before the process goes.
void MarkRunEnded();

// Natively: whether a process of another user could have the file open at all, so that
// processes of other users that could not be looked at matter: a file of another owner, or
// one that others may read along a path that others may walk. Always true on Windows.
bool OthersMayOpen(const char* name);

// Removes what a cut-off WriteFileAtomically may have left under `temporary`: a plain file,
// or a link, which is removed itself and never followed. Anything else (a folder) stays.
// True when nothing is left under the name.
bool RemoveTemporary(const char* temporary);

// The temporary file that WriteFileAtomically uses for `name`; false when the name is too
// long for the buffer.
bool TemporaryNameOf(const char* name, char (&out)[PATCH_TEXT_SIZE]);
