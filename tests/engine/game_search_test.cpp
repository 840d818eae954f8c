// --find's search: every Steam library of native and Flatpak Steam (a memory card's
// included), the Wine prefixes, or one folder, each to its depth; each game folder once,
// whatever links lead to it, and links that lead back up end the walk.

#include <filesystem>
#include <fstream>
#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "game_search.h"
#include "steam_library_files.h"
#include "target_file.h"
#include "test_folder.h"

namespace fs = std::filesystem;

namespace {

using Games = std::vector<std::pair<std::string, std::string>>;

void Put(const fs::path& file, const std::string& text = "MZ") {
    fs::create_directories(file.parent_path());
    std::ofstream out(file, std::ios::binary);
    out << text;
}

Games GamesOf(const GameSearch& search) {
    Games games;
    for (const FoundGame& game : search.games) games.emplace_back(game.folder, game.exe);
    return games;
}

std::string Under(const fs::path& root, const std::string& rest) { return (root / rest).make_preferred().string(); }

TEST(GameSearch, BelowAFolderFourLevelsDeep) {
    TestFolder folder;
    const fs::path dir = folder.path();
    Put(dir / "vlmr3.exe");
    Put(dir / "a/b/c/d/Vlmr2.exe");
    Put(dir / "a/b/c/d/e/vlmr4.exe");         // five levels: too deep
    Put(dir / "a/x/vlmr3.exe.bak");          // no candidate
    fs::create_directories(dir / "a/vm3plus.exe");  // a folder of the name
    // Two candidates: the one the patcher would choose.
    Put(dir / "b/Vlmr2.exe");
    Put(dir / "b/PCVlmr5.exe");
    GameSearch search;
    SearchBelow(dir.string(), &search);
    EXPECT_EQ(GamesOf(search), (Games{{dir.string(), "vlmr3.exe"},
                                      {Under(dir, "a/b/c/d"), "Vlmr2.exe"},
                                      {Under(dir, "b"), "PCVlmr5.exe"}}));
    EXPECT_EQ(search.searched, std::vector<std::string>{dir.string()});

    GameSearch none;
    SearchBelow(Under(dir, "missing"), &none);
    EXPECT_TRUE(none.games.empty());
    EXPECT_TRUE(none.searched.empty());
}

#ifndef _WIN32
TEST(GameSearch, LinksBackUpEndAndEachFolderIsListedOnce) {
    TestFolder folder;
    const fs::path dir = folder.path();
    Put(dir / "game/VLMR3.EXE");
    fs::create_directory_symlink("..", dir / "game/up");         // a loop
    fs::create_directory_symlink(dir, dir / "game/home");         // a loop by an absolute path
    fs::create_directory_symlink(dir / "game", dir / "again");    // a second name of the game
    fs::create_directory_symlink("/", dir / "root");              // the top of every tree
    fs::create_directory_symlink(dir / "nowhere", dir / "dangling");
    GameSearch search;
    SearchBelow(dir.string(), &search);
    EXPECT_EQ(GamesOf(search), (Games{{Under(dir, "again"), "VLMR3.EXE"}}));
}

// A listing that does not say what its entries are (DT_UNKNOWN, as XFS without ftype gives
// it): each entry is looked at.
void ListAsUnknown(const char* name, ListedKind, void* context) {
    const auto& [each, inner] = *static_cast<std::pair<ListedEntryFn, void*>*>(context);
    each(name, LISTED_UNKNOWN, inner);
}
bool ListingThatDoesNotTell(const char* folder, ListedEntryFn each, void* context) {
    std::pair<ListedEntryFn, void*> inner(each, context);
    return DEFAULT_FILE_OPS.listFolder(folder, ListAsUnknown, &inner);
}

// The walk from `start` four levels deep, each row a tree that a wrong walk gets wrong.
TEST(GameSearch, WalkRows) {
    const struct {
        const char* label;
        const char* start;  // below the test folder
        void (*make)(const fs::path& dir);
        bool listingTellsNothing;
        Games (*expected)(const fs::path& dir);
    } rows[] = {
        // "games" is a string prefix of "games2" but no folder above it: the link is followed.
        {"link to a sibling whose path is a prefix of the start", "games2",
         [](const fs::path& dir) {
             Put(dir / "games/vlmr3.exe");
             fs::create_directories(dir / "games2");
             fs::create_directory_symlink(dir / "games", dir / "games2/link");
         },
         false, [](const fs::path& dir) { return Games{{Under(dir, "games2/link"), "vlmr3.exe"}}; }},
        // "z" is reached first at the last level through a link, then directly with levels
        // to spare: the levels below it are searched then.
        {"a folder reached deep, then directly with more levels left", "top",
         [](const fs::path& dir) {
             fs::create_directories(dir / "top/a/b/c");
             fs::create_directory_symlink(dir / "top/z", dir / "top/a/b/c/link");
             Put(dir / "top/z/y/vlmr3.exe");
         },
         false, [](const fs::path& dir) { return Games{{Under(dir, "top/z/y"), "vlmr3.exe"}}; }},
        {"a listing that does not tell folders from files", "top",
         [](const fs::path& dir) {
             Put(dir / "top/a/b/Vlmr2.exe");
             Put(dir / "top/a/vlmr3.exe.bak");
             fs::create_directories(dir / "elsewhere");
             Put(dir / "elsewhere/vlmr4.exe");
             fs::create_directory_symlink(dir / "elsewhere", dir / "top/link");
         },
         true,
         [](const fs::path& dir) {
             return Games{{Under(dir, "top/a/b"), "Vlmr2.exe"}, {Under(dir, "top/link"), "vlmr4.exe"}};
         }},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.label);
        TestFolder folder;
        const fs::path dir = folder.path();
        row.make(dir);
        if (row.listingTellsNothing) g_fileOps.listFolder = ListingThatDoesNotTell;
        GameSearch search;
        SearchBelow(Under(dir, row.start), &search);
        g_fileOps = DEFAULT_FILE_OPS;
        EXPECT_EQ(GamesOf(search), row.expected(dir));
    }
}

