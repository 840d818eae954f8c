// The release package as a player gets it: unpacked, each file is the one it claims to be,
// readable on every Windows, and the checksum in it is the program's.
//
// Arguments after gtest's own: PACKAGE.zip PROGRAM.exe OFL.txt (the licence in the sources).

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

std::string g_packagePath, g_programPath, g_licencePath;

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

TEST_F(Package, HoldsTheFourFilesInOrderWithOneFixedTimeAndPlainAttributes) {
    const char* const names[] = {"WidescreenVelmora2345.exe", "README.txt", "OFL.txt", "SHA256SUMS"};
    ASSERT_EQ(entries_.size(), 4u);
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

TEST_F(Package, ProgramIsTheTestedBuildAndSha256SumsHoldsItsChecksum) {
    const ZipEntry* program = Find("WidescreenVelmora2345.exe");
    const ZipEntry* sums = Find("SHA256SUMS");
    ASSERT_NE(program, nullptr);
    ASSERT_NE(sums, nullptr);
    const Bytes built = ReadAll(g_programPath);
    ASSERT_FALSE(built.empty()) << "cannot read " << g_programPath;
    EXPECT_TRUE(program->data == built) << "the packed program is not " << g_programPath;
    // The line sha256sum writes and "sha256sum -c" reads: digest, two spaces, name, LF.
    EXPECT_EQ(Text(sums->data), Sha256Hex(built) + "  WidescreenVelmora2345.exe\n");
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
        "OFL.txt",
    };
    for (const char* must : musts) {
        EXPECT_NE(text.find(must), std::string::npos) << "README.txt does not say \"" << must << "\"";
    }
}

TEST_F(Package, LicenceIsTheFontsOflWithCrlf) {
    const ZipEntry* licence = Find("OFL.txt");
    ASSERT_NE(licence, nullptr);
    ExpectPlainCrlfText(licence->data);
    std::string source = Text(ReadAll(g_licencePath));
    ASSERT_FALSE(source.empty()) << "cannot read " << g_licencePath;
    std::string expected;
    for (char c : source) {
        if (c == '\r') continue;
        if (c == '\n') expected += '\r';
        expected += c;
    }
    EXPECT_TRUE(Text(licence->data) == expected) << "OFL.txt differs from " << g_licencePath;
}

}  // namespace

int main(int argc, char** argv) {
    testing::InitGoogleTest(&argc, argv);
    if (argc != 4) {
        std::fprintf(stderr, "usage: %s [gtest options] PACKAGE.zip PROGRAM.exe OFL.txt\n", argv[0]);
        return 2;
    }
    g_packagePath = argv[1];
    g_programPath = argv[2];
    g_licencePath = argv[3];
    return RUN_ALL_TESTS();
}
