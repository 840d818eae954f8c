// e2e_test [gtest options] PROGRAM.exe
//   Runs the end-to-end cases against PROGRAM.exe.
// e2e_test --apply-defaults PROGRAM.exe GAME_FOLDER [PAUSE_FOLDER]
//   Starts PROGRAM.exe in GAME_FOLDER, presses Apply with the default values, prints the
//   result text and leaves with the Exit button; the exit code is the program's. With a
//   PAUSE_FOLDER it writes input.ready and result.ready there when each screen stands and
//   waits until the file has been removed again (for screenshots taken meanwhile).

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "apply_defaults.h"
#include "program_driver.h"

int main(int argc, char** argv) {
    if (argc >= 2 && std::strcmp(argv[1], "--apply-defaults") == 0) {
        if (argc != 4 && argc != 5) {
            std::fprintf(stderr, "usage: %s --apply-defaults PROGRAM.exe GAME_FOLDER [PAUSE_FOLDER]\n",
                         argv[0]);
            return 2;
        }
        return ApplyDefaults(argv[2], argv[3], argc == 5 ? argv[4] : "");
    }

    testing::InitGoogleTest(&argc, argv);
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s [gtest options] PROGRAM.exe\n", argv[0]);
        return 2;
    }
    SetProgramPath(argv[1]);
    return RUN_ALL_TESTS();
}
