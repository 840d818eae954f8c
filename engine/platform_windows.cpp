// The Windows half of the file operations: handles with no sharing, the runtime's
// descriptors over them, write-through moves.
#ifdef _WIN32

#include "platform.h"

#include <windows.h>
#include <fcntl.h>
#include <io.h>

#include <cstring>

#include "auto_close_handle.h"
#include "bounded_text.h"

namespace platform {

FileFacts Inspect(const char* name) {
    const DWORD attributes = GetFileAttributesA(name);
    if (attributes == INVALID_FILE_ATTRIBUTES) {
        const DWORD error = GetLastError();
        const bool absent = error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND;
        return {!absent, false, false, false, false};
    }
    // Asked explicitly: Wine running as root opens read-only files for writing.
    return {true, (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0, (attributes & FILE_ATTRIBUTE_READONLY) != 0, false,
            true};
}

NativeFile OpenNative(const char* name, OpenDisposition disposition, unsigned long* error) {
    if (disposition == OPEN_EXISTING_READ) {
        // The sharing a running game's own handles leave room for.
        HANDLE file = CreateFileA(name, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                  OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (file == INVALID_HANDLE_VALUE) {
            *error = GetLastError();
            return NO_NATIVE_FILE;
        }
        return reinterpret_cast<NativeFile>(file);
    }
    // CREATE_NEW fails on any name that is there already, a link included.
    const DWORD creation = disposition == OPEN_EXISTING_ONLY ? OPEN_EXISTING : CREATE_NEW;
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
    const AutoCloseHandle handle(CreateFileA(name, 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                             OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
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
    } else {
        identity.exists = true;  // there, but nothing can be told of it: not a file to rely on
    }
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

EntryKind EntryKindOf(const char* name) {
    const DWORD attributes = GetFileAttributesA(name);
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

}  // namespace platform

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

FilePermissions PermissionsOf(FILE*) { return {false, 0, 0, 0}; }
void GivePermissions(const char*, const FilePermissions&) {}

bool ListNamesToFold(const char*, void (*)(const char*, void*), void*) { return false; }

const bool MAPS_LARGE_BUFFERS = false;
void* MapPages(size_t) { return nullptr; }
void AdviseHugePages(void*, size_t) {}
void UnmapPages(void*, size_t) {}

const char PATH_SEPARATOR = '\\';

const char* RealPathOf(const char* folder, char (&)[FOLDER_PATH_SIZE]) { return folder; }

void ListSubfolders(const char* folder, void (*each)(const char* name, void* context), void* context) {
    char pattern[FOLDER_PATH_SIZE];
    const size_t length = std::strlen(folder);
    const bool separated = length > 0 && (folder[length - 1] == '/' || folder[length - 1] == '\\');
    if (sprintf_s(pattern, "%s%s*", folder, length == 0 || separated ? "" : "\\") < 0) return;
    WIN32_FIND_DATAA entry;
    HANDLE listing = FindFirstFileA(pattern, &entry);
    if (listing == INVALID_HANDLE_VALUE) return;
    do {
        const char* name = entry.cFileName;
        if (std::strcmp(name, ".") == 0 || std::strcmp(name, "..") == 0) continue;
        if ((entry.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) continue;
        if ((entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) each(name, context);
    } while (FindNextFileA(listing, &entry));
    FindClose(listing);
}

const char* FolderOfVariable(const char* variable, char (&buffer)[FOLDER_PATH_SIZE]) {
    const DWORD length = GetEnvironmentVariableA(variable, buffer, MAX_PATH);
    return length > 0 && length < MAX_PATH ? buffer : "";
}

}  // namespace platform

namespace platform {

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
