#include "image_buffer.h"

#include <cstdint>
#include <cstdlib>

#include "platform.h"

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

const size_t HUGE_PAGE = size_t(2) << 20;
// Smaller images cost a few hundred faults at most, and the mapping's slack would be larger
// than they are.
const size_t MAPPED_FROM = size_t(4) << 20;

void* MapAligned(size_t size) {
    if (size > SIZE_MAX - 3 * HUGE_PAGE) return nullptr;
    // Room for the header below a 2 MiB boundary and for the last huge page whole.
    const size_t length = size + 3 * HUGE_PAGE;
    void* base = platform::MapPages(length);
    if (base == nullptr) return nullptr;
    const uintptr_t start = (reinterpret_cast<uintptr_t>(base) + HEADER_ROOM + HUGE_PAGE - 1) & ~(HUGE_PAGE - 1);
    void* buffer = reinterpret_cast<void*>(start);
    platform::AdviseHugePages(buffer, (size + HUGE_PAGE - 1) & ~(HUGE_PAGE - 1));
    *HeaderOf(buffer) = BufferHeader{base, length};
    return buffer;
}

}  // namespace

void* AllocateImageBuffer(size_t size) {
    if (platform::MAPS_LARGE_BUFFERS && size >= MAPPED_FROM) return MapAligned(size);
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
    if (header.length != 0) {
        platform::UnmapPages(header.base, header.length);
        return;
    }
    std::free(header.base);
}
