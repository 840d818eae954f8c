#include "target_file.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "bounded_text.h"

#include "target_file_system.h"

namespace {

bool Rewind(FILE* file) { return std::fseek(file, 0, SEEK_SET) == 0; }
size_t Read(void* buffer, size_t size, FILE* file) { return std::fread(buffer, 1, size, file); }
size_t Write(const void* buffer, size_t size, FILE* file) { return std::fwrite(buffer, 1, size, file); }
int Flush(FILE* file) { return std::fflush(file); }
int Close(FILE* file) { return std::fclose(file); }
int Remove(const char* name) { return std::remove(name); }
void* Allocate(size_t size) { return std::malloc(size == 0 ? 1 : size); }
void Release(void* buffer) { std::free(buffer); }

FILE* Refused(OpenReason* reason, OpenReason why) {
    if (reason != nullptr) *reason = why;
    return nullptr;
}

FILE* OpenStream(const char* name, OpenDisposition disposition, const char* mode, OpenReason* reason) {
    if (disposition == OPEN_EXISTING_ONLY) {
        const FileFacts facts = g_fileOps.inspect(name);
        if (!facts.exists) return Refused(reason, OPEN_MISSING);
        if (facts.directory) return Refused(reason, OPEN_NOT_A_FILE);
        if (facts.readOnly) return Refused(reason, OPEN_READ_ONLY);
    }
    unsigned long error = 0;
    const NativeFile file = g_fileOps.openNative(name, disposition, &error);
    if (file == NO_NATIVE_FILE) return Refused(reason, ReasonOfOpenError(error));
    const int descriptor = g_fileOps.descriptorOf(file);
    if (descriptor < 0) {
        g_fileOps.closeNative(file);
        return Refused(reason, OPEN_FAILED);
    }
    FILE* stream = g_fileOps.streamOf(descriptor, mode);
    if (stream == nullptr) {
        g_fileOps.closeDescriptor(descriptor);
        return Refused(reason, OPEN_FAILED);
    }
    if (reason != nullptr) *reason = OPEN_OK;
    return stream;
}

}  // namespace

using namespace system_files;
const FileOps DEFAULT_FILE_OPS = {Inspect, OpenNative, CloseNative, DescriptorOf, CloseDescriptor, StreamOf,
                                  TellSize, Rewind,     Read,        Write,        Flush,           Commit,
                                  Close,    Remove,     Move,        Allocate,     Release,
                                  Identify};
FileOps g_fileOps = DEFAULT_FILE_OPS;

const char* OpenReasonText(OpenReason reason) {
    switch (reason) {
    case OPEN_IN_USE: return "in use";
    case OPEN_READ_ONLY: return "read-only";
    case OPEN_ACCESS_DENIED: return "access denied";
    case OPEN_FAILED: return "cannot be opened";
    case OPEN_IMMUTABLE: return "immutable";
    case OPEN_READ_ONLY_FS: return "read-only file system";
    case OPEN_PERMISSION_DENIED: return "permission denied";
    case OPEN_OK:
    case OPEN_MISSING:
    case OPEN_NOT_A_FILE: break;
    }
    return "";
}

const char* OpenReasonHint(OpenReason reason) {
    switch (reason) {
    case OPEN_IN_USE: return "Close the game, then try again.";
    case OPEN_READ_ONLY: return "Clear its read-only attribute.";
    case OPEN_ACCESS_DENIED: return "Run this tool as administrator.";
    case OPEN_OK:
    case OPEN_MISSING:
    case OPEN_NOT_A_FILE:
    case OPEN_FAILED:
    case OPEN_IMMUTABLE:
    case OPEN_READ_ONLY_FS:
    case OPEN_PERMISSION_DENIED: break;
    }
    return "";
}

const char* OpenReasonCode(OpenReason reason) {
    switch (reason) {
    case OPEN_IN_USE: return "in_use";
    case OPEN_READ_ONLY: return "read_only";
    case OPEN_ACCESS_DENIED: return "access_denied";
    case OPEN_FAILED: return "cannot_open";
    case OPEN_IMMUTABLE: return "immutable";
    case OPEN_READ_ONLY_FS: return "read_only_fs";
    case OPEN_PERMISSION_DENIED: return "permission_denied";
    case OPEN_OK:
    case OPEN_MISSING:
    case OPEN_NOT_A_FILE: break;
    }
    return "";
}

bool SameFile(const FileIdentity& a, const FileIdentity& b) {
    return a.exists && b.exists && a.volume == b.volume && a.index == b.index;
}


FILE* OpenForUpdate(const char* name, OpenReason* reason) {
    return OpenStream(name, OPEN_EXISTING_ONLY, "r+b", reason);
}

FILE* CreateForWriting(const char* name, OpenReason* reason) {
    return OpenStream(name, CREATE_OR_TRUNCATE, "wb", reason);
}

ReadOutcome ReadWholeFile(FILE* file, uint8_t** image, uint32_t* size) {
    const uint64_t MAX_IMAGE_SIZE = 0xFFFFFFFFull;
    uint64_t length = 0;
    if (!g_fileOps.tellSize(file, &length) || !g_fileOps.rewind(file)) return READ_SIZE_UNKNOWN;
    if (length > MAX_IMAGE_SIZE) return READ_TOO_LARGE;
    uint8_t* bytes = static_cast<uint8_t*>(g_fileOps.allocate(static_cast<size_t>(length)));
    if (bytes == nullptr) return READ_NO_MEMORY;
    if (g_fileOps.read(bytes, static_cast<size_t>(length), file) != length) {
        g_fileOps.release(bytes);
        return READ_SHORT;
    }
    *image = bytes;
    *size = static_cast<uint32_t>(length);
    return READ_WHOLE;
}

bool WriteWhole(FILE* file, const void* buffer, size_t size) {
    if (g_fileOps.write(buffer, size, file) != size) return false;
    if (g_fileOps.flush(file) != 0) return false;
    return !std::ferror(file);
}

bool CommitFile(FILE* file) { return g_fileOps.flush(file) == 0 && g_fileOps.commit(file) == 0; }

bool TemporaryNameOf(const char* name, char (&out)[PATCH_TEXT_SIZE]) {
    return strcpy_s(out, name) == 0 && strcat_s(out, ".tmp") == 0;
}

bool RemoveTemporary(const char* temporary) {
    // Only a file: a folder that happens to have the name is the player's, not ours.
    const FileFacts facts = g_fileOps.inspect(temporary);
    return facts.exists && !facts.directory && g_fileOps.remove(temporary) == 0;
}

bool WriteFileAtomically(const char* name, const void* data, size_t size, bool replace) {
    char temporary[PATCH_TEXT_SIZE];
    if (!TemporaryNameOf(name, temporary)) return false;
    FILE* file = CreateForWriting(temporary, nullptr);
    bool written = file != nullptr && WriteWhole(file, data, size) && CommitFile(file);
    if (file != nullptr) written = (g_fileOps.close(file) == 0) && written;
    written = written && g_fileOps.move(temporary, name, replace);
    if (!written) RemoveTemporary(temporary);
    return written;
}
