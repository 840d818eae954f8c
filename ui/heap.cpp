// The program's operator new and delete. The library's versions report an exhausted heap
// by throwing, which would link the whole exception machinery into a program that throws
// nothing; here an allocation the heap cannot serve ends the process, as an uncaught
// exception would have.

#include <cstdlib>
#include <new>

void* operator new(std::size_t size) {
    void* block = std::malloc(size == 0 ? 1 : size);
    if (block == nullptr) std::abort();
    return block;
}

void* operator new[](std::size_t size) { return operator new(size); }

void operator delete(void* block) noexcept { std::free(block); }
void operator delete[](void* block) noexcept { std::free(block); }
void operator delete(void* block, std::size_t) noexcept { std::free(block); }
void operator delete[](void* block, std::size_t) noexcept { std::free(block); }
