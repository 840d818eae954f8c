#pragma once
// Finds the folders that hold a game's executable: in each Steam library (the Steam
// folder itself and every library its libraryfolders.vdf names, a memory card's
// included), in the folders the other launchers installed games into, in the Wine
// prefixes, or below one folder the player names.

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

// What a place is: how it is searched.
enum class PlaceKind {
    GAME_FOLDER,        // a game's folder: searched 5 levels down
    WINE_DRIVE,         // a prefix's drive_c: 5 levels down
    GAME_COLLECTION,    // a folder of game folders and prefixes (~/Games), 2 levels down to them
    PREFIX_COLLECTION,  // a folder of Wine prefixes (Bottles' bottles)
    HEROIC_LIST,        // a list file whose game folders are searched (launcher_lists.h)
    LEGENDARY_LIST,
    LUTRIS_DATABASE,
};

struct SearchPlace {
    PlaceKind kind;
    std::string path;
};

// Where the player's games are for the user whose home folder is `home`, with the prefix
// `winePrefix` (from $WINEPREFIX; empty for none): the Steam folders of native, Flatpak
// and Snap Steam, then the other places in the order they are searched: the launchers'
// lists, the Bottles, ~/Games/Heroic and ~/Games, and the prefixes' drive_c.
struct SearchPlaces {
    std::vector<std::string> steamRoots;
    std::vector<SearchPlace> places;
};
SearchPlaces UsualPlaces(const std::string& home, const std::string& winePrefix);

// The library folders that the text of a libraryfolders.vdf names, in its order: both the
// old form ("1" "/path") and the current one ("0" { "path" "/path" ... }). False, with
// why, when the text is not KeyValues or has no libraryfolders block.
bool LibraryFoldersOf(const std::string& vdfText, std::vector<std::string>* folders, std::string* error);

// Levels searched below a game folder or a drive_c, and below the folder --find is given.
const int GAME_DEPTH = 5;
const int BELOW_DEPTH = 6;

// Searches each Steam library (its steamapps/common/<game> folders and the drive_c of each
// prefix in steamapps/compatdata), then each of the other places. Wherever the search
// meets a Wine prefix (a folder holding drive_c), only its drive_c is searched, to
// GAME_DEPTH at least; a folder holding steamapps/ is searched as a Steam library. A
// folder reached twice (through a link, or a second name of one Steam folder) is searched
// once, and links that lead back up end there.
void SearchUsualPlaces(const SearchPlaces& places, GameSearch* result);

// Searches `folder` and `depth` levels below it.
void SearchBelow(const std::string& folder, GameSearch* result, int depth = BELOW_DEPTH);
