// The release package as a player gets it: unpacked, each file is the one it claims to be,
// readable on every Windows, and the checksum in it is the program's.
//
// Arguments after gtest's own: PACKAGE.zip PROGRAM.exe CONSOLE.exe OFL.txt LICENSE (the
// licences in the sources).

#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "sha256.h"
#include "zip_reader.h"

namespace {

std::string g_packagePath, g_programPath, g_consolePath, g_licencePath, g_ownLicencePath;

using Bytes = std::vector<unsigned char>;

Bytes ReadAll(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return Bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

std::string Text(const Bytes& bytes) { return std::string(bytes.begin(), bytes.end()); }

class Package : public ::testing::Test {
protected:
    void SetUp() override {
        const Bytes zip = ReadAll(g_packagePath);
        ASSERT_FALSE(zip.empty()) << "cannot read " << g_packagePath;
        std::string error;
        ASSERT_TRUE(ReadStoredZip(zip, &entries_, &error)) << g_packagePath << ": " << error;
    }

    const ZipEntry* Find(const char* name) const {
        for (const ZipEntry& entry : entries_)
            if (entry.name == name) return &entry;
        return nullptr;
    }

    std::vector<ZipEntry> entries_;
};

TEST_F(Package, HoldsTheSixFilesInOrderWithOneFixedTimeAndPlainAttributes) {
    const char* const names[] = {"WidescreenVelmora2345.exe", "velmora-patch.exe", "README.txt",
                                 "LICENSE",                   "OFL.txt",           "SHA256SUMS"};
    ASSERT_EQ(entries_.size(), 6u);
    for (size_t i = 0; i < entries_.size(); ++i) {
        const ZipEntry& entry = entries_[i];
        SCOPED_TRACE(entry.name);
        EXPECT_EQ(entry.name, names[i]);
        EXPECT_FALSE(entry.data.empty());
        // Nothing that differs between two builds or two machines: one time stamp for all, at
        // midnight of the release date, and MS-DOS attributes (the archive bit) rather than a
        // Unix owner's permissions.
        EXPECT_EQ(entry.dosTime, 0u);
        EXPECT_EQ(entry.dosDate, entries_[0].dosDate);
        EXPECT_GE(entry.dosDate >> 9, 2026 - 1980);
        EXPECT_EQ(entry.versionMadeBy >> 8, 0) << "attributes of a system other than MS-DOS";
        EXPECT_EQ(entry.externalAttributes, 0x20u);
    }
}

TEST_F(Package, ProgramsAreTheTestedBuildsAndSha256SumsHoldsTheirChecksums) {
    const ZipEntry* program = Find("WidescreenVelmora2345.exe");
    const ZipEntry* console = Find("velmora-patch.exe");
    const ZipEntry* sums = Find("SHA256SUMS");
    ASSERT_NE(program, nullptr);
    ASSERT_NE(console, nullptr);
    ASSERT_NE(sums, nullptr);
    const Bytes built = ReadAll(g_programPath);
    const Bytes consoleBuilt = ReadAll(g_consolePath);
    ASSERT_FALSE(built.empty()) << "cannot read " << g_programPath;
    ASSERT_FALSE(consoleBuilt.empty()) << "cannot read " << g_consolePath;
    EXPECT_TRUE(program->data == built) << "the packed program is not " << g_programPath;
    EXPECT_TRUE(console->data == consoleBuilt) << "the packed console patcher is not " << g_consolePath;
    // The lines sha256sum writes and "sha256sum -c" reads: digest, two spaces, name, LF.
    EXPECT_EQ(Text(sums->data), Sha256Hex(built) + "  WidescreenVelmora2345.exe\n" + Sha256Hex(consoleBuilt) +
                                    "  velmora-patch.exe\n");
}

// Known digests, so that a wrong hash cannot agree with itself in the test above.
TEST(Sha256, GivesTheStandardDigests) {
    struct Case {
        const char* text;
        const char* digest;
    };
    const Case cases[] = {
        {"", "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"},
        {"abc", "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"},
        {"abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq",  // two blocks
         "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(Sha256Hex(Bytes(c.text, c.text + std::strlen(c.text))), c.digest) << c.text;
    }
}

// Every line ends in CR LF, and there is nothing but printable ASCII between.
void ExpectPlainCrlfText(const Bytes& text) {
    ASSERT_FALSE(text.empty());
    EXPECT_EQ(text.back(), '\n');
    for (size_t i = 0; i < text.size(); ++i) {
        const unsigned char c = text[i];
        if (c == '\n') {
            EXPECT_TRUE(i > 0 && text[i - 1] == '\r') << "a bare LF at byte " << i;
        } else if (c == '\r') {
            EXPECT_TRUE(i + 1 < text.size() && text[i + 1] == '\n') << "a bare CR at byte " << i;
        } else {
            EXPECT_TRUE(c >= 0x20 && c < 0x7F) << "byte " << int(c) << " at " << i;
        }
    }
}

TEST_F(Package, ReadmeIsPlainCrlfTextThatTellsHowToUseUndoRunOnLinuxAndCheck) {
    const ZipEntry* readme = Find("README.txt");
    ASSERT_NE(readme, nullptr);
    ExpectPlainCrlfText(readme->data);
    const std::string text = Text(readme->data);
    const char* const musts[] = {
        "Apply",                                                 // how to use it
        ".bak",                                                  // how to undo
        ".orig",
        "wine /path/to/WidescreenVelmora2345.exe",               // under Wine
        "Proton",
        "Steam Deck",
        "certutil -hashfile WidescreenVelmora2345.exe SHA256",   // the checks
        "sha256sum -c SHA256SUMS",
        "velmora-patch.exe",                                     // the console patcher
        "With a screen reader or the keyboard alone",            // and who it is for
        "velmora-patch.exe --dir \"C:\\Games\\Velmora 3\" --restore",
        "OFL.txt",
        "LICENSE",
    };
    for (const char* must : musts) {
        EXPECT_NE(text.find(must), std::string::npos) << "README.txt does not say \"" << must << "\"";
    }
}

TEST_F(Package, LicencesAreTheSourcesOnesWithCrlf) {
    const struct {
        const char* name;
        const std::string& source;
    } licences[] = {{"OFL.txt", g_licencePath}, {"LICENSE", g_ownLicencePath}};
    for (const auto& l : licences) {
        SCOPED_TRACE(l.name);
        const ZipEntry* licence = Find(l.name);
        ASSERT_NE(licence, nullptr);
        ExpectPlainCrlfText(licence->data);
        std::string source = Text(ReadAll(l.source));
        ASSERT_FALSE(source.empty()) << "cannot read " << l.source;
        std::string expected;
        for (char c : source) {
            if (c == '\r') continue;
            if (c == '\n') expected += '\r';
            expected += c;
        }
        EXPECT_TRUE(Text(licence->data) == expected) << l.name << " differs from " << l.source;
    }
    const ZipEntry* own = Find("LICENSE");
    ASSERT_NE(own, nullptr);
    EXPECT_EQ(Text(own->data).compare(0, 11, "MIT License"), 0);
}

}  // namespace

int main(int argc, char** argv) {
    testing::InitGoogleTest(&argc, argv);
    if (argc != 6) {
        std::fprintf(stderr, "usage: %s [gtest options] PACKAGE.zip PROGRAM.exe CONSOLE.exe OFL.txt LICENSE\n", argv[0]);
        return 2;
    }
    g_packagePath = argv[1];
    g_programPath = argv[2];
    g_consolePath = argv[3];
    g_licencePath = argv[4];
    g_ownLicencePath = argv[5];
    return RUN_ALL_TESTS();
}
