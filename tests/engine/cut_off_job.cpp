// cut_off_job STEP
//   Carries out the patch job of the cut-off test in the current folder and ends the process
//   right after file step STEP (exit code 42), or exits 0 when the job finished first and 1
//   when it failed. Windows has no fork, so the test starts this program for each step.

#include <cstdio>
#include <cstdlib>

#include "cut_off.h"

int main(int argc, char** argv) {
    if (argc != 2 || std::atoi(argv[1]) < 1) {
        std::fprintf(stderr, "usage: cut_off_job STEP\n");
        return 3;
    }
    return RunCutOffJob(std::atoi(argv[1]));
}
