#include "image_buffer.h"

#include <cstdint>
#include <cstdlib>

#ifndef _WIN32
#include <sys/mman.h>
#endif

namespace {

// Below the buffer: what it takes to give it back.
struct BufferHeader {
    void* base;
    size_t length;  // of the mapping; 0 for a block from malloc
};

// A multiple of every alignment malloc gives, so that the buffer keeps its block's.
const size_t HEADER_ROOM = 64;
static_assert(sizeof(BufferHeader) <= HEADER_ROOM, "the header fits below the buffer");

BufferHeader* HeaderOf(void* buffer) {
    return reinterpret_cast<BufferHeader*>(static_cast<unsigned char*>(buffer) - HEADER_ROOM);
}

#ifndef _WIN32
const size_t HUGE_PAGE = size_t(2) << 20;
// Smaller images cost a few hundred faults at most, and the mapping's slack would be larger
// than they are.
const size_t MAPPED_FROM = size_t(4) << 20;

void* MapAligned(size_t size) {
    if (size > SIZE_MAX - 3 * HUGE_PAGE) return nullptr;
    // Room for the header below a 2 MiB boundary and for the last huge page whole.
    const size_t length = size + 3 * HUGE_PAGE;
    void* base = mmap(nullptr, length, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (base == MAP_FAILED) return nullptr;
    const uintptr_t start = (reinterpret_cast<uintptr_t>(base) + HEADER_ROOM + HUGE_PAGE - 1) & ~(HUGE_PAGE - 1);
    void* buffer = reinterpret_cast<void*>(start);
    // Only advice: without huge pages (switched off, or none free) the buffer works all the same.
    madvise(buffer, (size + HUGE_PAGE - 1) & ~(HUGE_PAGE - 1), MADV_HUGEPAGE);
    *HeaderOf(buffer) = BufferHeader{base, length};
    return buffer;
}
#endif

}  // namespace

void* AllocateImageBuffer(size_t size) {
#ifndef _WIN32
    if (size >= MAPPED_FROM) return MapAligned(size);
#endif
    if (size > SIZE_MAX - HEADER_ROOM) return nullptr;
    unsigned char* block = static_cast<unsigned char*>(std::malloc(HEADER_ROOM + (size == 0 ? 1 : size)));
    if (block == nullptr) return nullptr;
    void* buffer = block + HEADER_ROOM;
    *HeaderOf(buffer) = BufferHeader{block, 0};
    return buffer;
}

void ReleaseImageBuffer(void* buffer) {
    if (buffer == nullptr) return;
    const BufferHeader header = *HeaderOf(buffer);
#ifndef _WIN32
    if (header.length != 0) {
        munmap(header.base, header.length);
        return;
    }
#endif
    std::free(header.base);
}
