#pragma once
// The file operations of the patch job. They go through one table so that tests can make
// any of them fail the way a full disk, a busy file or a short read would.

#include <cstddef>
#include <cstdint>
#include <cstdio>

// Why a file could not be opened for update with no sharing.
enum OpenReason {
    OPEN_OK,
    OPEN_MISSING,        // no such name
    OPEN_NOT_A_FILE,     // a folder of that name
    OPEN_IN_USE,         // another program holds it: the game, most likely
    OPEN_READ_ONLY,      // the read-only attribute, or no write permission at all
    OPEN_ACCESS_DENIED,  // any other refusal of write access
    OPEN_FAILED,         // anything else
};

// "in use", "read-only", "access denied", "cannot be opened"; empty for OPEN_OK, and for
// OPEN_MISSING and OPEN_NOT_A_FILE, which the player is not told about.
const char* OpenReasonText(OpenReason reason);
// What the player can do about it, or empty when there is nothing to say.
const char* OpenReasonHint(OpenReason reason);

struct FileOps {
    // Opens with no sharing at all: while the stream is open no other handle or process
    // can open the file, and an open fails while anyone else has it open.
    FILE* (*openExclusive)(const char* name, const char* mode);
    // The file's size in bytes from seeking to its end; false when it cannot be told.
    bool (*tellSize)(FILE* file, uint64_t* size);
    bool (*rewind)(FILE* file);
    size_t (*read)(void* buffer, size_t size, FILE* file);
    size_t (*write)(const void* buffer, size_t size, FILE* file);
    int (*flush)(FILE* file);
    int (*close)(FILE* file);
    int (*remove)(const char* name);
    void* (*allocate)(size_t size);
    void (*release)(void* buffer);
};

// The operations in use; tests may replace entries and put the defaults back.
extern FileOps g_fileOps;
extern const FileOps DEFAULT_FILE_OPS;

// Writes the whole block and pushes it to the system, so that a failed or short write,
// including one that only shows when the runtime's buffer is flushed, is noticed.
bool WriteWhole(FILE* file, const void* buffer, size_t size);
