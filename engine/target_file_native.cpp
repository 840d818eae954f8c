// The native half of the file operations (Linux and the other POSIX systems): descriptors,
// an exclusive lock and a look at the other processes in place of sharing modes, fsync of
// the file and of its folder.
#ifndef _WIN32

#include "target_file_system.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "bounded_text.h"

namespace system_files {

FileFacts Inspect(const char* name) {
    struct stat facts;
    if (stat(name, &facts) != 0) return {errno != ENOENT && errno != ENOTDIR, false, false};
    // No write bit at all is what Windows calls read-only; root could still write it, but the
    // player made it read-only for a reason.
    const bool readOnly = (facts.st_mode & 0222) == 0 || (access(name, W_OK) != 0 && errno == EACCES);
    return {true, S_ISDIR(facts.st_mode), readOnly};
}

static bool IsDecimal(const char* text) {
    if (*text == '\0') return false;
    for (; *text != '\0'; ++text) {
        if (*text < '0' || *text > '9') return false;
    }
    return true;
}

static bool DescriptorsHold(const char* process, dev_t device, ino_t inode) {
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
static bool MapsHold(const char* process, dev_t device, ino_t inode, const char* path) {
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
static bool HeldByAnotherProcess(int descriptor, const char* name) {
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
static bool CommitFolderOf(const char* name) {
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

}  // namespace system_files

OpenReason ReasonOfOpenError(unsigned long error) {
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
}

#endif  // !_WIN32
