#include "target_file.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "bounded_text.h"
#include "image_buffer.h"

#include "platform.h"

namespace {

bool Rewind(FILE* file) { return std::fseek(file, 0, SEEK_SET) == 0; }
size_t Read(void* buffer, size_t size, FILE* file) { return std::fread(buffer, 1, size, file); }
size_t Write(const void* buffer, size_t size, FILE* file) { return std::fwrite(buffer, 1, size, file); }
int Flush(FILE* file) { return std::fflush(file); }
int Close(FILE* file) { return std::fclose(file); }
int Remove(const char* name) { return std::remove(name); }
void* Allocate(size_t size) { return AllocateImageBuffer(size); }
void Release(void* buffer) { ReleaseImageBuffer(buffer); }

FILE* Refused(OpenReason* reason, OpenReason why) {
    if (reason != nullptr) *reason = why;
    return nullptr;
}

// `opened` (may be null) tells whether the system's open itself went through, so that a
// file this call made is known to be the caller's even when the stream failed.
FILE* OpenStream(const char* name, OpenDisposition disposition, const char* mode, OpenReason* reason,
                 unsigned long* systemError = nullptr, bool* opened = nullptr) {
    FileFacts facts = {};
    if (disposition != CREATE_NEW_ONLY) {
        facts = g_fileOps.inspect(name);
        if (!facts.exists) return Refused(reason, OPEN_MISSING);
        if (facts.directory) return Refused(reason, OPEN_NOT_A_FILE);
        if (facts.readOnly && disposition == OPEN_EXISTING_ONLY) return Refused(reason, OPEN_READ_ONLY);
    }
    unsigned long error = 0;
    const NativeFile file = g_fileOps.openNative(name, disposition, &error);
    if (file == NO_NATIVE_FILE) {
        if (systemError != nullptr) *systemError = error;
        return Refused(reason, ReasonOfOpenError(error, facts));
    }
    if (opened != nullptr) *opened = true;
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

using namespace platform;
const FileOps DEFAULT_FILE_OPS = {Inspect, OpenNative, CloseNative, DescriptorOf, CloseDescriptor, StreamOf,
                                  TellSize, Rewind,     Read,        Write,        Flush,           Commit,
                                  Close,    Remove,     Move,        Allocate,     Release,
                                  Identify, EntryKindOf};
FileOps g_fileOps = DEFAULT_FILE_OPS;

bool SameFile(const FileIdentity& a, const FileIdentity& b) {
    return a.exists && b.exists && a.volume == b.volume && a.index == b.index;
}


FILE* OpenForUpdate(const char* name, OpenReason* reason) {
    return OpenStream(name, OPEN_EXISTING_ONLY, "r+b", reason);
}

FILE* OpenForReading(const char* name, OpenReason* reason) {
    return OpenStream(name, OPEN_EXISTING_READ, "rb", reason);
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
    // A name of the tool's own: a player's ".tmp" file beside the game is theirs.
    return strcpy_s(out, name) == 0 && strcat_s(out, ".velmora-tmp") == 0;
}

bool RemoveTemporary(const char* temporary) {
    switch (g_fileOps.entryKind(temporary)) {
    case ENTRY_NONE: return true;
    case ENTRY_FILE:
    case ENTRY_LINK: return g_fileOps.remove(temporary) == 0;  // a link goes, not what it leads to
    case ENTRY_OTHER: break;  // a folder of that name is the player's, not ours
    }
    return false;
}

namespace {

// The step failed: keep the system's reason, unless an earlier one was kept already.
bool Failed(unsigned long* systemError) {
    if (*systemError == 0) *systemError = LastSystemError();
    return false;
}

}  // namespace

bool WriteFileAtomically(const char* name, const void* data, size_t size, bool replace, unsigned long* systemError) {
    unsigned long ownError = 0;
    unsigned long& error = systemError != nullptr ? *systemError : ownError;
    error = 0;
    char temporary[PATCH_TEXT_SIZE];
    if (!TemporaryNameOf(name, temporary)) return false;
    ClearSystemError();
    bool made = false;
    FILE* file = OpenStream(temporary, CREATE_NEW_ONLY, "wb", nullptr, &error, &made);
    if (file == nullptr) {
        if (error == 0) error = LastSystemError();
        // What is under the name when the exclusive create failed is not ours to remove.
        if (made) RemoveTemporary(temporary);
        return false;
    }
    ClearSystemError();
    bool written = WriteWhole(file, data, size) || Failed(&error);
    ClearSystemError();
    written = written && (CommitFile(file) || Failed(&error));
    ClearSystemError();
    written = (g_fileOps.close(file) == 0 || Failed(&error)) && written;
    ClearSystemError();
    written = written && (g_fileOps.move(temporary, name, replace) || Failed(&error));
    if (!written) RemoveTemporary(temporary);
    return written;
}

bool WriteFileAtomically(const char* name, const void* data, size_t size, bool replace) {
    return WriteFileAtomically(name, data, size, replace, nullptr);
}
