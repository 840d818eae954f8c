// velmora-patch finding the game: --exe, the no-target report that names the folder, the
// names and every refusal, and --find over a home laid out as Steam and Wine lay it out.

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include <gtest/gtest.h>

#include "cli_runner.h"
#include "expected.h"
#include "json_value.h"
#include "steam_library_files.h"

#ifndef _WIN32
#include <sqlite3.h>
#include <sys/stat.h>

#include <functional>
#endif

namespace fs = std::filesystem;

namespace {

#ifdef _WIN32
const char ANY_CASE[] = "";
#else
const char ANY_CASE[] = "  (in capitals or small letters alike).\n";
#endif

const char ALL_NAMES[] = "  Vlmr2.exe, v2plus.exe, vlmr3.exe, vm3plus.exe, vlmr4.exe, PCVlmr5.exe\n";

// The paths as the program quotes them for the player's shell, written here in POSIX single
// quotes: on Windows in double quotes (none of these paths holds a quote of its own).
std::string Native(std::string quoted) {
#ifdef _WIN32
    for (char& c : quoted) {
        if (c == '\'') c = '"';
    }
#endif
    return quoted;
}

std::string Searched(const GameFolder& folder) { return Native("Searched '" + folder.path().string() + "' for\n"); }

// The part below the window's text, without the closing complaint.
std::string Below(const std::string& err) {
    const size_t at = err.find("\nSearched ");
    if (at == std::string::npos) return std::string();
    const std::string below = err.substr(at + 1);
    return below.substr(0, below.rfind("velmora-patch: "));
}

// What follows when none of the names is there.
std::string FindHint() { return "To search the usual places of games: " + g_programPath + " --find\n"; }

void MakeReadOnly(const GameFolder& folder, const std::string& name) {
    folder.Write(name, FixtureImage());
    fs::permissions(folder.PathOf(name), fs::perms::owner_write | fs::perms::group_write | fs::perms::others_write,
                    fs::perm_options::remove);
}

TEST(CliNoTarget, NamesTheFolderTheNamesAndEveryRefusal) {
    GameFolder empty;
    for (const std::vector<std::string>& args : {std::vector<std::string>{}, {"--restore"}, {"--dry-run"}}) {
        const CliRun run = empty.Run(args);
        EXPECT_EQ(run.exitCode, 3);
        EXPECT_EQ(Below(run.err), Searched(empty) + ALL_NAMES + ANY_CASE + "None of them is there.\n" + FindHint()) << run.err;
    }

    // Five refusals: the window's text names three, this report every one.
    GameFolder folder;
    for (const char* name : {"Vlmr2.exe", "v2plus.exe", "vlmr3.exe", "vm3plus.exe", "vlmr4.exe"}) MakeReadOnly(folder, name);
    fs::create_directory(folder.PathOf("PCVlmr5.exe"));
    const CliRun run = folder.Run({});
    EXPECT_EQ(run.exitCode, 3) << run.out << run.err;
    std::string refusals;
    for (const char* name : {"Vlmr2.exe", "v2plus.exe", "vlmr3.exe", "vm3plus.exe", "vlmr4.exe"}) {
#ifdef _WIN32
        refusals += std::string("  ") + name + ": read-only\n    Clear its read-only attribute.\n";
#else
        refusals += std::string("  ") + name + ": read-only\n    Make it writable: chmod u+w '" + folder.PathOf(name) + "'\n";
#endif
    }
    EXPECT_EQ(Below(run.err), Searched(folder) + ALL_NAMES + ANY_CASE + "Found, but not opened:\n" + refusals +
                                  "  PCVlmr5.exe: not a file\n")
        << run.out;
    // The window's own lines come first, as they were.
    const std::string window = "No Velmora 2345 files\nMaybe file is busy\nVlmr2.exe: read-only\nv2plus.exe: read-only\n";
    EXPECT_EQ(run.err.compare(0, window.size(), window), 0) << run.err;
}

TEST(CliExe, PicksOneCandidateAndOpensNoOther) {
    GameFolder folder;
    folder.Write("Vlmr2.exe", FixtureImage());
    folder.Write("vlmr3.exe", FixtureImage());
    CliRun run = folder.Run({"--exe", "VLMR2.EXE", "--fps"});
    EXPECT_EQ(run.exitCode, 0) << run.out << run.err;
    EXPECT_EQ(run.out.compare(0, 16, "Done Vlmr2.exe!\n"), 0) << run.out;
    EXPECT_EQ(folder.Read("vlmr3.exe"), FixtureImage());
    EXPECT_FALSE(folder.Exists("vlmr3.exe.bak"));

    run = folder.Run({"--exe=Vlmr2.exe", "--restore"});
    EXPECT_EQ(run.exitCode, 0) << run.out << run.err;
    EXPECT_EQ(folder.Read("Vlmr2.exe"), FixtureImage());

    // One that is not there is not made up for by another.
    run = folder.Run({"--exe", "vlmr4.exe"});
    EXPECT_EQ(run.exitCode, 3);
    EXPECT_EQ(Below(run.err), Searched(folder) + "  vlmr4.exe\n" + ANY_CASE + "It is not there.\n" + FindHint()) << run.out;
    EXPECT_EQ(folder.Read("vlmr3.exe"), FixtureImage());

    const struct {
        std::vector<std::string> args;
        std::string error;
    } refused[] = {
        {{"--exe", "game.exe"}, "--exe: 'game.exe' is not one of Vlmr2.exe, v2plus.exe, vlmr3.exe, vm3plus.exe, "
                                "vlmr4.exe, PCVlmr5.exe"},
        {{"--exe", "vlmr3.exe.bak"}, "--exe: 'vlmr3.exe.bak' is not one of"},
        {{"--exe", "../vlmr3.exe"}, "--exe: '../vlmr3.exe' is not one of"},
        {{"--exe", ""}, "--exe: '' is not one of"},
        {{"--exe"}, "--exe needs a value"},
        {{"--exe", "vlmr3.exe", "--find"}, "--exe does not go with --find"},
    };
    for (const auto& r : refused) {
        const FolderState before = Snapshot(folder.path());
        run = folder.Run(r.args);
        EXPECT_EQ(run.exitCode, 2) << r.error;
        EXPECT_NE(run.err.find("velmora-patch: " + InShellQuotes(r.error)), std::string::npos) << run.err;
        EXPECT_EQ(Snapshot(folder.path()), before);
    }
}

#ifndef _WIN32
TEST(CliExe, TwoSpellingsAreLeftToThePlayerUntilExePicksOne) {
    GameFolder folder;
    folder.Write("VLMR3.EXE", FixtureImage());
    folder.Write("Vlmr3.exe", FixtureImage());
    const FolderState before = Snapshot(folder.path());
    CliRun run = folder.Run({});
    EXPECT_EQ(run.exitCode, 3);
    EXPECT_EQ(Below(run.err), Searched(folder) + ALL_NAMES + ANY_CASE +
                                  "Found, but not opened:\n"
                                  "  VLMR3.EXE: also there as Vlmr3.exe\n"
                                  "  Vlmr3.exe: also there as VLMR3.EXE\n"
                                  "Names that differ only in case are not chosen between:\n"
                                  "  pick one with --exe, for example\n  " + g_programPath + " --dir '" +
                                  folder.path().string() + "' --exe 'VLMR3.EXE'\n")
        << run.out;
    EXPECT_EQ(Snapshot(folder.path()), before);

    run = folder.Run({"--exe", "VLMR3.EXE", "--json"});
    EXPECT_EQ(run.exitCode, 0) << run.out << run.err;
    JsonValue json;
    std::string error;
    ASSERT_TRUE(ParseJson(run.out, &json, &error)) << error;
    EXPECT_EQ(json["target"].text, "VLMR3.EXE");
    ASSERT_EQ(json["copies"].items.size(), 2u);
    EXPECT_EQ(json["copies"].items[0]["name"].text, "VLMR3.EXE.bak");
    EXPECT_EQ(json["copies"].items[1]["name"].text, "VLMR3.EXE.orig");
    EXPECT_EQ(folder.Read("Vlmr3.exe"), FixtureImage());
    EXPECT_EQ(folder.Read("VLMR3.EXE.orig"), FixtureImage());
}
#endif

void Put(const fs::path& file, const Bytes& bytes) {
    fs::create_directories(file.parent_path());
    std::ofstream out(file, std::ios::binary);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

// Sets an environment variable for the program runs of one test.
class EnvironmentScope {
public:
    EnvironmentScope(const char* name, const std::string& value) : name_(name) {
        if (const char* old = std::getenv(name)) {
            had_ = true;
            old_ = old;
        }
        Set(value.c_str());
    }
    ~EnvironmentScope() { Set(had_ ? old_.c_str() : nullptr); }

private:
    void Set(const char* value) {
#ifdef _WIN32
        _putenv_s(name_, value != nullptr ? value : "");
#else
        if (value != nullptr) {
            setenv(name_, value, 1);
        } else {
            unsetenv(name_);
        }
#endif
    }
    const char* name_;
    bool had_ = false;
    std::string old_;
};

TEST(CliFind, BelowAFolderWithTheStateOfEachGame) {
    GameFolder root, game;
    game.Write("vlmr3.exe", FixtureImage());
    ASSERT_EQ(game.Run({"--fps"}).exitCode, 0);
    const fs::path dir = root.path();
    Put(dir / "Velmora 2" / "Vlmr2.exe", FixtureImage());
    Put(dir / "Velmora 3" / "patched" / "vlmr3.exe", game.Read("vlmr3.exe"));
    Put(dir / "Velmora 3" / "patched" / "vlmr3.exe.orig", game.Read("vlmr3.exe.orig"));
    Put(dir / "Velmora 4" / "a" / "b" / "c" / "vlmr4.exe", Bytes(64, 0x90));
    Put(dir / "Velmora 5" / "a" / "b" / "c" / "d" / "e" / "f" / "PCVlmr5.exe", FixtureImage());  // seven levels: too deep
    const std::string sep(1, fs::path::preferred_separator);
    const std::string lines = "'" + (dir / "Velmora 2").string() + "'  Vlmr2.exe  original\n'" +
                              (dir / "Velmora 3" / "patched").string() + "'  vlmr3.exe  patched\n'" +
                              (dir / "Velmora 4" / "a" / "b" / "c").string() + "'  vlmr4.exe  unknown\n";
    CliRun run = game.Run({"--find", dir.string()});
    EXPECT_EQ(run.exitCode, 0) << run.out << run.err;
    EXPECT_EQ(run.out, Native(lines));

    run = game.Run({"--find=" + dir.string(), "--json"});
    EXPECT_EQ(run.exitCode, 0) << run.out << run.err;
    JsonValue json;
    std::string error;
    ASSERT_TRUE(ParseJson(run.out, &json, &error)) << error << run.out;
    EXPECT_EQ(json["schema"].number, 2);
    EXPECT_EQ(json["exit_code"].number, 0);
    ASSERT_EQ(json["games"].items.size(), 3u);
    EXPECT_EQ(json["games"].items[1]["folder"].text, (dir / "Velmora 3" / "patched").string());
    EXPECT_EQ(json["games"].items[1]["target"].text, "vlmr3.exe");
    EXPECT_EQ(json["games"].items[1]["state"].text, "patched");
    EXPECT_EQ(json["games"].items[2]["state"].text, "unknown");

    // Nothing there: exit 3, and what was searched.
    GameFolder nothing;
    run = game.Run({"--find", nothing.path().string()});
    EXPECT_EQ(run.exitCode, 3);
    // Nothing for a script to read on stdout: the message and the places are on stderr.
    EXPECT_EQ(run.out, "");
    EXPECT_EQ(run.err, Native("No Velmora 2345 game was found.\nSearched:\n  '" + nothing.path().string() + "'\n"));
    run = game.Run({"--find", nothing.path().string(), "--json"});
    EXPECT_EQ(run.exitCode, 3);
    ASSERT_TRUE(ParseJson(run.out, &json, &error)) << error << run.out;
    EXPECT_EQ(json["games"].items.size(), 0u);
    EXPECT_EQ(json["folder"].text, nothing.path().string());
    EXPECT_EQ(json["error"]["code"].text, "no_game");
    ASSERT_EQ(json["searched"].items.size(), 1u);
    EXPECT_EQ(json["searched"].items[0].text, nothing.path().string());
    run = game.Run({"--find", "--dry-run"});
    EXPECT_EQ(run.exitCode, 2);
}

#ifdef _WIN32
// Windows has no Wine prefix to speak of.
TEST(CliFind, NothingOnWindowsNamesItsOwnPlaces) {
    GameFolder empty, here;
    EnvironmentScope drive("SystemDrive", empty.path().string());
    EnvironmentScope programs("ProgramFiles(x86)", empty.PathOf("x86"));
    EnvironmentScope programs64("ProgramFiles", empty.PathOf("x64"));
    const CliRun run = here.Run({"--find"});
    EXPECT_EQ(run.exitCode, 3);
    EXPECT_EQ(run.out, "");
    EXPECT_EQ(run.err, "No Velmora 2345 game was found.\nThere is no Steam library and no GOG game folder here.\n");
}
#endif

#ifndef _WIN32
// A folder name that is not UTF-8 (a Latin-1 "é" from an old archive) beside one that is:
// the JSON stays valid UTF-8, and a script that reads it with Python's json gets the name's
// very bytes back through "surrogateescape".
TEST(CliFind, JsonOfAFolderNameThatIsNotUtf8ReadsBackToItsBytes) {
    GameFolder root, game;
    const fs::path dir = root.path();
    const std::string stray = "Velm\xE9ra \xC3\xBC \xFF\xC3";
    Put(dir / stray / "vlmr3.exe", FixtureImage());
    const CliRun run = game.Run({"--find", dir.string(), "--json"});
    EXPECT_EQ(run.exitCode, 0) << run.out << run.err;
    const fs::path out = root.path() / "find.json";
    std::ofstream(out, std::ios::binary) << run.out;
    const std::string script =
        "import json, os, sys\n"
        "raw = open(sys.argv[1], 'rb').read()\n"
        "raw.decode('utf-8')\n"  // strict: raises on any stray byte
        "folder = json.loads(raw)['games'][0]['folder']\n"
        "sys.stdout.buffer.write(folder.encode('utf-8', 'surrogateescape'))\n";
    const fs::path program = root.path() / "read.py";
    std::ofstream(program) << script;
    const fs::path back = root.path() / "back";
    const std::string command = "python3 '" + program.string() + "' '" + out.string() + "' > '" + back.string() + "'";
    ASSERT_EQ(std::system(command.c_str()), 0) << run.out;
    std::ifstream read(back, std::ios::binary);
    const std::string bytes((std::istreambuf_iterator<char>(read)), std::istreambuf_iterator<char>());
    EXPECT_EQ(bytes, (dir / stray).string());
}
#endif

#ifndef _WIN32
// Steam on a Deck with a memory card, Flatpak Steam with a list of the old form, and Wine.
TEST(CliFind, TheSteamLibrariesAndWinePrefixesOfTheHome) {
    GameFolder root, here;
    const fs::path home = root.path() / "home", card = root.path() / "card", disk = root.path() / "disk";
    const fs::path steam = home / ".local/share/Steam";
    const fs::path flatpak = home / ".var/app/com.valvesoftware.Steam/.local/share/Steam";
    const std::string deck = LibraryFile(LIBRARY_FOLDERS_DECK, home.string(), card.string());
    const std::string old = LibraryFile(LIBRARY_FOLDERS_OLD, home.string(), disk.string());
    Put(steam / "steamapps/libraryfolders.vdf", Bytes(deck.begin(), deck.end()));
    Put(flatpak / "steamapps/libraryfolders.vdf", Bytes(old.begin(), old.end()));
    fs::create_directories(home / ".steam");
    fs::create_directory_symlink(steam, home / ".steam/steam");
    Put(card / "steamapps/common/Velmora 3/VLMR3.EXE", FixtureImage());
    fs::create_directory_symlink("..", card / "steamapps/common/Velmora 3/loop");
    Put(disk / "steamapps/common/Velmora 2/Vlmr2.exe", FixtureImage());
    Put(root.path() / "prefix/drive_c/Games/Velmora 4/vlmr4.exe", FixtureImage());
    Put(home / ".wine/drive_c/Program Files/Velmora/PCVlmr5.exe", FixtureImage());

    EnvironmentScope homeVariable("HOME", home.string());
    EnvironmentScope prefixVariable("WINEPREFIX", (root.path() / "prefix").string());
    const CliRun run = here.Run({"--find"});
    EXPECT_EQ(run.exitCode, 0) << run.out << run.err;
    EXPECT_EQ(run.out, "'" + (card / "steamapps/common/Velmora 3").string() + "'  VLMR3.EXE  original\n'" +
                           (disk / "steamapps/common/Velmora 2").string() + "'  Vlmr2.exe  original\n'" +
                           (root.path() / "prefix/drive_c/Games/Velmora 4").string() + "'  vlmr4.exe  original\n'" +
                           (home / ".wine/drive_c/Program Files/Velmora").string() + "'  PCVlmr5.exe  original\n");

    EnvironmentScope nobody("HOME", (root.path() / "nobody").string());
    EnvironmentScope noPrefix("WINEPREFIX", "");
    const CliRun none = here.Run({"--find"});
    EXPECT_EQ(none.exitCode, 3);
    EXPECT_EQ(none.out, "");
    EXPECT_EQ(none.err, "No Velmora 2345 game was found.\nThere is no Steam library, no game launcher's folder and no Wine "
                        "prefix here.\n");
}

void PutText(const fs::path& file, const std::string& text) { Put(file, Bytes(text.begin(), text.end())); }

// Heroic's list of its GOG games, as it writes it.
std::string HeroicList(const fs::path& game) {
    return "{\n  \"installed\": [\n    {\n      \"platform\": \"windows\",\n      \"executable\": \"\",\n"
           "      \"install_path\": \"" + game.string() + "\",\n      \"install_size\": \"1.21 GiB\",\n"
           "      \"is_dlc\": false,\n      \"version\": \"1.0\",\n      \"appName\": \"1207658930\",\n"
           "      \"installedWithDLCs\": false,\n      \"language\": \"en-US\"\n    }\n  ]\n}";
}

// Legendary's list, as Legendary and Heroic's own Legendary write it.
std::string LegendaryList(const fs::path& game) {
    return "{\n  \"Velmora\": {\n    \"app_name\": \"Velmora\",\n    \"base_urls\": [],\n"
           "    \"can_run_offline\": true,\n    \"executable\": \"bin/vlmr3.exe\",\n"
           "    \"install_path\": \"" + game.string() + "\",\n    \"install_size\": 1207658930,\n"
           "    \"is_dlc\": false,\n    \"manifest_path\": null,\n    \"platform\": \"Windows\",\n"
           "    \"title\": \"Velmora 3\",\n    \"version\": \"1.0.0\"\n  }\n}";
}

// Lutris' database with one game installed and one that was removed (its folder kept).
void MakeLutrisDatabase(const fs::path& file, const fs::path& installed, const fs::path& removed) {
    fs::create_directories(file.parent_path());
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open(file.string().c_str(), &db), SQLITE_OK);
    const std::string sql =
        "CREATE TABLE games (id INTEGER PRIMARY KEY, name TEXT, slug TEXT, installer_slug TEXT, parent_slug TEXT,"
        " platform TEXT, runner TEXT, executable TEXT, directory TEXT, updated DATETIME, lastplayed INTEGER,"
        " installed INTEGER, installed_at INTEGER, year INTEGER, configpath TEXT, has_custom_banner INTEGER,"
        " has_custom_icon INTEGER, playtime REAL, hidden INTEGER, service TEXT, service_id TEXT);"
        "INSERT INTO games (name, slug, runner, directory, installed) VALUES"
        " ('Velmora 2', 'velmora-2', 'wine', '" + removed.string() + "', 0),"
        " ('Velmora 3', 'velmora-3', 'wine', '" + installed.string() + "', 1),"
        " ('Velmora 4', 'velmora-4', 'wine', NULL, 1);";
    char* error = nullptr;
    EXPECT_EQ(sqlite3_exec(db, sql.c_str(), nullptr, nullptr, &error), SQLITE_OK) << (error ? error : "");
    sqlite3_free(error);
    sqlite3_close(db);
}

// One layout of a fake home (and of the disks beside it) per case, as each launcher leaves
// it, none of their programs installed. Paths are below the case's root; "home" is $HOME.
// `found` holds a game at the deepest level that is searched, `missed` one just past it
// (or one that no list names): only the first is listed.
struct Layout {
    const char* what;
    std::vector<std::string> find;  // the folders after --find, none for the usual places
    std::string found;
    std::string missed;
    std::function<void(const fs::path& root)> lists = nullptr;
    std::string winePrefix = "";
};

const std::string STEAM = "home/.local/share/Steam/steamapps/";
const std::string HEROIC_FLATPAK = "home/.var/app/com.heroicgameslauncher.hgl/config/";

const Layout LAYOUTS[] = {
    {"Steam, five levels below the game folder", {}, STEAM + "common/Velmora 3/game/bin/x86/d4/d5",
     STEAM + "common/Velmora 3/game/bin/x86/d4/d5/d6"},
    {"a Proton prefix of a Steam library", {}, STEAM + "compatdata/2345/pfx/drive_c/GOG Games/Velmora 2/d3/d4/d5",
     STEAM + "compatdata/2345/pfx/drive_c/GOG Games/Velmora 2/d3/d4/d5/d6"},
    {"Snap Steam", {}, "home/snap/steam/common/.local/share/Steam/steamapps/common/Velmora 2/d1/d2/d3/d4/d5",
     "home/snap/steam/common/.local/share/Steam/steamapps/common/Velmora 2/d1/d2/d3/d4/d5/d6"},
    {"Heroic's GOG games", {}, "disk/gog/Velmora 5/d1/d2/d3/d4/d5", "disk/gog/Velmora 5/d1/d2/d3/d4/d5/d6",
     [](const fs::path& root) { PutText(root / "home/.config/heroic/gog_store/installed.json", HeroicList(root / "disk/gog/Velmora 5")); }},
    {"Heroic's GOG games, Flatpak", {}, "disk/gog/Velmora 4", "disk/other/Velmora 4",
     [](const fs::path& root) { PutText(root / (HEROIC_FLATPAK + "heroic/gog_store/installed.json"), HeroicList(root / "disk/gog/Velmora 4")); }},
    {"Heroic's Epic games, Flatpak", {}, "disk/epic/Velmora 3", "disk/other/Velmora 3",
     [](const fs::path& root) {
         PutText(root / (HEROIC_FLATPAK + "heroic/legendaryConfig/legendary/installed.json"), LegendaryList(root / "disk/epic/Velmora 3"));
     }},
    {"Heroic's Epic games", {}, "disk/epic/Velmora 3/d1/d2/d3/d4/d5", "disk/epic/Velmora 3/d1/d2/d3/d4/d5/d6",
     [](const fs::path& root) {
         PutText(root / "home/.config/heroic/legendaryConfig/legendary/installed.json", LegendaryList(root / "disk/epic/Velmora 3"));
     }},
    {"Legendary's games", {}, "disk/legendary/Velmora 2", "disk/other/Velmora 2",
     [](const fs::path& root) { PutText(root / "home/.config/legendary/installed.json", LegendaryList(root / "disk/legendary/Velmora 2")); }},
    {"Lutris, a game installed into a prefix of its own", {},
     "disk/lutris/velmora-3/drive_c/Program Files (x86)/Maker/Velmora 3/d4/d5", "disk/lutris/velmora-2/drive_c/Velmora 2",
     [](const fs::path& root) {
         MakeLutrisDatabase(root / "home/.local/share/lutris/pga.db", root / "disk/lutris/velmora-3", root / "disk/lutris/velmora-2");
     }},
    {"Lutris, Flatpak", {}, "disk/lutris/Velmora 3", "disk/lutris/Velmora 2",
     [](const fs::path& root) {
         MakeLutrisDatabase(root / "home/.var/app/net.lutris.Lutris/data/lutris/pga.db", root / "disk/lutris/Velmora 3",
                            root / "disk/lutris/Velmora 2");
     }},
    {"Bottles", {}, "home/.local/share/bottles/bottles/Velmora/drive_c/Program Files/d2/d3/d4/d5",
     "home/.local/share/bottles/bottles/Velmora/drive_c/Program Files/d2/d3/d4/d5/d6"},
    {"Bottles, Flatpak", {}, "home/.var/app/com.usebottles.bottles/data/bottles/bottles/Games/drive_c/Velmora 2",
     "home/.var/app/com.usebottles.bottles/data/bottles/bottles/Games/dosdevices/Velmora 2"},
    {"~/Games, a game folder two levels down", {}, "home/Games/Store/Velmora 2/d1/d2/d3/d4/d5",
     "home/Games/Store/Velmora 2/d1/d2/d3/d4/d5/d6"},
    {"~/Games, a Lutris prefix", {}, "home/Games/velmora-3/drive_c/Program Files (x86)/Maker/Velmora 3/d4/d5",
     "home/Games/velmora-3/drive_c/Program Files (x86)/Maker/Velmora 3/d4/d5/d6"},
    {"~/Games/Heroic, a game folder two levels down", {}, "home/Games/Heroic/Store/Velmora 4/d1/d2/d3/d4/d5",
     "home/Games/Heroic/Store/Velmora 4/d1/d2/d3/d4/d5/d6"},
    {"~/Games/Heroic, a prefix", {}, "home/Games/Heroic/Prefixes/default/Velmora 4/drive_c/d1/d2/d3/d4/d5",
     "home/Games/Heroic/Prefixes/default/Velmora 4/drive_c/d1/d2/d3/d4/d5/d6"},
    {"$WINEPREFIX", {}, "prefix/drive_c/d1/d2/d3/d4/d5", "prefix/drive_c/d1/d2/d3/d4/d5/d6", nullptr, "prefix"},
    {"~/.wine", {}, "home/.wine/drive_c/Program Files/Velmora/d3/d4/d5", "home/.wine/drive_c/Program Files/Velmora/d3/d4/d5/d6"},
    {"--find on a memory card, a library six levels down", {"media"}, "media/d1/d2/d3/d4/d5/Lib/steamapps/common/V/d1/d2/d3/d4/d5",
     "media/d1/d2/d3/d4/d5/d6/Lib/steamapps/common/V"},
    {"--find on a memory card, six levels down", {"media"}, "media/d1/d2/d3/d4/d5/d6", "media/d1/d2/d3/d4/d5/d6/d7"},
    {"--find ~, Flatpak Steam five levels down", {"home"},
     "home/.var/app/com.valvesoftware.Steam/.local/share/Steam/steamapps/common/Velmora 3/d1/d2/d3/d4/d5",
     "home/.var/app/com.valvesoftware.Steam/.local/share/Steam/steamapps/common/Velmora 3/d1/d2/d3/d4/d5/d6"},
    {"--find ~, a prefix", {"home"}, "home/Games/velmora-3/drive_c/Program Files (x86)/Maker/Velmora 3/d4/d5",
     "home/Games/velmora-3/drive_c/Program Files (x86)/Maker/Velmora 3/d4/d5/d6"},
};

TEST(CliFind, EveryPlacePlayersKeepGamesInToItsDepth) {
    for (const Layout& layout : LAYOUTS) {
        SCOPED_TRACE(layout.what);
        GameFolder root, here;
        const fs::path r = root.path();
        fs::create_directories(r / "home");
        Put(r / layout.found / "vlmr3.exe", Bytes(64, 0x90));
        Put(r / layout.missed / "Vlmr2.exe", Bytes(64, 0x90));
        if (layout.lists) layout.lists(r);
        EnvironmentScope homeVariable("HOME", (r / "home").string());
        EnvironmentScope prefixVariable("WINEPREFIX", layout.winePrefix.empty() ? "" : (r / layout.winePrefix).string());
        std::vector<std::string> args{"--find"};
        for (const std::string& dir : layout.find) args.push_back((r / dir).string());
        const CliRun run = here.Run(args);
        EXPECT_EQ(run.exitCode, 0) << run.err;
        EXPECT_EQ(run.out, Native("'" + (r / layout.found).string() + "'  vlmr3.exe  unknown\n"));
    }
}
#endif

#ifdef _WIN32
// A folder whose name no code page holds (Cyrillic and Latin together) is entered, found
// and patched: the arguments come as UTF-16, names stay UTF-8 inside, the calls are wide.
TEST(CliNames, AFolderOfAnyNameIsEnteredFoundAndPatched) {
    GameFolder root;
    const std::string name = "\xD0\x92\xD0\xB5\xD0\xBB\xD1\x8C\xD0\xBC\xD0\xBE\xD1\x80\xD0\xB0 2 \xC3\x89" "dition";
    const fs::path folder = root.path() / fs::u8path(name);
    fs::create_directories(folder);
    {
        const Bytes image = FixtureImage();
        std::ofstream out(folder / "vlmr3.exe", std::ios::binary);
        out.write(reinterpret_cast<const char*>(image.data()), static_cast<std::streamsize>(image.size()));
    }
    const std::string dir = root.path().u8string() + "\\" + name;

    CliRun run = root.Run({"--dir", dir, "--status", "--json"});
    EXPECT_EQ(run.exitCode, 0) << run.out << run.err;
    JsonValue json;
    std::string error;
    ASSERT_TRUE(ParseJson(run.out, &json, &error)) << error << run.out;
    EXPECT_EQ(json["folder"].text, dir);
    EXPECT_EQ(json["state"].text, "original");

    run = root.Run({"--find", root.path().u8string(), "--json"});
    EXPECT_EQ(run.exitCode, 0) << run.out << run.err;
    ASSERT_TRUE(ParseJson(run.out, &json, &error)) << error << run.out;
    ASSERT_EQ(json["games"].items.size(), 1u) << run.out;
    EXPECT_EQ(json["games"].items[0]["folder"].text, dir);

    run = root.Run({"--dir", dir, "--fps"});
    EXPECT_EQ(run.exitCode, 0) << run.out << run.err;
    EXPECT_TRUE(fs::exists(folder / "vlmr3.exe.bak"));
    EXPECT_TRUE(fs::exists(folder / "vlmr3.exe.orig"));
}
#endif

}  // namespace
