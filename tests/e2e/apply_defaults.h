#pragma once
// The program's main path for a person watching: start it in a game folder, press Apply
// with the default values, report the result, leave with Exit.

#include <string>

// Returns the program's exit code, or 1 when the run could not be carried out. With a
// non-empty `pauseFolder` it writes input.ready and result.ready there when each screen
// stands and goes on once the file has been removed.
int ApplyDefaults(const std::string& program, const std::string& gameFolder,
                  const std::string& pauseFolder);
