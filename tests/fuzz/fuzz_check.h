#pragma once
// What every fuzz target shares: the end of a run whose property did not hold, and the
// input taken apart into the values a target builds its case from.
//
// A target is tests/fuzz/<name>_fuzz.cpp with LLVMFuzzerTestOneInput; it is built twice
// (CMakeLists.txt here): as a libFuzzer program, and as a GoogleTest program that replays
// corpus/<name>/. FuzzFailed is what differs between the two.

#include <cstddef>
#include <cstdint>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

// Under libFuzzer: prints `what` and aborts, so that libFuzzer keeps the input as a crash.
// In the replay: fails the case of the corpus file with `what`. Either way `what` is shown
// as Printable shows it.
[[noreturn]] void FuzzFailed(const std::string& what);

// The text with every byte outside printable ASCII as \xHH: a message may quote the input,
// and neither a terminal nor a test report should get its raw bytes.
inline std::string Printable(const std::string& text) {
    static const char HEX[] = "0123456789ABCDEF";
    std::string shown;
    for (const char c : text) {
        const unsigned char u = static_cast<unsigned char>(c);
        if (u >= 0x20 && u < 0x7F && u != '\\') {
            shown += c;
        } else {
            shown += "\\x";
            shown += HEX[u >> 4];
            shown += HEX[u & 15];
        }
    }
    return shown;
}

inline void FuzzExpect(bool holds, const char* what) {
    if (!holds) FuzzFailed(what);
}

// The input read from the front, a value at a time; once it is used up every value is 0,
// so that every input, however short, makes a case.
class FuzzInput {
public:
    FuzzInput(const uint8_t* data, size_t size) : at_(data), end_(data + size) {}

    uint8_t Byte() { return at_ < end_ ? *at_++ : 0; }
    uint16_t U16() { return static_cast<uint16_t>(Byte() | Byte() << 8); }
    uint32_t U32() { return static_cast<uint32_t>(U16()) | static_cast<uint32_t>(U16()) << 16; }
    // A value from 0 to n - 1.
    uint32_t Below(uint32_t n) { return n <= 256 ? Byte() % n : n <= 65536 ? U16() % n : U32() % n; }
    bool Flag() { return (Byte() & 1) != 0; }

    size_t Left() const { return static_cast<size_t>(end_ - at_); }
    // The rest of the input, which is then used up.
    std::string Rest() {
        std::string rest(reinterpret_cast<const char*>(at_), Left());
        at_ = end_;
        return rest;
    }

private:
    const uint8_t* at_;
    const uint8_t* end_;
};
