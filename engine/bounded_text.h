#pragma once
// strcpy_s, strcat_s and sprintf_s on fixed character arrays, with the size taken from the
// array's type. Every build uses these same overloads. The Windows runtime's own versions
// are not used: the msvcrt.dll of Windows XP does not export strcpy_s and strcat_s, so a
// program calling them would not start there. The shipped code is compiled with
// _CRT_SECURE_CPP_OVERLOAD_SECURE_NAMES=0, which keeps the Windows headers from declaring
// overloads of the same shape.
//
// On every failure the destination is left as an empty text, never as a cut-off one.

#include <cerrno>
#include <cstddef>
#include <cstdio>
#include <cstring>

#if defined(_WIN32) && defined(_CRT_SECURE_CPP_OVERLOAD_SECURE_NAMES) && _CRT_SECURE_CPP_OVERLOAD_SECURE_NAMES
#error "compile with _CRT_SECURE_CPP_OVERLOAD_SECURE_NAMES=0: the Windows headers declare these overloads too"
#endif

template <size_t N>
int strcpy_s(char (&dst)[N], const char* src) {
    const size_t length = std::strlen(src);
    if (length >= N) {
        dst[0] = '\0';
        return ERANGE;
    }
    std::memcpy(dst, src, length + 1);
    return 0;
}

template <size_t N>
int strcat_s(char (&dst)[N], const char* src) {
    const size_t used = strnlen(dst, N);
    const size_t length = std::strlen(src);
    if (used == N || length >= N - used) {
        dst[0] = '\0';
        return ERANGE;
    }
    std::memcpy(dst + used, src, length + 1);
    return 0;
}

// On Windows the formatting is msvcrt's (_snprintf, which Windows XP has), not MinGW's
// larger formatter: the formats are those of the C89 runtime, so sizes are written as %u or
// %lu, never %zu or %lld. _snprintf leaves the text unterminated when it fills the buffer
// exactly and returns -1 when it had to cut; both count as failures here.
template <size_t N, class... Args>
int sprintf_s(char (&dst)[N], const char* format, Args... args) {
#ifdef _WIN32
    const int written = _snprintf(dst, N, format, args...);
#else
    const int written = std::snprintf(dst, N, format, args...);
#endif
    if (written < 0 || static_cast<size_t>(written) >= N) {
        dst[0] = '\0';
        return -1;
    }
    return written;
}
