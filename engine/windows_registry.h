#pragma once
// Where the Windows stores' own programs wrote their install folders into the registry:
// Steam's folder (HKCU\Software\Valve\Steam) and each GOG game's folder
// (HKLM\SOFTWARE\WOW6432Node\GOG.com\Games\<id>).

#ifdef _WIN32
#include <string>
#include <vector>

// Steam's folders, with backslashes (Steam writes SteamPath with forward slashes).
std::vector<std::string> SteamFoldersInRegistry();

// The "path" of each game GOG's installers and GOG Galaxy recorded.
std::vector<std::string> GogGameFoldersInRegistry();
#endif
