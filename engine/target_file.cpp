#include "target_file.h"

#include <cerrno>
#include <cstdlib>

#include "bounded_text.h"
#include "image_buffer.h"

#ifdef _WIN32
#include <windows.h>
#include <fcntl.h>
#include <io.h>
#else
#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <climits>
#include <cstring>
#endif

namespace {

#ifdef _WIN32

FileFacts Inspect(const char* name) {
    const DWORD attributes = GetFileAttributesA(name);
    if (attributes == INVALID_FILE_ATTRIBUTES) {
        const DWORD error = GetLastError();
        const bool absent = error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND;
        return {!absent, false, false};
    }
    // Asked explicitly: Wine running as root opens read-only files for writing.
    return {true, (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0, (attributes & FILE_ATTRIBUTE_READONLY) != 0};
}

NativeFile OpenNative(const char* name, OpenDisposition disposition, unsigned long* error) {
    const DWORD creation = disposition == OPEN_EXISTING_ONLY ? OPEN_EXISTING : CREATE_ALWAYS;
    HANDLE file = CreateFileA(name, GENERIC_READ | GENERIC_WRITE, 0, nullptr, creation, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        *error = GetLastError();
        return NO_NATIVE_FILE;
    }
    return reinterpret_cast<NativeFile>(file);
}

void CloseNative(NativeFile file) { CloseHandle(reinterpret_cast<HANDLE>(file)); }
int DescriptorOf(NativeFile file) { return _open_osfhandle(file, 0); }
void CloseDescriptor(int descriptor) { _close(descriptor); }
FILE* StreamOf(int descriptor, const char* mode) { return _fdopen(descriptor, mode); }
int Commit(FILE* file) { return _commit(_fileno(file)); }

bool Move(const char* from, const char* to, bool replace) {
    const DWORD flags = (replace ? MOVEFILE_REPLACE_EXISTING : 0) | MOVEFILE_WRITE_THROUGH;
    return MoveFileExA(from, to, flags) != 0;
}

FileIdentity Identify(const char* name) {
    FileIdentity identity = {};
    // No access asked for: this must work while the job holds the file with no sharing.
    HANDLE file = CreateFileA(name, 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                              OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        const DWORD error = GetLastError();
        identity.exists = error != ERROR_FILE_NOT_FOUND && error != ERROR_PATH_NOT_FOUND;
        return identity;
    }
    BY_HANDLE_FILE_INFORMATION facts;
    if (GetFileInformationByHandle(file, &facts)) {
        identity.exists = true;
        identity.regular = (facts.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0 && GetFileType(file) == FILE_TYPE_DISK;
        identity.volume = facts.dwVolumeSerialNumber;
        identity.index = (static_cast<uint64_t>(facts.nFileIndexHigh) << 32) | facts.nFileIndexLow;
        identity.size = (static_cast<uint64_t>(facts.nFileSizeHigh) << 32) | facts.nFileSizeLow;
    } else {
        identity.exists = true;  // there, but nothing can be told of it: not a file to rely on
    }
    CloseHandle(file);
    return identity;
}

bool TellSize(FILE* file, uint64_t* size) {
    // 64-bit positions: a plain ftell fails past 2 GiB in the 32-bit program.
    if (_fseeki64(file, 0, SEEK_END) != 0) return false;
    const long long end = _ftelli64(file);
    if (end < 0) return false;
    *size = static_cast<uint64_t>(end);
    return true;
}

#else

FileFacts Inspect(const char* name) {
    struct stat facts;
    if (stat(name, &facts) != 0) return {errno != ENOENT && errno != ENOTDIR, false, false};
    // No write bit at all is what Windows calls read-only; root could still write it, but the
    // player made it read-only for a reason.
    const bool readOnly = (facts.st_mode & 0222) == 0 || (access(name, W_OK) != 0 && errno == EACCES);
    return {true, S_ISDIR(facts.st_mode), readOnly};
}

bool IsDecimal(const char* text) {
    if (*text == '\0') return false;
    for (; *text != '\0'; ++text) {
        if (*text < '0' || *text > '9') return false;
    }
    return true;
}

bool DescriptorsHold(const char* process, dev_t device, ino_t inode) {
    char folder[64];
    if (sprintf_s(folder, "/proc/%s/fd", process) < 0) return false;
    DIR* descriptors = opendir(folder);
    if (descriptors == nullptr) return false;
    bool held = false;
    while (const dirent* entry = readdir(descriptors)) {
        if (!IsDecimal(entry->d_name)) continue;
        char link[sizeof folder + sizeof entry->d_name + 1];
        struct stat facts;
        if (sprintf_s(link, "%s/%s", folder, entry->d_name) > 0 && stat(link, &facts) == 0 && facts.st_dev == device && facts.st_ino == inode) {
            held = true;
            break;
        }
    }
    closedir(descriptors);
    return held;
}

// Some file systems (overlays) show another device number in the maps than stat gives, so
// a mapping also counts when its inode and its path are those of the file.
bool MapsHold(const char* process, dev_t device, ino_t inode, const char* path) {
    char name[64];
    if (sprintf_s(name, "/proc/%s/maps", process) < 0) return false;
    FILE* maps = std::fopen(name, "r");
    if (maps == nullptr) return false;
    bool held = false;
    char line[PATH_MAX + 128];
    while (!held && std::fgets(line, sizeof line, maps) != nullptr) {
        unsigned major = 0, minor = 0;
        unsigned long long mappedInode = 0;
        int pathAt = 0;
        if (std::sscanf(line, "%*s %*s %*s %x:%x %llu %n", &major, &minor, &mappedInode, &pathAt) < 3) continue;
        if (mappedInode != static_cast<unsigned long long>(inode) || mappedInode == 0) continue;
        char* mappedPath = line + pathAt;
        mappedPath[strcspn(mappedPath, "\n")] = '\0';
        held = makedev(major, minor) == device || std::strcmp(mappedPath, path) == 0;
    }
    std::fclose(maps);
    return held;
}

// Linux has no sharing modes: a running game (also one under Wine or Proton) does not lock
// its executable. What shows that it is in use is that another process has it open or
// mapped, as fuser would see it.
bool HeldByAnotherProcess(int descriptor, const char* name) {
    struct stat facts;
    if (fstat(descriptor, &facts) != 0) return false;
    char path[PATH_MAX];
    if (realpath(name, path) == nullptr) path[0] = '\0';
    char self[32];
    sprintf_s(self, "%ld", static_cast<long>(getpid()));
    DIR* processes = opendir("/proc");
    if (processes == nullptr) return false;
    bool held = false;
    while (!held) {
        const dirent* entry = readdir(processes);
        if (entry == nullptr) break;
        if (!IsDecimal(entry->d_name) || std::strcmp(entry->d_name, self) == 0) continue;
        held = DescriptorsHold(entry->d_name, facts.st_dev, facts.st_ino) ||
               MapsHold(entry->d_name, facts.st_dev, facts.st_ino, path);
    }
    closedir(processes);
    return held;
}

NativeFile OpenNative(const char* name, OpenDisposition disposition, unsigned long* error) {
    const int flags = O_RDWR | O_CLOEXEC | (disposition == CREATE_OR_TRUNCATE ? O_CREAT | O_TRUNC : 0);
    const int descriptor = open(name, flags, 0666);
    if (descriptor < 0) {
        *error = static_cast<unsigned long>(errno);
        return NO_NATIVE_FILE;
    }
    int refusal = 0;
    if (flock(descriptor, LOCK_EX | LOCK_NB) != 0) {
        refusal = errno;
    } else if (disposition == OPEN_EXISTING_ONLY && HeldByAnotherProcess(descriptor, name)) {
        refusal = EBUSY;
    }
    if (refusal != 0) {
        close(descriptor);
        *error = static_cast<unsigned long>(refusal);
        return NO_NATIVE_FILE;
    }
    return descriptor;
}

void CloseNative(NativeFile file) { close(static_cast<int>(file)); }
int DescriptorOf(NativeFile file) { return static_cast<int>(file); }
void CloseDescriptor(int descriptor) { close(descriptor); }
FILE* StreamOf(int descriptor, const char* mode) { return fdopen(descriptor, mode); }
int Commit(FILE* file) { return fsync(fileno(file)); }

// The folder's own entry must reach the disk too, or a crash can undo the rename.
bool CommitFolderOf(const char* name) {
    char folder[PATCH_TEXT_SIZE];
    if (strcpy_s(folder, name) != 0) return false;
    if (char* slash = std::strrchr(folder, '/')) {
        slash[slash == folder ? 1 : 0] = '\0';  // "/x" lies in "/"
    } else {
        strcpy_s(folder, ".");
    }
    const int descriptor = open(folder, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (descriptor < 0) return false;
    const bool committed = fsync(descriptor) == 0 || errno == EINVAL;  // some file systems cannot
    close(descriptor);
    return committed;
}

bool Move(const char* from, const char* to, bool replace) {
    if (replace) {
        if (rename(from, to) != 0) return false;
    } else if (renameat2(AT_FDCWD, from, AT_FDCWD, to, RENAME_NOREPLACE) != 0) {
        // File systems without it (FAT on a memory card, for one) get a look first; no one
        // else writes these names while the job holds the target.
        if (errno != EINVAL && errno != ENOSYS) return false;
        if (access(to, F_OK) == 0 || rename(from, to) != 0) return false;
    }
    return CommitFolderOf(to);
}

FileIdentity Identify(const char* name) {
    FileIdentity identity = {};
    struct stat facts;
    if (stat(name, &facts) != 0) {
        identity.exists = errno != ENOENT && errno != ENOTDIR;
        return identity;
    }
    identity.exists = true;
    identity.regular = S_ISREG(facts.st_mode);
    identity.volume = static_cast<uint64_t>(facts.st_dev);
    identity.index = static_cast<uint64_t>(facts.st_ino);
    identity.size = static_cast<uint64_t>(facts.st_size);
    return identity;
}

bool TellSize(FILE* file, uint64_t* size) {
    if (fseeko(file, 0, SEEK_END) != 0) return false;
    const long long end = ftello(file);
    if (end < 0) return false;
    *size = static_cast<uint64_t>(end);
    return true;
}

#endif

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

OpenReason ReasonOfOpenError(unsigned long error) {
#ifdef _WIN32
    switch (error) {
    case ERROR_SHARING_VIOLATION:
    case ERROR_LOCK_VIOLATION: return OPEN_IN_USE;
    case ERROR_WRITE_PROTECT: return OPEN_READ_ONLY;
    case ERROR_ACCESS_DENIED: return OPEN_ACCESS_DENIED;
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND: return OPEN_MISSING;
    default: return OPEN_FAILED;
    }
#else
    switch (error) {
    case EWOULDBLOCK:
    case EBUSY:
    case ETXTBSY: return OPEN_IN_USE;
    case EROFS: return OPEN_READ_ONLY;
    case EACCES:
    case EPERM: return OPEN_ACCESS_DENIED;
    case ENOENT:
    case ENOTDIR: return OPEN_MISSING;
    case EISDIR: return OPEN_NOT_A_FILE;
    default: return OPEN_FAILED;
    }
#endif
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
