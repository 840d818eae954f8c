#include "target_file.h"

#include <cstdlib>

#ifdef _WIN32
#include <windows.h>
#include <share.h>
#endif

namespace {

FILE* OpenExclusive(const char* name, const char* mode) {
#ifdef _WIN32
    // Both said explicitly, as Windows itself behaves: not every runtime's fopen_s denies
    // sharing (Wine's shares all), and Wine running as root writes read-only files.
    const DWORD attributes = GetFileAttributesA(name);
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY)) return nullptr;
    return _fsopen(name, mode, _SH_DENYRW);
#else
    return std::fopen(name, mode);
#endif
}

bool TellSize(FILE* file, uint64_t* size) {
#ifdef _WIN32
    // 64-bit positions: a plain ftell fails past 2 GiB in the 32-bit program.
    if (_fseeki64(file, 0, SEEK_END) != 0) return false;
    const long long end = _ftelli64(file);
#else
    if (fseeko(file, 0, SEEK_END) != 0) return false;
    const long long end = ftello(file);
#endif
    if (end < 0) return false;
    *size = static_cast<uint64_t>(end);
    return true;
}

bool Rewind(FILE* file) { return std::fseek(file, 0, SEEK_SET) == 0; }
size_t Read(void* buffer, size_t size, FILE* file) { return std::fread(buffer, 1, size, file); }
size_t Write(const void* buffer, size_t size, FILE* file) { return std::fwrite(buffer, 1, size, file); }
int Flush(FILE* file) { return std::fflush(file); }
int Close(FILE* file) { return std::fclose(file); }
int Remove(const char* name) { return std::remove(name); }
void* Allocate(size_t size) { return std::malloc(size == 0 ? 1 : size); }
void Release(void* buffer) { std::free(buffer); }

}  // namespace

const FileOps DEFAULT_FILE_OPS = {OpenExclusive, TellSize, Rewind, Read, Write, Flush, Close, Remove, Allocate, Release};
FileOps g_fileOps = DEFAULT_FILE_OPS;

bool WriteWhole(FILE* file, const void* buffer, size_t size) {
    if (g_fileOps.write(buffer, size, file) != size) return false;
    if (g_fileOps.flush(file) != 0) return false;
    return !std::ferror(file);
}
