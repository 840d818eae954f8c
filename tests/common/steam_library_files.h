#pragma once
// libraryfolders.vdf as Steam writes it, in the forms seen in the wild, byte for byte in
// their layout: tabs, doubled tabs between key and value, escaped backslashes. "@HOME@" and
// "@CARD@" stand for the home folder and a memory card's mount point.

#include <string>

// Current Steam (2021 on), as on a Steam Deck with a memory card as a second library.
const char LIBRARY_FOLDERS_DECK[] =
    "\"libraryfolders\"\n"
    "{\n"
    "\t\"0\"\n"
    "\t{\n"
    "\t\t\"path\"\t\t\"@HOME@/.local/share/Steam\"\n"
    "\t\t\"label\"\t\t\"\"\n"
    "\t\t\"contentid\"\t\t\"2771046356328361052\"\n"
    "\t\t\"totalsize\"\t\t\"0\"\n"
    "\t\t\"update_clean_bytes_tally\"\t\t\"6032312116\"\n"
    "\t\t\"time_last_update_verified\"\t\t\"1702146543\"\n"
    "\t\t\"apps\"\n"
    "\t\t{\n"
    "\t\t\t\"228980\"\t\t\"375043342\"\n"
    "\t\t\t\"1070560\"\t\t\"216236520\"\n"
    "\t\t\t\"1493710\"\t\t\"1162318513\"\n"
    "\t\t}\n"
    "\t}\n"
    "\t\"1\"\n"
    "\t{\n"
    "\t\t\"path\"\t\t\"@CARD@\"\n"
    "\t\t\"label\"\t\t\"\"\n"
    "\t\t\"contentid\"\t\t\"7153478305939472383\"\n"
    "\t\t\"totalsize\"\t\t\"510781100032\"\n"
    "\t\t\"update_clean_bytes_tally\"\t\t\"20415612046\"\n"
    "\t\t\"time_last_update_verified\"\t\t\"1702146543\"\n"
    "\t\t\"apps\"\n"
    "\t\t{\n"
    "\t\t\t\"2369390\"\t\t\"20402108921\"\n"
    "\t\t}\n"
    "\t}\n"
    "}\n";

// Steam of 2021 before the current form: the bookkeeping key at the top, "mounted".
const char LIBRARY_FOLDERS_2021[] =
    "\"libraryfolders\"\n"
    "{\n"
    "\t\"contentstatsid\"\t\t\"-6590234574364398476\"\n"
    "\t\"1\"\n"
    "\t{\n"
    "\t\t\"path\"\t\t\"@CARD@\"\n"
    "\t\t\"label\"\t\t\"\"\n"
    "\t\t\"mounted\"\t\t\"1\"\n"
    "\t\t\"contentid\"\t\t\"4420466426946298434\"\n"
    "\t}\n"
    "}\n";

// Steam before 2021: the libraries other than Steam's own folder as numbered values.
const char LIBRARY_FOLDERS_OLD[] =
    "\"LibraryFolders\"\n"
    "{\n"
    "\t\"TimeNextStatsReport\"\t\t\"1563270145\"\n"
    "\t\"ContentStatsID\"\t\t\"-4591873493218473120\"\n"
    "\t\"1\"\t\t\"@CARD@\"\n"
    "}\n";

// Steam on Windows: backslashes escaped, a second drive.
const char LIBRARY_FOLDERS_WINDOWS[] =
    "\"libraryfolders\"\n"
    "{\n"
    "\t\"0\"\n"
    "\t{\n"
    "\t\t\"path\"\t\t\"C:\\\\Program Files (x86)\\\\Steam\"\n"
    "\t\t\"label\"\t\t\"\"\n"
    "\t\t\"contentid\"\t\t\"1616900521946793171\"\n"
    "\t\t\"apps\"\n"
    "\t\t{\n"
    "\t\t\t\"228980\"\t\t\"404262992\"\n"
    "\t\t}\n"
    "\t}\n"
    "\t\"1\"\n"
    "\t{\n"
    "\t\t\"path\"\t\t\"M:\\\\SteamLibrary\"\n"
    "\t\t\"label\"\t\t\"Games \\\"fast\\\" disk\"\n"
    "\t}\n"
    "}\n";

// The file with the placeholders put in.
inline std::string LibraryFile(const char* text, const std::string& home, const std::string& card) {
    std::string file = text;
    for (const auto& [mark, value] : {std::make_pair(std::string("@HOME@"), home), std::make_pair(std::string("@CARD@"), card)}) {
        for (size_t at; (at = file.find(mark)) != std::string::npos;) file.replace(at, mark.size(), value);
    }
    return file;
}
