// cli_test [gtest options] PROGRAM [JSON_FOLDER]
//   Runs the cases against the velmora-patch program at PROGRAM. With JSON_FOLDER, every
//   --json output is kept there (emptied first), for the check against the schema.

#include <cstdio>
#include <filesystem>

#include <gtest/gtest.h>

#include "cli_runner.h"

int main(int argc, char** argv) {
    testing::InitGoogleTest(&argc, argv);
    if (argc != 2 && argc != 3) {
        std::fprintf(stderr, "usage: %s [gtest options] PROGRAM [JSON_FOLDER]\n", argv[0]);
        return 2;
    }
    g_programPath = std::filesystem::absolute(argv[1]).string();
    if (argc == 3) {
        const std::filesystem::path folder = std::filesystem::absolute(argv[2]);
        std::error_code ignored;
        std::filesystem::remove_all(folder, ignored);
        std::filesystem::create_directories(folder);
        g_jsonOutputFolder = folder.string();
    }
    return RUN_ALL_TESTS();
}