// A home as a Steam Deck or a Linux PC has it, with Steam both native and from Flatpak.
class SteamHome : public ::testing::Test {
protected:
    void SetUp() override {
        home = folder.path() / "home";
        card = folder.path() / "card";      // a memory card, named in the native list
        disk = folder.path() / "disk";      // a second disk, named in the Flatpak list (old form)
        prefix = folder.path() / "prefix";  // $WINEPREFIX
        const fs::path steam = home / ".local/share/Steam";
        Put(steam / "steamapps/libraryfolders.vdf", LibraryFile(LIBRARY_FOLDERS_DECK, home.string(), card.string()));
        fs::create_directories(home / ".steam");
        fs::create_directory_symlink(steam, home / ".steam/steam");
        const fs::path flatpak = home / ".var/app/com.valvesoftware.Steam/.local/share/Steam";
        Put(flatpak / "steamapps/libraryfolders.vdf", LibraryFile(LIBRARY_FOLDERS_OLD, home.string(), disk.string()));
    }

    TestFolder folder;
    fs::path home, card, disk, prefix;
};

TEST_F(SteamHome, EveryLibraryAndPrefixIsSearchedToItsDepth) {
    const fs::path steam = home / ".local/share/Steam/steamapps/common";
    Put(steam / "Velmora 3/VLMR3.EXE");
    Put(steam / "Velmora 2/bin/x86/Vlmr2.exe");        // two levels below the game folder
    Put(steam / "Velmora 2/bin/x86/deep/vlmr4.exe");   // three: too deep
    Put(steam / "vlmr3.exe");                           // in common itself
    Put(card / "steamapps/common/Velmora 5/PCVlmr5.exe");
    Put(card / "Velmora 4/vlmr4.exe");                  // on the card, but not in its library
    Put(home / ".var/app/com.valvesoftware.Steam/.local/share/Steam/steamapps/common/V2+/v2plus.exe");
    Put(disk / "steamapps/common/V3+/vm3plus.exe");
    Put(prefix / "drive_c/Program Files/Velmora/Velmora 3/Vlmr3.exe");  // four levels below drive_c
    Put(prefix / "drive_c/a/b/c/d/e/vlmr3.exe");                     // five: too deep
    Put(home / ".wine/drive_c/GOG Games/Velmora 2/Vlmr2.exe");
    Put(home / "Games/Velmora/vlmr3.exe");                           // in no place searched

    GameSearch search;
    SearchUsualPlaces(UsualPlaces(home.string(), prefix.string()), &search);
    const fs::path steamName = home / ".steam/steam/steamapps/common";  // the first name of it tried
    EXPECT_EQ(GamesOf(search), (Games{
                                   {steamName.string(), "vlmr3.exe"},
                                   {(steamName / "Velmora 2/bin/x86").string(), "Vlmr2.exe"},
                                   {(steamName / "Velmora 3").string(), "VLMR3.EXE"},
                                   {(card / "steamapps/common/Velmora 5").string(), "PCVlmr5.exe"},
                                   {(home / ".var/app/com.valvesoftware.Steam/.local/share/Steam/steamapps/common/V2+")
                                        .string(),
                                    "v2plus.exe"},
                                   {(disk / "steamapps/common/V3+").string(), "vm3plus.exe"},
                                   {(prefix / "drive_c/Program Files/Velmora/Velmora 3").string(), "Vlmr3.exe"},
                                   {(home / ".wine/drive_c/GOG Games/Velmora 2").string(), "Vlmr2.exe"},
                               }));
    // The native Steam folder under both of its names is one library, searched once.
    EXPECT_EQ(search.searched,
              (std::vector<std::string>{steamName.string(), (card / "steamapps/common").string(),
                                        (home / ".var/app/com.valvesoftware.Steam/.local/share/Steam/steamapps/common")
                                            .string(),
                                        (disk / "steamapps/common").string(), (prefix / "drive_c").string(),
                                        (home / ".wine/drive_c").string()}));
}

// A library that is not there (a memory card taken out) or a list that is not KeyValues
// leaves the rest to be searched.
TEST_F(SteamHome, AMissingLibraryOrABrokenListIsPassedOver) {
    Put(home / ".var/app/com.valvesoftware.Steam/.local/share/Steam/steamapps/libraryfolders.vdf",
        "\"libraryfolders\" { \"1\" \"" + disk.string());
    Put(home / ".local/share/Steam/steamapps/common/Velmora 3/vlmr3.exe");
    GameSearch search;
    SearchUsualPlaces(UsualPlaces(home.string(), ""), &search);
    EXPECT_EQ(GamesOf(search), (Games{{(home / ".steam/steam/steamapps/common/Velmora 3").string(), "vlmr3.exe"}}));

    GameSearch nothing;
    SearchUsualPlaces(UsualPlaces((folder.path() / "nobody").string(), ""), &nothing);
    EXPECT_TRUE(nothing.games.empty());
    EXPECT_TRUE(nothing.searched.empty());
}
#endif

}  // namespace
