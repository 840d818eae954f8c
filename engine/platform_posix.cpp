// The native half of the file operations (Linux and the other POSIX systems): descriptors,
// an exclusive lock and a look at the other processes in place of sharing modes, fsync of
// the file and of its folder.
#ifndef _WIN32

#include "platform.h"
#include "utf8_text.h"

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/xattr.h>
#include <time.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <sys/sysmacros.h>
#include <unistd.h>
#ifdef __linux__
#include <linux/fs.h>
#endif

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "bounded_text.h"

namespace {

// The immutable or append-only attribute: no one, root included, may write the file.
bool HasUnwritableAttribute(const char* name) {
#if defined(__linux__) && defined(FS_IOC_GETFLAGS)
    const int descriptor = open(name, O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (descriptor < 0) return false;
    int flags = 0;
    const bool unwritable = ioctl(descriptor, FS_IOC_GETFLAGS, &flags) == 0 && (flags & (FS_IMMUTABLE_FL | FS_APPEND_FL)) != 0;
    close(descriptor);
    return unwritable;
#else
    (void)name;
    return false;
#endif
}

bool IsDecimal(const char* text) {
    if (*text == '\0') return false;
    for (; *text != '\0'; ++text) {
        if (*text < '0' || *text > '9') return false;
    }
    return true;
}

// A process that ended meanwhile holds nothing; one whose folders are refused is unknown.
bool Refused(int error) { return error == EACCES || error == EPERM; }

using File = HolderSurvey::File;

// Marks the files that the process has open. False when its descriptors cannot be looked
// at (another user's process); a process that ended meanwhile holds nothing.
bool MarkDescriptors(const char* process, File* files, int count) {
    char folder[64];
    if (sprintf_s(folder, "/proc/%s/fd", process) < 0) return false;
    DIR* descriptors = opendir(folder);
    if (descriptors == nullptr) return !Refused(errno);
    while (const dirent* entry = readdir(descriptors)) {
        if (!IsDecimal(entry->d_name)) continue;
        char link[sizeof folder + sizeof entry->d_name + 1];
        struct stat facts;
        if (sprintf_s(link, "%s/%s", folder, entry->d_name) <= 0 || stat(link, &facts) != 0) continue;
        for (int i = 0; i < count; ++i) {
            if (facts.st_dev == files[i].volume && facts.st_ino == files[i].index) files[i].held = true;
        }
    }
    closedir(descriptors);
    return true;
}

// Marks the files that the process has mapped (a running program's own executable, for one).
// Some file systems (overlays) show another device number in the maps than stat gives, so
// a mapping also counts when its inode and its path are those of the file.
bool MarkMappings(const char* process, File* files, int count) {
    char name[64];
    if (sprintf_s(name, "/proc/%s/maps", process) < 0) return false;
    FILE* maps = std::fopen(name, "r");
    if (maps == nullptr) return !Refused(errno);
    char line[PATH_MAX + 128];
    errno = 0;
    while (std::fgets(line, sizeof line, maps) != nullptr) {
        unsigned major = 0, minor = 0;
        unsigned long long mappedInode = 0;
        int pathAt = 0;
        if (std::sscanf(line, "%*s %*s %*s %x:%x %llu %n", &major, &minor, &mappedInode, &pathAt) < 3) continue;
        if (mappedInode == 0) continue;
        char* mappedPath = line + pathAt;
        mappedPath[strcspn(mappedPath, "\n")] = '\0';
        for (int i = 0; i < count; ++i) {
            if (mappedInode != files[i].index) continue;
            if (makedev(major, minor) == files[i].volume || std::strcmp(mappedPath, files[i].path) == 0) files[i].held = true;
        }
    }
    // Reading another user's maps is refused at the first read, not at the open.
    const bool readable = !std::ferror(maps) || !Refused(errno);
    std::fclose(maps);
    return readable;
}

// A kernel thread maps and opens no file of a user's; its folders are root's alone, so it
// must not count as a process that could not be checked.
bool IsKernelThread(const char* process) {
    char name[64];
    if (sprintf_s(name, "/proc/%s/stat", process) < 0) return false;
    FILE* stat = std::fopen(name, "r");
    if (stat == nullptr) return false;
    char line[1024];
    const bool read = std::fgets(line, sizeof line, stat) != nullptr;
    std::fclose(stat);
    if (!read) return false;
    const char* afterName = std::strrchr(line, ')');
    unsigned long flags = 0;
    if (afterName == nullptr || std::sscanf(afterName + 1, " %*c %*d %*d %*d %*d %*d %lu", &flags) != 1) return false;
    const unsigned long KERNEL_THREAD = 0x00200000;  // PF_KTHREAD
    return (flags & KERNEL_THREAD) != 0;
}

// The player is told of the processes that the system keeps from other users. One of the
// user's own that cannot be looked at (one that made itself undumpable) is not counted.
bool OfAnotherUser(const char* process) {
    char name[64];
    struct stat facts;
    return sprintf_s(name, "/proc/%s", process) > 0 && stat(name, &facts) == 0 && facts.st_uid != geteuid();
}

// The one walk over the processes. The tool's own process is told by /proc/self, which
// names it as this /proc knows it: in a PID namespace without a /proc of its own, getpid()
// gives another number than the folder under which this process shows. Returns the number
// of processes that could not be looked at, or -1 when /proc cannot be read.
int WalkProcesses(File* files, int count) {
    char self[32] = {};
    const ssize_t selfLength = readlink("/proc/self", self, sizeof self - 1);
    if (selfLength <= 0) return -1;
    self[selfLength] = '\0';
    DIR* processes = opendir("/proc");
    if (processes == nullptr) return -1;
    int unchecked = 0;
    while (const dirent* entry = readdir(processes)) {
        if (!IsDecimal(entry->d_name) || std::strcmp(entry->d_name, self) == 0) continue;
        const bool descriptors = MarkDescriptors(entry->d_name, files, count);
        const bool mappings = MarkMappings(entry->d_name, files, count);
        if ((!descriptors || !mappings) && OfAnotherUser(entry->d_name) && !IsKernelThread(entry->d_name)) ++unchecked;
    }
    closedir(processes);
    return unchecked;
}

bool FillFile(const struct stat& facts, const char* name, File* file) {
    file->volume = static_cast<uint64_t>(facts.st_dev);
    file->index = static_cast<uint64_t>(facts.st_ino);
    file->held = false;
    char path[PATH_MAX];
    if (realpath(name, path) == nullptr || strcpy_s(file->path, path) != 0) file->path[0] = '\0';
    return true;
}

// Whether a process other than this one has the file open or mapped, as fuser would see it:
// from the survey when it covers the file, else from a look of its own.
bool HeldByAnotherProcess(const struct stat& facts, const char* name) {
    File file = {};
    FillFile(facts, name, &file);
    if (const HolderSurvey* survey = CurrentHolderSurvey()) {
        bool covered = false;
        const bool held = survey->Holds(file.volume, file.index, &covered);
        if (covered) return held;
    }
    WalkProcesses(&file, 1);
    return file.held;
}

bool HeldByAnotherProcess(const char* name) {
    struct stat facts;
    return stat(name, &facts) == 0 && HeldByAnotherProcess(facts, name);
}

}  // namespace

namespace platform {

bool SurveyedFile(const char* name, HolderSurvey::File* file) {
    struct stat facts;
    return stat(name, &facts) == 0 && S_ISREG(facts.st_mode) && FillFile(facts, name, file);
}

int MarkHolders(HolderSurvey::File* files, int count) { return WalkProcesses(files, count); }

FileFacts Inspect(const char* name) {
    struct stat facts;
    if (stat(name, &facts) != 0) return {errno != ENOENT && errno != ENOTDIR, false, false, false, false, false};
    // Whether the file may be written is left to the open, which tells why not in the
    // system's own terms.
    const bool regular = S_ISREG(facts.st_mode);
    const bool owned = facts.st_uid == geteuid() || geteuid() == 0;
    return {true, S_ISDIR(facts.st_mode), false, regular && HasUnwritableAttribute(name), owned,
            !regular && !S_ISDIR(facts.st_mode)};
}

NativeFile OpenNative(const char* name, OpenDisposition disposition, unsigned long* error) {
    if (disposition == OPEN_EXISTING_READ) {
        // Reading takes no lock and asks no one: a running game is read as it is.
        const int descriptor = open(name, O_RDONLY | O_CLOEXEC);
        if (descriptor < 0) *error = static_cast<unsigned long>(errno);
        return descriptor < 0 ? NO_NATIVE_FILE : descriptor;
    }
    // A new file is made by this call or not at all: never through a link, never over a
    // file that someone else put there.
    const int flags = O_RDWR | O_CLOEXEC | (disposition == CREATE_NEW_ONLY ? O_CREAT | O_EXCL | O_NOFOLLOW : 0);
    const int descriptor = open(name, flags, 0666);
    if (descriptor < 0) {
        int refusal = errno;
        // A running game is named as such even where its file could not be written anyway.
        const bool mayBeHeld = refusal == EACCES || refusal == EPERM || refusal == EROFS || refusal == ETXTBSY;
        if (disposition == OPEN_EXISTING_ONLY && mayBeHeld && HeldByAnotherProcess(name)) refusal = EBUSY;
        *error = static_cast<unsigned long>(refusal);
        return NO_NATIVE_FILE;
    }
    int refusal = 0;
    struct stat facts;
    if (flock(descriptor, LOCK_EX | LOCK_NB) != 0) {
        refusal = errno;
    } else if (disposition == OPEN_EXISTING_ONLY) {
        if (fstat(descriptor, &facts) != 0) {
            refusal = errno;
        } else if (HeldByAnotherProcess(facts, name)) {
            refusal = EBUSY;
        } else if ((facts.st_mode & 0222) == 0) {
            // No write bit at all: root could still write it, but the player made it
            // read-only for a reason.
            refusal = EACCES;
        }
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

bool Move(const char* from, const char* to, bool replace) {
    if (replace) return rename(from, to) == 0;
    if (renameat2(AT_FDCWD, from, AT_FDCWD, to, RENAME_NOREPLACE) == 0) return true;
    // File systems without it (FAT on a memory card, for one) get a look first; no one
    // else writes these names while the run holds the folder.
    if (errno != EINVAL && errno != ENOSYS) return false;
    struct stat facts;
    if (lstat(to, &facts) == 0) {
        errno = EEXIST;
        return false;
    }
    return rename(from, to) == 0;
}

// The folder's own entry must reach the disk too, or a crash can undo the rename.
NativeFile OpenFolderOf(const char* name) {
    char folder[PATCH_TEXT_SIZE];
    if (strcpy_s(folder, name) != 0) return NO_NATIVE_FILE;
    if (char* slash = std::strrchr(folder, '/')) {
        slash[slash == folder ? 1 : 0] = '\0';  // "/x" lies in "/"
    } else {
        strcpy_s(folder, ".");
    }
    const int descriptor = open(folder, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    return descriptor < 0 ? NO_NATIVE_FILE : descriptor;
}

int CommitFolder(NativeFile folder) {
    // Some file systems cannot sync a folder at all; their moves are as safe as they get.
    return fsync(static_cast<int>(folder)) == 0 || errno == EINVAL ? 0 : -1;
}

// What names one file, whatever name or descriptor it was asked through.
static FileIdentity IdentityOf(const struct stat& facts) {
    FileIdentity identity = {};
    identity.exists = true;
    identity.regular = S_ISREG(facts.st_mode);
    identity.volume = static_cast<uint64_t>(facts.st_dev);
    identity.index = static_cast<uint64_t>(facts.st_ino);
    identity.size = static_cast<uint64_t>(facts.st_size);
    identity.links = static_cast<uint32_t>(facts.st_nlink);
    return identity;
}

FileIdentity Identify(const char* name) {
    FileIdentity identity = {};
    struct stat facts;
    if (stat(name, &facts) != 0) {
        identity.exists = errno != ENOENT && errno != ENOTDIR;
        return identity;
    }
    return IdentityOf(facts);
}

FileIdentity IdentifyOpen(FILE* file) {
    FileIdentity identity = {};
    struct stat facts;
    if (fstat(fileno(file), &facts) != 0) return identity;
    return IdentityOf(facts);
}

// flock on the folder's own descriptor: it ends with the process, however that ends, so a
// killed run never leaves the folder taken.
FolderHoldState HoldFolder(NativeFile* hold) {
    const int folder = open(".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (folder < 0) return FOLDER_UNLOCKABLE;
    if (flock(folder, LOCK_EX | LOCK_NB) == 0) {
        *hold = folder;
        return FOLDER_HELD;
    }
    const int error = errno;
    close(folder);
    return error == EWOULDBLOCK ? FOLDER_BUSY : FOLDER_UNLOCKABLE;
}

void ReleaseFolder(NativeFile hold) { close(static_cast<int>(hold)); }

void Pause(unsigned milliseconds) {
    const struct timespec pause = {static_cast<time_t>(milliseconds / 1000),
                                   static_cast<long>(milliseconds % 1000) * 1000000L};
    nanosleep(&pause, nullptr);  // a stop signal ends it early, which is what the run wants
}

bool RealName(const char* name, char (&real)[PATCH_TEXT_SIZE]) {
    char path[PATH_MAX];
    return realpath(name, path) != nullptr && strcpy_s(real, path) == 0;
}


EntryKind EntryKindOf(const char* name) {
    struct stat facts;
    if (lstat(name, &facts) != 0) return errno == ENOENT || errno == ENOTDIR ? ENTRY_NONE : ENTRY_OTHER;
    if (S_ISREG(facts.st_mode)) return ENTRY_FILE;
    if (S_ISLNK(facts.st_mode)) return ENTRY_LINK;
    return ENTRY_OTHER;
}

bool TellSize(FILE* file, uint64_t* size) {
    if (fseeko(file, 0, SEEK_END) != 0) return false;
    const long long end = ftello(file);
    if (end < 0) return false;
    *size = static_cast<uint64_t>(end);
    return true;
}

bool ListFolder(const char* folder, ListedEntryFn each, void* context) {
    DIR* listing = opendir(folder);
    if (listing == nullptr) return false;
    while (const dirent* entry = readdir(listing)) {
        if (std::strcmp(entry->d_name, ".") == 0 || std::strcmp(entry->d_name, "..") == 0) continue;
        ListedKind kind = LISTED_OTHER;
        switch (entry->d_type) {
        case DT_DIR: kind = LISTED_FOLDER; break;
        case DT_LNK: kind = LISTED_LINK; break;
        case DT_UNKNOWN: kind = LISTED_UNKNOWN; break;
        default: break;
        }
        each(entry->d_name, kind, context);
    }
    closedir(listing);
    return true;
}

const char READ_ONLY_HINT[] = "Make it writable: chmod u+w <path>";

// A signal that interrupts the call leaves the rest to the next one: a write-back, once
// begun, is finished.
bool WriteAt(FILE* file, uint64_t offset, const void* data, size_t size) {
    const uint8_t* bytes = static_cast<const uint8_t*>(data);
    while (size > 0) {
        const ssize_t written = pwrite(fileno(file), bytes, size, static_cast<off_t>(offset));
        if (written < 0 && errno == EINTR) continue;
        if (written <= 0) {
            if (written == 0) errno = EIO;
            return false;
        }
        bytes += written;
        offset += static_cast<uint64_t>(written);
        size -= static_cast<size_t>(written);
    }
    return true;
}

bool ReadAt(FILE* file, uint64_t offset, void* data, size_t size) {
    uint8_t* bytes = static_cast<uint8_t*>(data);
    while (size > 0) {
        const ssize_t read = pread(fileno(file), bytes, size, static_cast<off_t>(offset));
        if (read < 0 && errno == EINTR) continue;
        if (read <= 0) return false;  // the file ends before: its bytes are not there
        bytes += read;
        offset += static_cast<uint64_t>(read);
        size -= static_cast<size_t>(read);
    }
    return true;
}

bool Clone(FILE* destination, FILE* source, unsigned long* error) {
#if defined(__linux__) && defined(FICLONE)
    if (ioctl(fileno(destination), FICLONE, fileno(source)) == 0) return true;
    *error = static_cast<unsigned long>(errno);
#else
    (void)destination, (void)source;
    *error = static_cast<unsigned long>(EOPNOTSUPP);
#endif
    return false;
}

bool CopyRange(FILE* destination, FILE* source, uint64_t size, uint64_t* copied, unsigned long* error) {
#ifdef __linux__
    // From the source's start, whatever its position: the image was read from there.
    loff_t from = static_cast<loff_t>(*copied);
    loff_t to = from;
    while (*copied < size) {
        const uint64_t left = size - *copied;
        const size_t chunk = left > (1u << 30) ? (1u << 30) : static_cast<size_t>(left);
        const ssize_t done = copy_file_range(fileno(source), &from, fileno(destination), &to, chunk, 0);
        if (done < 0 && errno == EINTR) continue;
        if (done <= 0) {
            *error = done == 0 ? static_cast<unsigned long>(EIO) : static_cast<unsigned long>(errno);
            return false;
        }
        *copied += static_cast<uint64_t>(done);
    }
    return true;
#else
    (void)destination, (void)source, (void)size, (void)copied;
    *error = static_cast<unsigned long>(EOPNOTSUPP);
    return false;
#endif
}

}  // namespace platform

// The owner, the group, the mode and every extended attribute, read through the old file's
// descriptor. system.posix_acl_access is one of them and is copied as it is: an ACL set
// through a mode would turn its mask into the group's bits.
struct KeptAttributes {
    struct stat facts;
    std::vector<std::pair<std::string, std::string>> extended;
};

namespace {

void NameNotKept(char (&notKept)[PATCH_TEXT_SIZE], const char* what) {
    char joined[PATCH_TEXT_SIZE];
    if (sprintf_s(joined, "%s%s%s", notKept, notKept[0] != '\0' ? ", " : "", what) > 0) strcpy_s(notKept, joined);
}

std::vector<std::pair<std::string, std::string>> ExtendedAttributesOf(int descriptor) {
    std::vector<std::pair<std::string, std::string>> attributes;
    const ssize_t listSize = flistxattr(descriptor, nullptr, 0);
    if (listSize <= 0) return attributes;
    std::string names(static_cast<size_t>(listSize), '\0');
    const ssize_t listed = flistxattr(descriptor, &names[0], names.size());
    if (listed <= 0) return attributes;
    names.resize(static_cast<size_t>(listed));
    for (size_t at = 0; at < names.size();) {
        const std::string name = names.c_str() + at;
        at += name.size() + 1;
        if (name.empty()) continue;
        const ssize_t size = fgetxattr(descriptor, name.c_str(), nullptr, 0);
        if (size < 0) continue;
        std::string value(static_cast<size_t>(size), '\0');
        const ssize_t got = size == 0 ? 0 : fgetxattr(descriptor, name.c_str(), &value[0], value.size());
        if (got < 0) continue;
        value.resize(static_cast<size_t>(got));
        attributes.emplace_back(name, value);
    }
    return attributes;
}

}  // namespace

namespace platform {

KeptAttributes* ReadAttributes(FILE* file) {
    KeptAttributes* attributes = new KeptAttributes;
    if (fstat(fileno(file), &attributes->facts) != 0) {
        delete attributes;
        return nullptr;
    }
    attributes->extended = ExtendedAttributesOf(fileno(file));
    return attributes;
}

void GiveAttributes(const KeptAttributes* attributes, FILE* file, const char* name, char (&notKept)[PATCH_TEXT_SIZE]) {
    (void)name;  // everything goes through the descriptor
    const int descriptor = fileno(file);
    const struct stat& old = attributes->facts;
    // The owner first: a change of owner clears the set-ID bits, which the mode then gives
    // back. Only root can give a file away; a member of the game's group still keeps the group.
    struct stat now;
    if (fstat(descriptor, &now) == 0 && (now.st_uid != old.st_uid || now.st_gid != old.st_gid) &&
        fchown(descriptor, old.st_uid, old.st_gid) != 0 && now.st_gid != old.st_gid &&
        fchown(descriptor, static_cast<uid_t>(-1), old.st_gid) != 0) {
        // What is not kept is named below, from what the file has now.
    }
    const bool statted = fstat(descriptor, &now) == 0;
    const bool ownerKept = statted && now.st_uid == old.st_uid;
    const bool groupKept = statted && now.st_gid == old.st_gid;
    char what[PATCH_TEXT_SIZE];
    if (!ownerKept && sprintf_s(what, "the owner (user %lu)", static_cast<unsigned long>(old.st_uid)) > 0) {
        NameNotKept(notKept, what);
    }
    if (!groupKept && sprintf_s(what, "the group (group %lu)", static_cast<unsigned long>(old.st_gid)) > 0) {
        NameNotKept(notKept, what);
    }
    for (const auto& attribute : attributes->extended) {
        if (fsetxattr(descriptor, attribute.first.c_str(), attribute.second.data(), attribute.second.size(), 0) == 0) {
            continue;
        }
        const bool acl = attribute.first == "system.posix_acl_access";
        const int made = acl ? sprintf_s(what, "the ACL") : sprintf_s(what, "the extended attribute %s", attribute.first.c_str());
        if (made > 0) NameNotKept(notKept, what);
    }
    // Set-ID bits belong to the owner and the group they were given for.
    mode_t mode = old.st_mode & 07777;
    if (!ownerKept) mode &= ~static_cast<mode_t>(S_ISUID);
    if (!groupKept) mode &= ~static_cast<mode_t>(S_ISGID);
    if (fchmod(descriptor, mode) != 0 && sprintf_s(what, "the mode %04o", static_cast<unsigned>(mode)) > 0) {
        NameNotKept(notKept, what);
    }
}

void FreeAttributes(KeptAttributes* attributes) { delete attributes; }

}  // namespace platform

namespace {

volatile sig_atomic_t g_stopSignal = 0;

void OnStopSignal(int signal) {
    if (g_stopSignal == 0) g_stopSignal = signal;
}

// The /proc of a PID namespace of the process's own lists none of the processes outside
// it. Outside the first namespace, NSpid holds one number only when /proc is the
// namespace's own; with the parent's /proc it holds one for each level.
bool InAPidNamespaceOfItsOwn() {
    char link[64] = {};
    if (readlink("/proc/self/ns/pid", link, sizeof link - 1) <= 0) return false;
    if (std::strcmp(link, "pid:[4026531836]") == 0) return false;  // the kernel's number of the first one
    FILE* status = std::fopen("/proc/self/status", "r");
    if (status == nullptr) return false;
    char line[256];
    int numbers = -1;
    while (std::fgets(line, sizeof line, status) != nullptr) {
        if (std::strncmp(line, "NSpid:", 6) != 0) continue;
        numbers = 0;
        for (const char* c = line + 6; *c != '\0';) {
            while (*c == ' ' || *c == '\t') ++c;
            if (*c < '0' || *c > '9') break;
            ++numbers;
            while (*c >= '0' && *c <= '9') ++c;
        }
    }
    std::fclose(status);
    return numbers == 1;
}

bool InGroup(gid_t group) {
    if (getegid() == group) return true;
    gid_t groups[256];
    const int count = getgroups(256, groups);
    for (int i = 0; i < count; ++i) {
        if (groups[i] == group) return true;
    }
    return false;
}

// hidepid=2 (invisible) or 4 (ptraceable) leaves other users' processes out of /proc, for
// anyone but root and the members of its gid= group. The last mount on /proc is in effect.
bool HidepidHidesOthers() {
    if (geteuid() == 0) return false;
    FILE* mounts = std::fopen("/proc/self/mountinfo", "r");
    if (mounts == nullptr) return false;
    char line[4096];
    bool hides = false;
    while (std::fgets(line, sizeof line, mounts) != nullptr) {
        char mountPoint[1024];
        if (std::sscanf(line, "%*s %*s %*s %*s %1023s", mountPoint) != 1 || std::strcmp(mountPoint, "/proc") != 0) continue;
        const char* separator = std::strstr(line, " - ");
        char type[64] = {}, source[256] = {}, options[2048] = {};
        if (separator == nullptr || std::sscanf(separator + 3, "%63s %255s %2047s", type, source, options) < 3 ||
            std::strcmp(type, "proc") != 0) {
            continue;
        }
        hides = false;
        const char* hidepid = std::strstr(options, "hidepid=");
        if (hidepid == nullptr) continue;
        hidepid += std::strlen("hidepid=");
        for (const char* hiding : {"2", "4", "invisible", "ptraceable"}) {
            if (std::strncmp(hidepid, hiding, std::strlen(hiding)) == 0) hides = true;
        }
        const char* gid = std::strstr(options, "gid=");
        if (hides && gid != nullptr && InGroup(static_cast<gid_t>(std::strtoul(gid + 4, nullptr, 10)))) hides = false;
    }
    std::fclose(mounts);
    return hides;
}


// Whether every folder on the way to the file lets others through (or, for `group`, the
// members of the file's group).
bool WalkableBy(const char* path, bool group, gid_t fileGroup) {
    char folder[PATH_MAX];
    if (strcpy_s(folder, path) != 0) return false;
    while (char* slash = std::strrchr(folder, '/')) {
        slash[slash == folder ? 1 : 0] = '\0';
        struct stat facts;
        if (stat(folder, &facts) != 0) return false;
        const bool through = (facts.st_mode & S_IXOTH) != 0 ||
                             (group && (facts.st_mode & S_IXGRP) != 0 && facts.st_gid == fileGroup);
        if (!through) return false;
        if (slash == folder) break;
    }
    return true;
}

}  // namespace

ProcessView platform::ViewOfProcesses() {
    if (InAPidNamespaceOfItsOwn()) return VIEW_PID_NAMESPACE;
    if (HidepidHidesOthers()) return VIEW_HIDEPID;
    return VIEW_ALL;
}

bool OthersMayOpen(const char* name) {
    struct stat facts;
    if (stat(name, &facts) != 0) return true;  // nothing to go by: what could not be checked is told
    if (facts.st_uid != geteuid()) return true;
    char path[PATH_MAX];
    if (realpath(name, path) == nullptr) return true;
    if ((facts.st_mode & S_IROTH) != 0 && WalkableBy(path, false, facts.st_gid)) return true;
    return (facts.st_mode & S_IRGRP) != 0 && WalkableBy(path, true, facts.st_gid);
}

void CatchStopSignals() {
    struct sigaction action = {};
    action.sa_handler = OnStopSignal;
    sigemptyset(&action.sa_mask);
    // The system call under way goes on: a write is never cut by the signal.
    action.sa_flags = SA_RESTART;
    for (const int signal : {SIGINT, SIGTERM, SIGHUP}) sigaction(signal, &action, nullptr);
}

bool StopRequested() { return g_stopSignal != 0; }

const char* StopSignalName() {
    switch (g_stopSignal) {
    case SIGINT: return "SIGINT";
    case SIGTERM: return "SIGTERM";
    case SIGHUP: return "SIGHUP";
    default: return "a signal";
    }
}

int StopExitCode() { return 130; }
void RequestStop(int signal) { g_stopSignal = signal; }
void ClearStopRequest() { g_stopSignal = 0; }
void MarkRunEnded() {}

bool HintPathOf(const char* name, char (&path)[PATCH_TEXT_SIZE]) {
    if (name[0] == '/') return strcpy_s(path, name) == 0;
    char folder[PATH_MAX];
    if (getcwd(folder, sizeof folder) == nullptr) return false;
    return sprintf_s(path, "%s%s%s", folder, folder[1] == '\0' ? "" : "/", name) > 0;
}


OpenReason ReasonOfOpenError(unsigned long error, const FileFacts& facts) {
    switch (error) {
    case EWOULDBLOCK:
    case EBUSY:
    case ETXTBSY: return OPEN_IN_USE;
    case ENOENT:
    case ENOTDIR: return OPEN_MISSING;
    case EISDIR: return OPEN_NOT_A_FILE;
    default: break;
    }
    if (error != EACCES && error != EPERM && error != EROFS) return OPEN_FAILED;
    if (facts.immutable) return OPEN_IMMUTABLE;
    if (error == EROFS) return OPEN_READ_ONLY_FS;
    if (error == EACCES && facts.owned) return OPEN_READ_ONLY;
    return OPEN_PERMISSION_DENIED;
}

unsigned long LastSystemError() { return static_cast<unsigned long>(errno); }
void ClearSystemError() { errno = 0; }

void FormatSystemErrorText(unsigned long error, char (&text)[PATCH_TEXT_SIZE]) {
    if (strcpy_s(text, std::strerror(static_cast<int>(error))) != 0) text[0] = '\0';
}

void FormatSystemErrorCode(unsigned long error, char (&code)[32]) {
    static const struct {
        int number;
        const char* name;
    } NAMES[] = {
        {EPERM, "EPERM"},         {ENOENT, "ENOENT"},   {EIO, "EIO"},         {ENXIO, "ENXIO"},
        {EBADF, "EBADF"},         {EAGAIN, "EAGAIN"},   {ENOMEM, "ENOMEM"},   {EACCES, "EACCES"},
        {EFAULT, "EFAULT"},       {EBUSY, "EBUSY"},     {EEXIST, "EEXIST"},   {EXDEV, "EXDEV"},
        {ENODEV, "ENODEV"},       {ENOTDIR, "ENOTDIR"}, {EISDIR, "EISDIR"},   {EINVAL, "EINVAL"},
        {ENFILE, "ENFILE"},       {EMFILE, "EMFILE"},   {ETXTBSY, "ETXTBSY"}, {EFBIG, "EFBIG"},
        {ENOSPC, "ENOSPC"},       {ESPIPE, "ESPIPE"},   {EROFS, "EROFS"},     {EMLINK, "EMLINK"},
        {ENAMETOOLONG, "ENAMETOOLONG"}, {ENOSYS, "ENOSYS"}, {ENOTEMPTY, "ENOTEMPTY"}, {ELOOP, "ELOOP"},
        {EOVERFLOW, "EOVERFLOW"}, {EOPNOTSUPP, "EOPNOTSUPP"}, {EDQUOT, "EDQUOT"}, {ESTALE, "ESTALE"},
        {EINTR, "EINTR"},
    };
    for (const auto& known : NAMES) {
        if (static_cast<unsigned long>(known.number) == error) {
            strcpy_s(code, known.name);
            return;
        }
    }
    sprintf_s(code, "E%lu", error);
}

namespace platform {

bool ListNamesToFold(const char* folder, void (*each)(const char* name, void* context), void* context) {
    DIR* listing = opendir(folder);
    if (listing == nullptr) return false;
    while (const dirent* entry = readdir(listing)) {
        if (std::strcmp(entry->d_name, ".") == 0 || std::strcmp(entry->d_name, "..") == 0) continue;
        each(entry->d_name, context);
    }
    closedir(listing);
    return true;
}

const bool MAPS_LARGE_BUFFERS = true;

void* MapPages(size_t length) {
    void* base = mmap(nullptr, length, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    return base == MAP_FAILED ? nullptr : base;
}

// Only advice: without huge pages (switched off, or none free) the memory works all the same.
void AdviseHugePages(void* start, size_t length) { madvise(start, length, MADV_HUGEPAGE); }
void UnmapPages(void* base, size_t length) { munmap(base, length); }

namespace {
const uint8_t EMPTY_FILE[1] = {};
}  // namespace

const uint8_t* MapFileForReading(const char* name, uint32_t* size) {
    const int descriptor = open(name, O_RDONLY | O_CLOEXEC);
    if (descriptor < 0) return nullptr;
    struct stat facts;
    const uint8_t* base = nullptr;
    if (fstat(descriptor, &facts) == 0 && S_ISREG(facts.st_mode) && static_cast<uint64_t>(facts.st_size) <= 0xFFFFFFFFull) {
        *size = static_cast<uint32_t>(facts.st_size);
        if (*size == 0) {
            base = EMPTY_FILE;
        } else {
            // Populated at once: every page is read, and one call beats a fault per page.
            int flags = MAP_PRIVATE;
#ifdef MAP_POPULATE
            flags |= MAP_POPULATE;
#endif
            void* mapped = mmap(nullptr, *size, PROT_READ, flags, descriptor, 0);
            if (mapped != MAP_FAILED) base = static_cast<const uint8_t*>(mapped);
        }
    }
    close(descriptor);
    return base;
}

void UnmapFile(const uint8_t* base, uint32_t size) {
    if (base != nullptr && base != EMPTY_FILE) munmap(const_cast<uint8_t*>(base), size);
}

}  // namespace platform

namespace platform {

const char PATH_SEPARATOR = '/';

const char* RealPathOf(const char* folder, char (&buffer)[FOLDER_PATH_SIZE]) {
    static_assert(FOLDER_PATH_SIZE >= PATH_MAX, "realpath writes up to PATH_MAX bytes");
    return realpath(folder, buffer) != nullptr ? buffer : "";
}

const char* FolderOfVariable(const char* variable, char (&buffer)[FOLDER_PATH_SIZE]) {
    const char* value = std::getenv(variable);
    return value != nullptr && strcpy_s(buffer, value) == 0 ? buffer : "";
}

// Single quotes keep everything but the quote itself; what would reach the terminal as
// something other than a character (a control, a C1 control, a byte that is no UTF-8) is
// written $'\xHH' between them, so that the line shows it and the shell gives back the byte.
bool QuoteForShell(const char* text, char* out, size_t room) {
    size_t at = 0;
    auto put = [&](const char* part) {
        for (; *part != '\0'; ++part) {
            if (at + 1 >= room) return false;
            out[at++] = *part;
        }
        return true;
    };
    const size_t size = std::strlen(text);
    bool fits = put("'");
    for (size_t i = 0; fits && i < size; ++i) {
        const unsigned char u = static_cast<unsigned char>(text[i]);
        char piece[16] = {text[i], '\0'};
        unsigned long code = 0;
        const size_t length = u >= 0x80 ? DecodeUtf8(text, size, i, &code) : 0;
        if (length != 0 && code >= 0xA0) {
            std::memcpy(piece, text + i, length);
            piece[length] = '\0';
            i += length - 1;
        } else if (u == '\'') {
            strcpy_s(piece, "'\\''");
        } else if (u < 0x20 || u >= 0x7F) {
            if (u == '\n') strcpy_s(piece, "'$'\\n''");
            else if (u == '\t') strcpy_s(piece, "'$'\\t''");
            else sprintf_s(piece, "'$'\\x%02X''", u);
        }
        fits = put(piece);
    }
    fits = fits && put("'");
    if (room > 0) out[fits ? at : 0] = '\0';
    return fits;
}

}  // namespace platform

#endif  // !_WIN32
