// cli_test [gtest options] PROGRAM
//   Runs the cases against the velmora-patch program at PROGRAM.

#include <cstdio>
#include <filesystem>

#include <gtest/gtest.h>

#include "cli_runner.h"

int main(int argc, char** argv) {
    testing::InitGoogleTest(&argc, argv);
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s [gtest options] PROGRAM\n", argv[0]);
        return 2;
    }
    g_programPath = std::filesystem::absolute(argv[1]).string();
    return RUN_ALL_TESTS();
}
