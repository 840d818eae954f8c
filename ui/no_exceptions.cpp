// What the program does when the C++ library gives up: it ends. The program catches no
// exception, so any exception the library threw would end it too (std::terminate); doing
// so directly keeps libstdc++'s exception machinery, the unwinder and, through them, the
// posix threads library out of the file. Together they would add about 230 KB, and
// imports that Windows XP lacks (GetTickCount64).
//
// Linked into the program only. The library keeps its versions of the std::__throw_*
// helpers below in one object, so a helper missing here would fail the link with duplicate
// definitions rather than quietly bring the machinery back. The parts compiled into the
// library itself (std::string, streams, std::thread) would still bring it back; the
// program's imports and size tests report that.

#include <bits/functexcept.h>  // the library's declarations, so that a changed signature fails to compile

#include <cstdlib>
#include <new>

void* operator new(std::size_t size) {
    void* block = std::malloc(size == 0 ? 1 : size);
    if (block == nullptr) std::abort();
    return block;
}
void* operator new[](std::size_t size) { return operator new(size); }
void* operator new(std::size_t size, const std::nothrow_t&) noexcept {
    return std::malloc(size == 0 ? 1 : size);
}
void* operator new[](std::size_t size, const std::nothrow_t&) noexcept {
    return std::malloc(size == 0 ? 1 : size);
}

void operator delete(void* block) noexcept { std::free(block); }
void operator delete[](void* block) noexcept { std::free(block); }
void operator delete(void* block, std::size_t) noexcept { std::free(block); }
void operator delete[](void* block, std::size_t) noexcept { std::free(block); }
void operator delete(void* block, const std::nothrow_t&) noexcept { std::free(block); }
void operator delete[](void* block, const std::nothrow_t&) noexcept { std::free(block); }

// The containers' and strings' failure paths (a vector grown past max_size(), at() out of
// range, ...).
namespace std {
void __throw_bad_exception() { abort(); }
void __throw_bad_alloc() { abort(); }
void __throw_bad_array_new_length() { abort(); }
void __throw_bad_cast() { abort(); }
void __throw_bad_typeid() { abort(); }
void __throw_logic_error(const char*) { abort(); }
void __throw_domain_error(const char*) { abort(); }
void __throw_invalid_argument(const char*) { abort(); }
void __throw_length_error(const char*) { abort(); }
void __throw_out_of_range(const char*) { abort(); }
void __throw_out_of_range_fmt(const char*, ...) { abort(); }
void __throw_runtime_error(const char*) { abort(); }
void __throw_range_error(const char*) { abort(); }
void __throw_overflow_error(const char*) { abort(); }
void __throw_underflow_error(const char*) { abort(); }
}  // namespace std
