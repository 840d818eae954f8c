// --find's search: every Steam library of native and Flatpak Steam (a memory card's
// included), the Wine prefixes, or one folder, each to its depth (the other launchers'
// places are in the CLI's test of a fake home); each game folder once,
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

#ifdef _WIN32
#include <windows.h>

#include <cstdlib>
#endif

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

TEST(GameSearch, BelowAFolderSixLevelsDeep) {
    TestFolder folder;
    const fs::path dir = folder.path();
    Put(dir / "vlmr3.exe");
    Put(dir / "a/b/c/d/e/f/Vlmr2.exe");
    Put(dir / "a/b/c/d/e/f/g/vlmr4.exe");     // seven levels: too deep
    Put(dir / "a/x/vlmr3.exe.bak");          // no candidate
    fs::create_directories(dir / "a/vm3plus.exe");  // a folder of the name
    // Two candidates: the one the patcher would choose.
    Put(dir / "b/Vlmr2.exe");
    Put(dir / "b/PCVlmr5.exe");
    GameSearch search;
    SearchBelow(dir.string(), &search);
    EXPECT_EQ(GamesOf(search), (Games{{dir.string(), "vlmr3.exe"},
                                      {Under(dir, "a/b/c/d/e/f"), "Vlmr2.exe"},
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

// The walk below `start` as --find DIR makes it, each row a tree that a wrong walk gets wrong.
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
             fs::create_directories(dir / "top/a/b/c/d/e");
             fs::create_directory_symlink(dir / "top/z", dir / "top/a/b/c/d/e/link");
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
    Put(steam / "Velmora 2/bin/x86/a/b/c/d/vlmr4.exe");  // six: too deep
    Put(steam / "vlmr3.exe");                           // in common itself
    Put(card / "steamapps/common/Velmora 5/PCVlmr5.exe");
    Put(card / "Velmora 4/vlmr4.exe");                  // on the card, but not in its library
    Put(home / ".var/app/com.valvesoftware.Steam/.local/share/Steam/steamapps/common/V2+/v2plus.exe");
    Put(disk / "steamapps/common/V3+/vm3plus.exe");
    Put(prefix / "drive_c/Program Files/Velmora/Velmora 3/Vlmr3.exe");  // three levels below drive_c
    Put(prefix / "drive_c/a/b/c/d/e/f/vlmr3.exe");                   // six: too deep
    Put(home / ".wine/drive_c/GOG Games/Velmora 2/Vlmr2.exe");
    Put(home / "Documents/Velmora/vlmr3.exe");                       // in no place searched

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

#ifdef _WIN32
// HKEY_CURRENT_USER and HKEY_LOCAL_MACHINE of this process alone, for one test: two fresh
// keys stand in for them, so that no other program (another test run at the same time)
// sees what the test writes, and nothing of the machine's is in the way.
class PrivateRegistry {
public:
    PrivateRegistry() : base_("Software\\VelmoraTests\\game-search-" + std::to_string(GetCurrentProcessId())) {
        DeleteTree(HKEY_CURRENT_USER, base_);
        EXPECT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, (base_ + "\\user").c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                                  &user_, nullptr),
                  ERROR_SUCCESS);
        EXPECT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, (base_ + "\\machine").c_str(), 0, nullptr, 0, KEY_ALL_ACCESS,
                                  nullptr, &machine_, nullptr),
                  ERROR_SUCCESS);
        EXPECT_EQ(RegOverridePredefKey(HKEY_CURRENT_USER, user_), ERROR_SUCCESS);
        EXPECT_EQ(RegOverridePredefKey(HKEY_LOCAL_MACHINE, machine_), ERROR_SUCCESS);
    }
    ~PrivateRegistry() {
        RegOverridePredefKey(HKEY_CURRENT_USER, nullptr);
        RegOverridePredefKey(HKEY_LOCAL_MACHINE, nullptr);
        RegCloseKey(user_);
        RegCloseKey(machine_);
        DeleteTree(HKEY_CURRENT_USER, base_);
    }

    static void Set(HKEY root, const std::string& key, const char* name, const std::string& value) {
        HKEY opened;
        ASSERT_EQ(RegCreateKeyExA(root, key.c_str(), 0, nullptr, 0, KEY_WRITE, nullptr, &opened, nullptr), ERROR_SUCCESS);
        EXPECT_EQ(RegSetValueExA(opened, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                                 static_cast<DWORD>(value.size() + 1)),
                  ERROR_SUCCESS);
        RegCloseKey(opened);
    }

private:
    // RegDeleteTree is Vista's; the build targets Windows XP.
    static void DeleteTree(HKEY root, const std::string& key) {
        HKEY opened;
        if (RegOpenKeyExA(root, key.c_str(), 0, KEY_READ, &opened) != ERROR_SUCCESS) return;
        std::vector<std::string> names;
        char name[256];
        for (DWORD length = sizeof name; RegEnumKeyExA(opened, static_cast<DWORD>(names.size()), name, &length, nullptr,
                                                       nullptr, nullptr, nullptr) == ERROR_SUCCESS;
             length = sizeof name) {
            names.emplace_back(name, length);
        }
        RegCloseKey(opened);
        for (const std::string& below : names) DeleteTree(root, key + "\\" + below);
        RegDeleteKeyA(root, key.c_str());
    }

    std::string base_;
    HKEY user_ = nullptr;
    HKEY machine_ = nullptr;
};

