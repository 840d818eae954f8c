#pragma once
// What a restore has to choose from: each kept copy of the target (<name>.orig, <name>.bak)
// that is there, held against the target as it is before the restore.

#include <vector>

#include "report_output.h"

// The target as the patch job would choose it in the current folder; none when no candidate
// opens. Reads only.
std::vector<CopyCheck> CheckKeptCopies();
