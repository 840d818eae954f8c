// The Windows half of the file operations: handles with no sharing, the runtime's
// descriptors over them, write-through moves.
#ifdef _WIN32

#include "platform.h"

#include <windows.h>
#include <aclapi.h>
#include <fcntl.h>
#include <io.h>

#include <cstring>

#include "auto_close_handle.h"
#include "bounded_text.h"

namespace {

// A name for the wide calls: the console patcher keeps names as UTF-8, so that a folder
// such as "Вельмора 2" is reached on any Windows whatever its code page. The window
// program's names are its ANSI ones: a name that is no well-formed UTF-8 goes to the ANSI
// call as it is (and an ASCII name is the same either way).
struct WideName {
    wchar_t text[platform::FOLDER_PATH_SIZE];
    bool ok;
    explicit WideName(const char* name)
        : ok(MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, name, -1, text, platform::FOLDER_PATH_SIZE) > 0) {}
};

}  // namespace

namespace platform {

FileFacts Inspect(const char* name) {
    const WideName wide(name);
    const DWORD attributes = wide.ok ? GetFileAttributesW(wide.text) : GetFileAttributesA(name);
    if (attributes == INVALID_FILE_ATTRIBUTES) {
        const DWORD error = GetLastError();
        const bool absent = error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND;
        return {!absent, false, false, false, false, false};
    }
    // Asked explicitly: Wine running as root opens read-only files for writing.
    return {true, (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0, (attributes & FILE_ATTRIBUTE_READONLY) != 0, false,
            true, false};
}

NativeFile OpenNative(const char* name, OpenDisposition disposition, unsigned long* error) {
    if (disposition == OPEN_EXISTING_READ) {
        // The sharing a running game's own handles leave room for.
        const WideName wide(name);
        const DWORD sharing = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
        HANDLE file = wide.ok ? CreateFileW(wide.text, GENERIC_READ, sharing, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr)
                              : CreateFileA(name, GENERIC_READ, sharing, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (file == INVALID_HANDLE_VALUE) {
            *error = GetLastError();
            return NO_NATIVE_FILE;
        }
        return reinterpret_cast<NativeFile>(file);
    }
    // CREATE_NEW fails on any name that is there already, a link included.
    const DWORD creation = disposition == OPEN_EXISTING_ONLY ? OPEN_EXISTING : CREATE_NEW;
    const WideName wide(name);
    HANDLE file = wide.ok ? CreateFileW(wide.text, GENERIC_READ | GENERIC_WRITE, 0, nullptr, creation, FILE_ATTRIBUTE_NORMAL, nullptr)
                          : CreateFileA(name, GENERIC_READ | GENERIC_WRITE, 0, nullptr, creation, FILE_ATTRIBUTE_NORMAL, nullptr);
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
    const WideName wideFrom(from), wideTo(to);
    if (wideFrom.ok && wideTo.ok) return MoveFileExW(wideFrom.text, wideTo.text, flags) != 0;
    return MoveFileExA(from, to, flags) != 0;
}

FileIdentity Identify(const char* name) {
    FileIdentity identity = {};
    // No access asked for: this must work while the job holds the file with no sharing.
    const WideName wide(name);
    const DWORD sharing = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
    const AutoCloseHandle handle(wide.ok ? CreateFileW(wide.text, 0, sharing, nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr)
                                         : CreateFileA(name, 0, sharing, nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    const HANDLE file = handle.get();
    if (!handle.valid()) {
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
        identity.links = facts.nNumberOfLinks;
    } else {
        identity.exists = true;  // there, but nothing can be told of it: not a file to rely on
    }
    return identity;
}

namespace {

// The system's handle under the stream, moved to `offset`; the stream itself is not read
// or written through any more once this is used.
HANDLE HandleAt(FILE* file, uint64_t offset) {
    const HANDLE handle = reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(file)));
    if (handle == INVALID_HANDLE_VALUE) return INVALID_HANDLE_VALUE;
    LONG high = static_cast<LONG>(offset >> 32);
    SetLastError(NO_ERROR);
    const DWORD low = SetFilePointer(handle, static_cast<LONG>(offset & 0xFFFFFFFFu), &high, FILE_BEGIN);
    if (low == INVALID_SET_FILE_POINTER && GetLastError() != NO_ERROR) return INVALID_HANDLE_VALUE;
    return handle;
}

}  // namespace

bool WriteAt(FILE* file, uint64_t offset, const void* data, size_t size) {
    const HANDLE handle = HandleAt(file, offset);
    if (handle == INVALID_HANDLE_VALUE) return false;
    DWORD written = 0;
    return WriteFile(handle, data, static_cast<DWORD>(size), &written, nullptr) && written == size;
}

bool ReadAt(FILE* file, uint64_t offset, void* data, size_t size) {
    const HANDLE handle = HandleAt(file, offset);
    if (handle == INVALID_HANDLE_VALUE) return false;
    DWORD read = 0;
    return ReadFile(handle, data, static_cast<DWORD>(size), &read, nullptr) && read == size;
}

// CopyFileA follows the file's links and makes temporaries that are not the program's own:
// the copy is written from memory.
bool Clone(FILE*, FILE*, unsigned long* error) {
    *error = ERROR_NOT_SUPPORTED;
    return false;
}

bool CopyRange(FILE*, FILE*, uint64_t, uint64_t*, unsigned long* error) {
    *error = ERROR_NOT_SUPPORTED;
    return false;
}

bool TellSize(FILE* file, uint64_t* size) {
    // 64-bit positions: a plain ftell fails past 2 GiB in the 32-bit program.
    if (_fseeki64(file, 0, SEEK_END) != 0) return false;
    const long long end = _ftelli64(file);
    if (end < 0) return false;
    *size = static_cast<uint64_t>(end);
    return true;
}

EntryKind EntryKindOf(const char* name) {
    const WideName wide(name);
    const DWORD attributes = wide.ok ? GetFileAttributesW(wide.text) : GetFileAttributesA(name);
    if (attributes == INVALID_FILE_ATTRIBUTES) {
        const DWORD error = GetLastError();
        return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND ? ENTRY_NONE : ENTRY_OTHER;
    }
    if ((attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) return ENTRY_OTHER;
    // DeleteFileA removes a link itself, not the file it leads to.
    if ((attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) return ENTRY_LINK;
    return ENTRY_FILE;
}

const char READ_ONLY_HINT[] = "Clear its read-only attribute.";

// Sharing modes do what the survey does natively: it covers no file.
bool SurveyedFile(const char*, HolderSurvey::File*) { return false; }
int MarkHolders(HolderSurvey::File*, int) { return 0; }
ProcessView ViewOfProcesses() { return VIEW_ALL; }

}  // namespace platform

// The attributes that a player or a store gives a game, and its security descriptor's
// access list, read through the old file's handle.
struct KeptAttributes {
    DWORD attributes;
    PSECURITY_DESCRIPTOR descriptor;  // LocalFree'd; null when it could not be read
    PACL dacl;                        // inside descriptor
    bool protectedDacl;               // inherits nothing from the folder
};

namespace {

HANDLE HandleOf(FILE* file) { return reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(file))); }

// A 64-bit FNV-1a of the folder's full path, without regard to case: the mutex's name may
// hold no backslash and is limited in length, and one folder has many spellings.
unsigned long long FolderKey(const char* path) {
    unsigned long long hash = 14695981039346656037ull;
    for (const char* c = path; *c != '\0'; ++c) {
        char folded = *c >= 'A' && *c <= 'Z' ? static_cast<char>(*c - 'A' + 'a') : *c;
        if (folded == '/') folded = '\\';
        hash = (hash ^ static_cast<unsigned char>(folded)) * 1099511628211ull;
    }
    return hash;
}

volatile LONG g_stopEvent = -1;  // the console event that asked for the stop; -1: none
volatile LONG g_runEnded = 0;

BOOL WINAPI OnConsoleEvent(DWORD event) {
    if (event != CTRL_C_EVENT && event != CTRL_BREAK_EVENT && event != CTRL_CLOSE_EVENT) return FALSE;
    InterlockedCompareExchange(&g_stopEvent, static_cast<LONG>(event), -1);
    // A closed console ends the process when this returns: the run gets the time it may
    // have (about five seconds) to finish or undo its step first.
    if (event == CTRL_CLOSE_EVENT) {
        for (int waited = 0; waited < 4500 && g_runEnded == 0; waited += 50) Sleep(50);
    }
    return TRUE;
}

}  // namespace

namespace platform {

FileIdentity IdentifyOpen(FILE* file) {
    FileIdentity identity = {};
    BY_HANDLE_FILE_INFORMATION facts;
    if (!GetFileInformationByHandle(HandleOf(file), &facts)) return identity;
    identity.exists = true;
    identity.regular = (facts.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
    identity.volume = facts.dwVolumeSerialNumber;
    identity.index = (static_cast<uint64_t>(facts.nFileIndexHigh) << 32) | facts.nFileIndexLow;
    identity.size = (static_cast<uint64_t>(facts.nFileSizeHigh) << 32) | facts.nFileSizeLow;
    identity.links = facts.nNumberOfLinks;
    return identity;
}

// MOVEFILE_WRITE_THROUGH puts the move on the disk itself.
NativeFile OpenFolderOf(const char*) { return NO_NATIVE_FILE; }
int CommitFolder(NativeFile) { return 0; }

// A named mutex per folder: it is let go when the process ends, however it ends.
FolderHoldState HoldFolder(NativeFile* hold) {
    char path[MAX_PATH];
    const DWORD length = GetFullPathNameA(".", MAX_PATH, path, nullptr);
    if (length == 0 || length >= MAX_PATH) return FOLDER_UNLOCKABLE;
    char name[64];
    const unsigned long long key = FolderKey(path);
    sprintf_s(name, "Global\\velmora-patch-%08lx%08lx", static_cast<unsigned long>(key >> 32),
              static_cast<unsigned long>(key));
    HANDLE mutex = CreateMutexA(nullptr, FALSE, name);
    if (mutex == nullptr) mutex = CreateMutexA(nullptr, FALSE, name + std::strlen("Global\\"));
    if (mutex == nullptr) return FOLDER_UNLOCKABLE;
    const DWORD waited = WaitForSingleObject(mutex, 0);
    if (waited == WAIT_OBJECT_0 || waited == WAIT_ABANDONED) {
        *hold = reinterpret_cast<NativeFile>(mutex);
        return FOLDER_HELD;
    }
    CloseHandle(mutex);
    return waited == WAIT_TIMEOUT ? FOLDER_BUSY : FOLDER_UNLOCKABLE;
}

void ReleaseFolder(NativeFile hold) {
    ReleaseMutex(reinterpret_cast<HANDLE>(hold));
    CloseHandle(reinterpret_cast<HANDLE>(hold));
}

void Pause(unsigned milliseconds) { Sleep(milliseconds); }

KeptAttributes* ReadAttributes(FILE* file) {
    BY_HANDLE_FILE_INFORMATION facts;
    if (!GetFileInformationByHandle(HandleOf(file), &facts)) return nullptr;
    KeptAttributes* kept = new KeptAttributes();
    kept->attributes = facts.dwFileAttributes;
    if (GetSecurityInfo(HandleOf(file), SE_FILE_OBJECT, DACL_SECURITY_INFORMATION, nullptr, nullptr, &kept->dacl,
                        nullptr, &kept->descriptor) != ERROR_SUCCESS) {
        kept->descriptor = nullptr;
        kept->dacl = nullptr;
    } else {
        SECURITY_DESCRIPTOR_CONTROL control = 0;
        DWORD revision = 0;
        kept->protectedDacl = GetSecurityDescriptorControl(kept->descriptor, &control, &revision) &&
                              (control & SE_DACL_PROTECTED) != 0;
    }
    return kept;
}

void GiveAttributes(const KeptAttributes* kept, FILE*, const char* name, char (&notKept)[PATCH_TEXT_SIZE]) {
    // Read-only stays off: the game was written, so it had none.
    const DWORD KEPT = FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_ARCHIVE |
                       FILE_ATTRIBUTE_NOT_CONTENT_INDEXED;
    const DWORD attributes = kept->attributes & KEPT;
    if (!SetFileAttributesA(name, attributes != 0 ? attributes : FILE_ATTRIBUTE_NORMAL)) {
        strcpy_s(notKept, "the file attributes");
    }
    if (kept->descriptor == nullptr) return;
    const SECURITY_INFORMATION what = DACL_SECURITY_INFORMATION | (kept->protectedDacl ? PROTECTED_DACL_SECURITY_INFORMATION
                                                                                     : UNPROTECTED_DACL_SECURITY_INFORMATION);
    if (SetNamedSecurityInfoA(const_cast<char*>(name), SE_FILE_OBJECT, what, nullptr, nullptr, kept->dacl, nullptr) !=
        ERROR_SUCCESS) {
        if (notKept[0] != '\0') strcat_s(notKept, ", ");
        strcat_s(notKept, "the access list");
    }
}

void FreeAttributes(KeptAttributes* kept) {
    if (kept->descriptor != nullptr) LocalFree(kept->descriptor);
    delete kept;
}

// Links are replaced as the names they are; the real place is not looked for.
bool RealName(const char* name, char (&real)[PATCH_TEXT_SIZE]) { return strcpy_s(real, name) == 0; }

}  // namespace platform

bool OthersMayOpen(const char*) { return true; }

void CatchStopSignals() { SetConsoleCtrlHandler(OnConsoleEvent, TRUE); }
bool StopRequested() { return g_stopEvent != -1; }
const char* StopSignalName() { return g_stopEvent == CTRL_CLOSE_EVENT ? "the closed console" : "Ctrl-C"; }
int StopExitCode() { return static_cast<int>(0xC000013AL); }  // STATUS_CONTROL_C_EXIT, as a Ctrl-C ends a program
void RequestStop(int signal) { g_stopEvent = signal; }
void ClearStopRequest() { g_stopEvent = -1; }
void MarkRunEnded() { g_runEnded = 1; }


// The Windows hints name no file.
bool HintPathOf(const char* name, char (&path)[PATCH_TEXT_SIZE]) { return strcpy_s(path, name) == 0; }


unsigned long LastSystemError() { return GetLastError(); }
void ClearSystemError() { SetLastError(0); }

void FormatSystemErrorText(unsigned long error, char (&text)[PATCH_TEXT_SIZE]) {
    const DWORD length = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, error, 0,
                                        text, sizeof text, nullptr);
    if (length == 0 || length >= sizeof text) {
        sprintf_s(text, "error %lu", error);
        return;
    }
    // The system's messages end with a line end, and sometimes a space before it.
    size_t end = length;
    while (end > 0 && (text[end - 1] == '\r' || text[end - 1] == '\n' || text[end - 1] == ' ')) --end;
    text[end] = '\0';
}

void FormatSystemErrorCode(unsigned long error, char (&code)[32]) { sprintf_s(code, "WIN32_%lu", error); }

OpenReason ReasonOfOpenError(unsigned long error, const FileFacts&) {
    switch (error) {
    case ERROR_SHARING_VIOLATION:
    case ERROR_LOCK_VIOLATION: return OPEN_IN_USE;
    case ERROR_WRITE_PROTECT: return OPEN_READ_ONLY;
    case ERROR_ACCESS_DENIED: return OPEN_ACCESS_DENIED;
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND: return OPEN_MISSING;
    default: return OPEN_FAILED;
    }
}

namespace platform {


bool ListNamesToFold(const char*, void (*)(const char*, void*), void*) { return false; }

const bool MAPS_LARGE_BUFFERS = false;
void* MapPages(size_t) { return nullptr; }
void AdviseHugePages(void*, size_t) {}
void UnmapPages(void*, size_t) {}

const char PATH_SEPARATOR = '\\';

const char* RealPathOf(const char* folder, char (&)[FOLDER_PATH_SIZE]) { return folder; }

bool ListFolder(const char* folder, ListedEntryFn each, void* context) {
    char pattern[FOLDER_PATH_SIZE];
    const size_t length = std::strlen(folder);
    const bool separated = length > 0 && (folder[length - 1] == '/' || folder[length - 1] == '\\');
    if (sprintf_s(pattern, "%s%s*", folder, length == 0 || separated ? "" : "\\") < 0) return false;
    const auto kindOf = [](DWORD attributes) {
        // Junctions and folder links are not followed: they can lead back up.
        const bool folderItself = (attributes & FILE_ATTRIBUTE_REPARSE_POINT) == 0 && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
        return folderItself ? LISTED_FOLDER : LISTED_OTHER;
    };
    const WideName wide(pattern);
    if (wide.ok) {
        // The names as UTF-8, which the search joins to the folder's UTF-8 path.
        WIN32_FIND_DATAW entry;
        HANDLE listing = FindFirstFileW(wide.text, &entry);
        if (listing == INVALID_HANDLE_VALUE) return false;
        do {
            const wchar_t* name = entry.cFileName;
            const bool dots = name[0] == L'.' && (name[1] == L'\0' || (name[1] == L'.' && name[2] == L'\0'));
            if (dots) continue;
            char utf8[MAX_PATH * 4];
            if (WideCharToMultiByte(CP_UTF8, 0, name, -1, utf8, sizeof utf8, nullptr, nullptr) > 0) {
                each(utf8, kindOf(entry.dwFileAttributes), context);
            }
        } while (FindNextFileW(listing, &entry));
        FindClose(listing);
        return true;
    }
    WIN32_FIND_DATAA entry;
    HANDLE listing = FindFirstFileA(pattern, &entry);
    if (listing == INVALID_HANDLE_VALUE) return false;
    do {
        const char* name = entry.cFileName;
        if (std::strcmp(name, ".") == 0 || std::strcmp(name, "..") == 0) continue;
        each(name, kindOf(entry.dwFileAttributes), context);
    } while (FindNextFileA(listing, &entry));
    FindClose(listing);
    return true;
}

const char* FolderOfVariable(const char* variable, char (&buffer)[FOLDER_PATH_SIZE]) {
    const DWORD length = GetEnvironmentVariableA(variable, buffer, MAX_PATH);
    return length > 0 && length < MAX_PATH ? buffer : "";
}

namespace {
const uint8_t EMPTY_FILE[1] = {};
}  // namespace

const uint8_t* MapFileForReading(const char* name, uint32_t* size) {
    HANDLE file = CreateFileA(name, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                              OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return nullptr;
    const uint8_t* base = nullptr;
    DWORD high = 0;
    const DWORD low = GetFileSize(file, &high);
    if (!(low == INVALID_FILE_SIZE && GetLastError() != NO_ERROR) && high == 0) {
        *size = low;
        if (low == 0) {
            base = EMPTY_FILE;
        } else {
            HANDLE mapping = CreateFileMappingA(file, nullptr, PAGE_READONLY, 0, 0, nullptr);
            if (mapping != nullptr) {
                base = static_cast<const uint8_t*>(MapViewOfFile(mapping, FILE_MAP_READ, 0, 0, 0));
                CloseHandle(mapping);  // the view keeps the mapping
            }
        }
    }
    CloseHandle(file);
    return base;
}

void UnmapFile(const uint8_t* base, uint32_t) {
    if (base != nullptr && base != EMPTY_FILE) UnmapViewOfFile(base);
}

// For cmd and then the program's own reading of its command line (CommandLineToArgvW's
// rules): backslashes are plain unless a quote follows them, where each one must be doubled,
// so a trailing run is doubled before the closing quote. A quote inside cannot be in a
// Windows name, but must not end cmd's quoting where & or | would then run a command: the
// quotes are closed, \^" gives the program a quote without cmd counting it, and they open
// again. No control character can be typed at cmd, nor be in a name: each shows as ?.
bool QuoteForShell(const char* text, char* out, size_t room) {
    size_t at = 0;
    auto put = [&](const char* part, size_t times) {
        for (; times > 0; --times) {
            for (const char* c = part; *c != '\0'; ++c) {
                if (at + 1 >= room) return false;
                out[at++] = *c;
            }
        }
        return true;
    };
    bool fits = put("\"", 1);
    size_t backslashes = 0;
    for (const char* c = text; fits && *c != '\0'; ++c) {
        const unsigned char u = static_cast<unsigned char>(*c);
        if (*c == '\\') {
            ++backslashes;
            continue;
        }
        if (*c == '"') {
            fits = put("\\", backslashes * 2) && put("\"\\^\"\"", 1);
        } else {
            const char plain[2] = {u < 0x20 || u == 0x7F ? '?' : *c, '\0'};
            fits = put("\\", backslashes) && put(plain, 1);
        }
        backslashes = 0;
    }
    fits = fits && put("\\", backslashes * 2) && put("\"", 1);
    if (room > 0) out[fits ? at : 0] = '\0';
    return fits;
}

}  // namespace platform

#endif  // _WIN32
