// FuzzFailed for the libFuzzer programs: the abort is a crash to libFuzzer, which then
// writes the input out and names the file.

#include <cstdio>
#include <cstdlib>

#include "fuzz_check.h"

void FuzzFailed(const std::string& what) {
    std::fprintf(stderr, "fuzz property failed: %s\n", Printable(what).c_str());
    std::fflush(stderr);
    std::abort();
}
