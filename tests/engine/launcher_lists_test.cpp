// The launchers' lists read from their bytes alone: every install path in the list's
// order, nothing from a list that is cut short, damaged or of another shape, and nothing
// read past the bytes given (the sanitizers see a read past the copy made here).

#ifndef _WIN32

#include <sqlite3.h>

#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "launcher_lists.h"

namespace {

using Paths = std::vector<std::string>;

// The text in a block of its own size, so that a read past it is one past the allocation.
std::unique_ptr<char[]> Exactly(const std::string& text) {
    std::unique_ptr<char[]> copy(new char[text.size()]);
    std::memcpy(copy.get(), text.data(), text.size());
    return copy;
}

TEST(LauncherLists, JsonListsGiveEveryInstallPath) {
    const struct {
        const char* what;
        bool heroic;  // Heroic's GOG list, else Legendary's
        std::string text;
        Paths paths;
    } cases[] = {
        {"two GOG games", true,
         R"({"installed": [{"platform": "windows", "install_path": "/home/deck/Games/Heroic/Velmora 2", "is_dlc": false},)"
         R"( {"install_path": "/run/media/deck/SD/Velmora 3", "appName": "1"}]})",
         {"/home/deck/Games/Heroic/Velmora 2", "/run/media/deck/SD/Velmora 3"}},
        {"escapes are read", true, R"({"installed": [{"install_path": "/a \"b\"\\c \u00e9"}]})", {"/a \"b\"\\c \xc3\xa9"}},
        {"entries without a path, or not a string", true,
         R"({"installed": [{"install_path": 5}, {}, "x", null, {"install_path": ""}, {"install_path": "/ok"}]})", {"/ok"}},
        {"no list", true, R"({"installed": {"install_path": "/no"}})", {}},
        {"an array at the top", true, R"([{"install_path": "/no"}])", {}},
        {"cut short", true, R"({"installed": [{"install_path": "/no"})", {}},
        {"not UTF-8", true, "{\"installed\": [{\"install_path\": \"/\xe9\"}]}", {}},
        {"empty", true, "", {}},
        {"two Epic games", false,
         R"({"Velmora2": {"app_name": "Velmora2", "install_path": "/games/Velmora 2", "title": "Velmora 2"},)"
         R"( "Velmora3": {"install_path": "/games/Velmora 3", "manifest_path": null}})",
         {"/games/Velmora 2", "/games/Velmora 3"}},
        {"an entry that is no object", false, R"({"a": "/no", "b": [], "c": {"install_path": "/ok"}})", {"/ok"}},
        {"a GOG list read as Legendary's", false, R"({"installed": [{"install_path": "/no"}]})", {}},
        {"comments are not JSON", false, "// x\n{\"a\": {\"install_path\": \"/no\"}}", {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const auto bytes = Exactly(c.text);
        const Paths paths = c.heroic ? HeroicInstallPaths(bytes.get(), c.text.size())
                                     : LegendaryInstallPaths(bytes.get(), c.text.size());
        EXPECT_EQ(paths, c.paths);
    }
    EXPECT_TRUE(HeroicInstallPaths(nullptr, 0).empty());
    // The size given ends the text, even where more would follow.
    const std::string whole = R"({"installed": [{"install_path": "/ok"}]} trailing)";
    EXPECT_TRUE(HeroicInstallPaths(whole.data(), whole.size()).empty());
    EXPECT_EQ(HeroicInstallPaths(whole.data(), whole.find(" trailing")), Paths{"/ok"});
}

// A Lutris database built in memory, as its bytes.
std::string LutrisBytes(const char* sql) {
    sqlite3* db = nullptr;
    EXPECT_EQ(sqlite3_open(":memory:", &db), SQLITE_OK);
    char* error = nullptr;
    EXPECT_EQ(sqlite3_exec(db, sql, nullptr, nullptr, &error), SQLITE_OK) << (error ? error : "");
    sqlite3_free(error);
    sqlite3_int64 size = 0;
    unsigned char* data = sqlite3_serialize(db, "main", &size, 0);
    std::string bytes(reinterpret_cast<const char*>(data), static_cast<size_t>(size));
    sqlite3_free(data);
    sqlite3_close(db);
    return bytes;
}

std::vector<std::string> LutrisOf(const std::string& bytes) {
    const auto copy = Exactly(bytes);
    return LutrisGameFolders(reinterpret_cast<const unsigned char*>(copy.get()), bytes.size());
}

TEST(LauncherLists, LutrisGivesTheFoldersOfInstalledGames) {
    const std::string games = LutrisBytes(
        "CREATE TABLE games (id INTEGER PRIMARY KEY, name TEXT, slug TEXT, runner TEXT, directory TEXT,"
        " installed INTEGER);"
        "INSERT INTO games (name, slug, runner, directory, installed) VALUES"
        " ('Velmora 2', 'velmora-2', 'wine', '/home/deck/Games/velmora-2', 1),"
        " ('Velmora 3', 'velmora-3', 'wine', '/home/deck/Games/velmora-3', 0),"
        " ('Velmora 4', 'velmora-4', 'wine', NULL, 1),"
        " ('Velmora 5', 'velmora-5', 'wine', '', 1),"
        " ('Velmora 5', 'velmora-5', 'linux', CAST(X'2f67616d65732fe9' AS BLOB), 1);");
    EXPECT_EQ(LutrisOf(games), (Paths{"/home/deck/Games/velmora-2", "/games/\xe9"}));

    // No games table, another file, a damaged or a cut-off database: no folders.
    EXPECT_TRUE(LutrisOf(LutrisBytes("CREATE TABLE service_games (id INTEGER, directory TEXT);")).empty());
    EXPECT_TRUE(LutrisOf("{\"installed\": []}").empty());
    EXPECT_TRUE(LutrisOf(games.substr(0, games.size() / 2)).empty());
    std::string damaged = games;
    for (size_t at = 100; at < damaged.size(); at += 7) damaged[at] = static_cast<char>(damaged[at] ^ 0x5a);
    EXPECT_TRUE(LutrisOf(damaged).empty());
    EXPECT_TRUE(LutrisGameFolders(nullptr, 0).empty());
}

}  // namespace

#endif
