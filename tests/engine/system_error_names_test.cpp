// The errno names that scripts read in "error"."code": the engine's own table, since the
// static build's runtime need not name them, checked against glibc's names where it has them.

#include <cerrno>
#include <cstring>
#include <string>

#include <gtest/gtest.h>

#include "target_file.h"

namespace {

TEST(SystemErrorNames, AreGlibcsNames) {
#if defined(__GLIBC__) && (__GLIBC__ > 2 || (__GLIBC__ == 2 && __GLIBC_MINOR__ >= 32))
    int named = 0;
    for (int error = 1; error < 200; ++error) {
        char code[32];
        FormatSystemErrorCode(static_cast<unsigned long>(error), code);
        const std::string ours = code;
        // A number the table does not name is given as E<n>.
        if (ours == "E" + std::to_string(error)) continue;
        ++named;
        const char* glibc = strerrorname_np(error);
        ASSERT_NE(glibc, nullptr) << ours << " is no errno of glibc's (" << error << ")";
        EXPECT_EQ(ours, glibc) << "errno " << error;
    }
    // The errors a file operation of the job gives are all named.
    for (const int error : {EACCES, EPERM, EROFS, ENOSPC, EDQUOT, EIO, EEXIST, ENOENT, EBUSY, ETXTBSY, EFBIG}) {
        char code[32];
        FormatSystemErrorCode(static_cast<unsigned long>(error), code);
        EXPECT_STREQ(code, strerrorname_np(error));
    }
    EXPECT_GT(named, 20);
#else
    GTEST_SKIP() << "this C library has no strerrorname_np() to compare with";
#endif
}

}  // namespace
