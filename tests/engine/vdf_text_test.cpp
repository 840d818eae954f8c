// libraryfolders.vdf read as Steam writes it, in each of its forms, and the finer points of
// the KeyValues text that a line-by-line reading gets wrong.

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "game_search.h"
#include "steam_library_files.h"
#include "vdf_text.h"

namespace {

using Folders = std::vector<std::string>;

std::string Repeated(const std::string& text, int count) {
    std::string repeated;
    for (int i = 0; i < count; ++i) repeated += text;
    return repeated;
}

TEST(LibraryFolders, EachFormSteamWroteGivesItsLibraries) {
    const std::string home = "/home/deck", card = "/run/media/mmcblk0p1";
    const struct {
        const char* label;
        const char* file;
        Folders folders;
    } cases[] = {
        {"current, with a memory card", LIBRARY_FOLDERS_DECK, {home + "/.local/share/Steam", card}},
        {"2021, bookkeeping first", LIBRARY_FOLDERS_2021, {card}},
        {"before 2021, numbered values", LIBRARY_FOLDERS_OLD, {card}},
        {"Windows, escaped backslashes", LIBRARY_FOLDERS_WINDOWS, {"C:\\Program Files (x86)\\Steam", "M:\\SteamLibrary"}},
    };
    for (const auto& c : cases) {
        Folders folders;
        std::string error;
        EXPECT_TRUE(LibraryFoldersOf(LibraryFile(c.file, home, card), &folders, &error)) << c.label << ": " << error;
        EXPECT_EQ(folders, c.folders) << c.label;
    }
}

TEST(LibraryFolders, QuotesEscapesCommentsConditionsAndBareWords) {
    const struct {
        const char* label;
        const char* text;
        Folders folders;
    } cases[] = {
        {"a brace and a key inside a quoted path",
         "\"libraryfolders\" { \"1\" { \"path\" \"/mnt/a {b} \\\"path\\\" c\" } }", {"/mnt/a {b} \"path\" c"}},
        {"a path with a backslash escaped and one not",
         "\"libraryfolders\" { \"1\" \"/mnt/x\\\\y\\z\" }", {"/mnt/x\\y\\z"}},
        {"comments, also after a value and with quotes in them",
         "// Steam \"library\" list\n\"libraryfolders\"\n{ // \"1\" \"/not/this\"\n\"1\" \"/mnt/one\" // \"2\" \"/nor/this\"\n}\n",
         {"/mnt/one"}},
        {"platform conditions after keys and values",
         "\"libraryfolders\" { \"1\" [$LINUX] { \"path\" \"/mnt/one\" [$LINUX] } \"2\" \"/mnt/two\" [!$WIN32] }",
         {"/mnt/one", "/mnt/two"}},
        {"bare words and no line breaks", "libraryfolders{1{path /mnt/bare}2 /mnt/two}", {"/mnt/bare", "/mnt/two"}},
        {"keys in other cases", "\"LIBRARYFOLDERS\" { \"0\" { \"Path\" \"/mnt/p\" } }", {"/mnt/p"}},
        {"a path key nested deeper is not the library's",
         "\"libraryfolders\" { \"0\" { \"apps\" { \"path\" \"/no\" } \"path\" \"/yes\" } }", {"/yes"}},
        {"named entries, empty paths and blocks without a path are no libraries",
         "\"libraryfolders\" { \"contentstatsid\" \"1\" \"1\" \"\" \"2\" { \"label\" \"x\" } \"x3\" \"/no\" \"3\" \"/yes\" }",
         {"/yes"}},
        {"a byte order mark, Windows line ends", "\xEF\xBB\xBF\"libraryfolders\"\r\n{\r\n\t\"1\"\t\t\"/mnt/w\"\r\n}\r\n",
         {"/mnt/w"}},
        {"a block of another name first", "\"other\" { \"1\" \"/no\" } \"libraryfolders\" { \"1\" \"/yes\" }", {"/yes"}},
    };
    for (const auto& c : cases) {
        Folders folders;
        std::string error;
        EXPECT_TRUE(LibraryFoldersOf(c.text, &folders, &error)) << c.label << ": " << error;
        EXPECT_EQ(folders, c.folders) << c.label;
    }
}

TEST(LibraryFolders, MalformedTextIsRefusedWithItsLine) {
    const struct {
        const char* label;
        std::string text;
        const char* error;
    } cases[] = {
        {"an unclosed quote", "\"libraryfolders\"\n{\n\"1\" \"/mnt/a\n}\n", "an unclosed quote or bracket in line 3"},
        {"an unclosed block", "\"libraryfolders\"\n{\n\"1\" \"/mnt/a\"\n", "a block is not closed in line 3"},
        {"a stray brace", "\"libraryfolders\" { }\n}\n", "a closing brace with no block in line 2"},
        {"a key with no value", "\"libraryfolders\" { \"1\" }", "a key with no value in line 1"},
        {"a block with no key", "{ \"1\" \"/a\" }", "a block with no key in line 1"},
        {"an unclosed condition", "\"libraryfolders\" { \"1\" \"/a\" [$LINUX\n }", "an unclosed quote or bracket in line 1"},
        {"nested beyond any real file", Repeated("\"k\" {", 100), "blocks nested too deeply in line 1"},
        {"no libraryfolders block", "\"libraryfolders\" \"/mnt/a\"", "no libraryfolders block"},
        {"empty", "", "no libraryfolders block"},
    };
    for (const auto& c : cases) {
        Folders folders;
        std::string error;
        EXPECT_FALSE(LibraryFoldersOf(c.text, &folders, &error)) << c.label;
        EXPECT_EQ(error, c.error) << c.label;
    }
}

TEST(VdfText, NestingAndOrderAreKept) {
    VdfNode root;
    std::string error;
    ASSERT_TRUE(ParseVdf(LibraryFile(LIBRARY_FOLDERS_DECK, "/h", "/c"), &root, &error)) << error;
    ASSERT_EQ(root.children.size(), 1u);
    const VdfNode& list = root.children[0];
    ASSERT_TRUE(list.block);
    ASSERT_EQ(list.children.size(), 2u);
    const VdfNode* apps = list.children[0].Child("apps");
    ASSERT_NE(apps, nullptr);
    ASSERT_EQ(apps->children.size(), 3u);
    EXPECT_EQ(apps->children[2].key, "1493710");
    EXPECT_EQ(apps->children[2].value, "1162318513");
    EXPECT_EQ(list.children[1].Child("label")->value, "");
    EXPECT_EQ(list.children[1].Child("contentid")->value, "7153478305939472383");
}

}  // namespace
