#pragma once
// The one buffer that holds a game's whole image while the job reads, patches and writes it.

#include <cstddef>

// Room for `size` bytes (at least one byte), or null. Natively, an image of a few MiB or more
// gets an anonymous mapping of its own whose start is aligned to 2 MiB and which is marked
// for transparent huge pages: its first touch then costs one fault per 2 MiB instead of one
// per 4 KiB page, which on virtual machines costs far more than the bytes read into it. Where
// the system gives no huge pages it is an ordinary mapping. Elsewhere it comes from malloc.
void* AllocateImageBuffer(size_t size);

// Gives back a buffer from AllocateImageBuffer; null is ignored.
void ReleaseImageBuffer(void* buffer);
