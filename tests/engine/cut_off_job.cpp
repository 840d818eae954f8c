// cut_off_job STEP [restore | force]
//   Carries out the patch job of the cut-off test in the current folder (or the restore,
//   forced or not) and ends the process right after file step STEP (exit code 42), or
//   exits 0 when the job finished first and 1 when it failed. Windows has no fork, so the
//   test starts this program for each step.

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "cut_off.h"

int main(int argc, char** argv) {
    if (argc < 2 || argc > 3 || std::atoi(argv[1]) < 1) {
        std::fprintf(stderr, "usage: cut_off_job STEP [restore | force]\n");
        return 3;
    }
    const int step = std::atoi(argv[1]);
    if (argc == 3) return RunCutOffRestore(step, std::strcmp(argv[2], "force") == 0);
    return RunCutOffJob(step);
}
