#pragma once
// Reading UTF-8 byte by byte, for the writers that must tell a character from a stray byte:
// the JSON writer and the shell quoter.

#include <cstddef>

// The length of the well-formed UTF-8 sequence at text[at] (of `size` bytes), with its
// character in *code; 0 when the bytes there are not one.
size_t DecodeUtf8(const char* text, size_t size, size_t at, unsigned long* code);
