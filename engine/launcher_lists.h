#pragma once
// The lists in which the game launchers of Linux record where they installed each game:
// Heroic's GOG list, Legendary's list (Epic games, also kept by Heroic) and Lutris'
// database. Each reader takes the file's bytes, reads nothing outside them and returns
// paths that are strings of them, in the list's order; a list it cannot read yields none.

#ifndef _WIN32
#include <cstddef>
#include <string>
#include <vector>

// gog_store/installed.json: {"installed": [{"install_path": ...}, ...]}.
std::vector<std::string> HeroicInstallPaths(const char* text, size_t size);

// legendary/installed.json: {"<app name>": {"install_path": ...}, ...}.
std::vector<std::string> LegendaryInstallPaths(const char* text, size_t size);

// lutris/pga.db, an SQLite database: games.directory of each game whose installed is 1.
std::vector<std::string> LutrisGameFolders(const unsigned char* database, size_t size);
#endif
