#pragma once
// strcpy_s, strcat_s and sprintf_s on fixed character arrays, with the size taken from the
// array's type. The Windows runtime has them; the native build gets the same overloads so
// that the engine and its tests compile unchanged on both.

#include <cstdio>
#include <cstring>

#ifndef _WIN32
#include <cerrno>
#include <cstddef>

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
    if (used == N || used + length >= N) {
        dst[0] = '\0';
        return ERANGE;
    }
    std::memcpy(dst + used, src, length + 1);
    return 0;
}

template <size_t N, class... Args>
int sprintf_s(char (&dst)[N], const char* format, Args... args) {
    const int written = std::snprintf(dst, N, format, args...);
    if (written < 0 || static_cast<size_t>(written) >= N) {
        dst[0] = '\0';
        return -1;
    }
    return written;
}
#endif
