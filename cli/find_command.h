#pragma once
// velmora-patch --find [DIR]: every folder that holds a game's executable, with the
// executable and the state of the game, as text (one folder a line) or as JSON.

#include <string>

// Searches below `dir`, or the usual places when it is empty. What a script reads (the
// games, or the JSON object) goes into `output`; what the player reads (nothing found, the
// places tried) into `messages`. Returns the exit code: 0 when a game was found, 3 when
// none was. `dir` must be a folder that is there (see FolderIsThere).
int RunFindCommand(const std::string& dir, bool json, std::string* output, std::string* messages);