class VariableScope {
public:
    VariableScope(const char* name, const std::string& value) : name_(name) {
        if (const char* old = std::getenv(name)) old_ = old;
        _putenv_s(name, value.c_str());
    }
    ~VariableScope() { _putenv_s(name_, old_.c_str()); }

private:
    const char* name_;
    std::string old_;
};

// Steam where its registry value says (with the forward slashes Steam writes), a GOG game
// where GOG's key says, and the GOG folders of the installers and of GOG Galaxy.
TEST(GameSearch, WindowsPlacesFromTheRegistryAndGogsFolders) {
    TestFolder folder;
    const fs::path dir = folder.path();
    const fs::path steam = dir / "Games" / "Steam";
    Put(steam / "steamapps/common/Velmora 3/game/bin/x86/d4/d5/vlmr3.exe");
    Put(dir / "Store" / "Velmora 2" / "Vlmr2.exe");
    Put(dir / "drive" / "GOG Games" / "Velmora 4" / "vlmr4.exe");
    Put(dir / "x86" / "GOG Galaxy" / "Games" / "Velmora 5" / "PCVlmr5.exe");
    Put(dir / "x86" / "Galaxy" / "Velmora 2" / "v2plus.exe");  // in no place searched
    std::string steamPath = steam.string();
    for (char& c : steamPath) {
        if (c == '\\') c = '/';
    }
    const PrivateRegistry registry;
    PrivateRegistry::Set(HKEY_CURRENT_USER, "Software\\Valve\\Steam", "SteamPath", steamPath);
    PrivateRegistry::Set(HKEY_LOCAL_MACHINE, "SOFTWARE\\WOW6432Node\\GOG.com\\Games\\1207658930", "path",
                         (dir / "Store" / "Velmora 2").string());
    const VariableScope drive("SystemDrive", (dir / "drive").string());
    const VariableScope programs("ProgramFiles(x86)", (dir / "x86").string());
    const VariableScope programs64("ProgramFiles", (dir / "none").string());

    GameSearch search;
    SearchUsualPlaces(UsualPlaces("", ""), &search);
    EXPECT_EQ(GamesOf(search), (Games{{Under(dir, "Games/Steam/steamapps/common/Velmora 3/game/bin/x86/d4/d5"), "vlmr3.exe"},
                                      {Under(dir, "Store/Velmora 2"), "Vlmr2.exe"},
                                      {Under(dir, "drive/GOG Games/Velmora 4"), "vlmr4.exe"},
                                      {Under(dir, "x86/GOG Galaxy/Games/Velmora 5"), "PCVlmr5.exe"}}));
}
#endif

}  // namespace
