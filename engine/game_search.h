#pragma once
// Finds the folders that hold a game's executable: in each Steam library (the Steam
// folder itself and every library its libraryfolders.vdf names, a memory card's
// included), in the Wine prefixes, or below one folder the player names.

#include <string>
#include <vector>

struct FoundGame {
    std::string folder;  // as reached from the place it was found in
    std::string exe;     // the executable the patcher would choose there, as on the disk
};

struct GameSearch {
    std::vector<std::string> searched;  // each place that was there and was looked through
    std::vector<FoundGame> games;       // in the order found, each folder once
};

// Where Steam and Wine keep games for the user whose home folder is `home`, with the
// prefix `winePrefix` (from $WINEPREFIX; empty for none): the Steam folders of native
// and Flatpak Steam, and the prefixes' drive_c.
struct SearchPlaces {
    std::vector<std::string> steamRoots;
    std::vector<std::string> wineDrives;
};
SearchPlaces UsualPlaces(const std::string& home, const std::string& winePrefix);

// The library folders that the text of a libraryfolders.vdf names, in its order: both the
// old form ("1" "/path") and the current one ("0" { "path" "/path" ... }). False, with
// why, when the text is not KeyValues or has no libraryfolders block.
bool LibraryFoldersOf(const std::string& vdfText, std::vector<std::string>* folders, std::string* error);

// Searches each game folder of each Steam library (steamapps/common/*) and two levels
// below it, and each Wine drive four levels below. A folder reached twice (through a link,
// or a second name of one Steam folder) is searched once, and links that lead back up
// end there.
void SearchUsualPlaces(const SearchPlaces& places, GameSearch* result);

// Searches `folder` and four levels below it.
void SearchBelow(const std::string& folder, GameSearch* result);
