// The Linux release package as a player gets it: unpacked with tar, every file is the one it
// claims to be, the checksum checks, the program is static and runs, and the package holds
// nothing that differs between two builds or two clones.
//
// Arguments after gtest's own: PACKAGE.tar.gz PROGRAM SOURCE_DIR BINARY_DIR.

#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "sha256.h"

namespace fs = std::filesystem;

namespace {

std::string g_packagePath, g_programPath, g_sourceDir, g_binaryDir;
const char FOLDER[] = "velmora-patch-1.7.8-linux-x86_64";

using Bytes = std::vector<unsigned char>;

Bytes ReadAll(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return Bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

std::string Text(const Bytes& bytes) { return std::string(bytes.begin(), bytes.end()); }

// The output of a shell command, and whether it ended with 0.
bool Shell(const std::string& command, std::string* output) {
    output->clear();
    FILE* pipe = popen((command + " 2>&1").c_str(), "r");
    if (pipe == nullptr) return false;
    char buffer[4096];
    for (size_t got; (got = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;) output->append(buffer, got);
    return pclose(pipe) == 0;
}

std::string Q(const std::string& path) { return "'" + path + "'"; }

class LinuxPackage : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        unpacked_ = fs::temp_directory_path() / ("velmora-linux-package-" + std::to_string(getpid()));
        fs::remove_all(unpacked_);
        fs::create_directories(unpacked_);
        std::string output;
        unpackedOk_ = Shell("tar -xzf " + Q(g_packagePath) + " -C " + Q(unpacked_.string()), &output);
        unpackMessage_ = output;
    }
    static void TearDownTestSuite() { fs::remove_all(unpacked_); }
    void SetUp() override { ASSERT_TRUE(unpackedOk_) << "tar could not unpack " << g_packagePath << ": " << unpackMessage_; }

    static fs::path Unpacked(const std::string& name) { return unpacked_ / FOLDER / name; }

    static fs::path unpacked_;
    static bool unpackedOk_;
    static std::string unpackMessage_;
};
fs::path LinuxPackage::unpacked_;
bool LinuxPackage::unpackedOk_ = false;
std::string LinuxPackage::unpackMessage_;

TEST_F(LinuxPackage, HoldsTheFilesInOrderWithFixedTimesOwnersAndModes) {
    std::string listing;
    ASSERT_TRUE(Shell("TZ=UTC tar --numeric-owner --full-time -tvzf " + Q(g_packagePath), &listing)) << listing;
    const std::string folder = FOLDER;
    const std::vector<std::string> expected = {
        "drwxr-xr-x 0/0 0 2026-12-10 00:00:00 " + folder + "/",
        "-rwxr-xr-x 0/0 velmora-patch",
        "-rw-r--r-- 0/0 velmora-patch.1",
        "-rw-r--r-- 0/0 README.txt",
        "-rw-r--r-- 0/0 LICENSE",
        "-rw-r--r-- 0/0 SHA256SUMS",
    };
    std::istringstream lines(listing);
    std::vector<std::string> got;
    for (std::string line; std::getline(lines, line);) {
        std::istringstream fields(line);
        std::string mode, owner, size, day, time, name;
        fields >> mode >> owner >> size >> day >> time >> name;
        EXPECT_EQ(day + " " + time, "2026-12-10 00:00:00") << line;
        got.push_back(mode + " " + owner + " " +
                      (mode[0] == 'd' ? size + " " + day + " " + time + " " + name : name.substr(folder.size() + 1)));
    }
    EXPECT_EQ(got, expected) << listing;

    // gzip -n: no name of the file and no time in the header.
    const Bytes gz = ReadAll(g_packagePath);
    ASSERT_GT(gz.size(), 10u);
    EXPECT_EQ(gz[0], 0x1F);
    EXPECT_EQ(gz[1], 0x8B);
    EXPECT_EQ(gz[3] & 0x08, 0) << "the gzip header names a file";
    EXPECT_EQ(gz[4] | gz[5] | gz[6] | gz[7], 0) << "the gzip header holds a time";
}

TEST_F(LinuxPackage, ProgramIsTheTestedStaticBuildAndTheChecksumChecks) {
    const Bytes program = ReadAll(Unpacked("velmora-patch"));
    const Bytes built = ReadAll(g_programPath);
    ASSERT_FALSE(built.empty()) << "cannot read " << g_programPath;
    EXPECT_TRUE(program == built) << "the packed program is not " << g_programPath;
    EXPECT_EQ(Text(ReadAll(Unpacked("SHA256SUMS"))), Sha256Hex(built) + "  velmora-patch\n");
    std::string output;
    EXPECT_TRUE(Shell("cd " + Q(Unpacked("").string()) + " && sha256sum -c SHA256SUMS", &output)) << output;
    EXPECT_EQ(output, "velmora-patch: OK\n");

    // Static: no program interpreter (PT_INTERP) among the program headers of the ELF file.
    ASSERT_GT(program.size(), 64u);
    ASSERT_EQ(Text(Bytes(program.begin(), program.begin() + 4)), "\x7F" "ELF");
    ASSERT_EQ(program[4], 2) << "not a 64-bit ELF file";
    auto le = [&](size_t at, size_t size) {
        uint64_t value = 0;
        for (size_t i = size; i > 0; --i) value = value << 8 | program.at(at + i - 1);
        return value;
    };
    const uint64_t headers = le(32, 8), headerSize = le(54, 2), headerCount = le(56, 2);
    EXPECT_EQ(le(18, 2), 62u) << "not x86-64";
    for (uint64_t i = 0; i < headerCount; ++i) {
        EXPECT_NE(le(headers + i * headerSize, 4), 3u) << "a PT_INTERP header: the program is dynamically linked";
    }
    EXPECT_TRUE(Shell(Q(Unpacked("velmora-patch").string()) + " --version", &output)) << output;
    // The version, then the licence lines.
    EXPECT_EQ(output.compare(0, 20, "velmora-patch 1.7.8\n"), 0) << output;
    EXPECT_NE(output.find("MIT License"), std::string::npos) << output;
}

// The folders of this build and of the sources would differ between two clones.
TEST_F(LinuxPackage, NoFileHoldsABuildPath) {
    for (const char* name : {"velmora-patch", "velmora-patch.1", "README.txt", "LICENSE", "SHA256SUMS"}) {
        const std::string bytes = Text(ReadAll(Unpacked(name)));
        ASSERT_FALSE(bytes.empty()) << name;
        for (const std::string& path : {g_sourceDir, g_binaryDir, std::string("CMakeFiles")}) {
            EXPECT_EQ(bytes.find(path), std::string::npos) << name << " holds " << path;
        }
    }
}

TEST_F(LinuxPackage, ManPageComesFromHelpAndVersion) {
    const std::string page = Text(ReadAll(Unpacked("velmora-patch.1")));
    // Dated by the release, not by the day of the build.
    EXPECT_NE(page.find(".TH VELMORA-PATCH \"1\" \"December 2026\" \"velmora-patch 1.7.8\""), std::string::npos)
        << page.substr(0, 400);
    EXPECT_NE(page.find(".SH SYNOPSIS"), std::string::npos);
    // The sections a manual page has beyond the help, from velmora-patch.h2m.
    for (const char* section : {".SH EXAMPLES", ".SH \"EXIT STATUS\"", ".SH ENVIRONMENT", ".SH FILES", ".SH \"SEE ALSO\""}) {
        EXPECT_NE(page.find(section), std::string::npos) << section;
    }
    for (const char* named : {"WINEPREFIX", "LANG", ".B HOME", ".orig", ".bak", "\\-\\-find"}) {
        EXPECT_NE(page.find(named), std::string::npos) << named;
    }
    std::string help;
    ASSERT_TRUE(Shell(Q(g_programPath) + " --help", &help));
    // Every option of --help is in the page (help2man writes a dash as \-).
    std::istringstream lines(help);
    int options = 0;
    for (std::string line; std::getline(lines, line);) {
        if (line.compare(0, 4, "  --") != 0) continue;
        std::string option = line.substr(2, line.find(' ', 2) - 2), escaped;
        for (const char c : option) escaped += c == '-' ? std::string("\\-") : std::string(1, c);
        EXPECT_NE(page.find(escaped), std::string::npos) << option;
        ++options;
    }
    EXPECT_GT(options, 8);
}

TEST_F(LinuxPackage, ReadmeAndLicenceAreTheSourcesOnes) {
    const Bytes readme = ReadAll(Unpacked("README.txt"));
    EXPECT_TRUE(readme == ReadAll(fs::path(g_sourceDir) / "package" / "README-linux.txt"));
    const Bytes licence = ReadAll(Unpacked("LICENSE"));
    EXPECT_TRUE(licence == ReadAll(fs::path(g_sourceDir) / "LICENSE"));
    EXPECT_EQ(Text(licence).compare(0, 11, "MIT License"), 0);

    // Plain ASCII, lines that fit a terminal, and the way a player goes: check, then run.
    const std::string text = Text(readme);
    std::istringstream lines(text);
    for (std::string line; std::getline(lines, line);) {
        EXPECT_LT(line.size(), 80u) << line;
        for (const char c : line) EXPECT_TRUE(c >= 0x20 && c < 0x7F) << line;
    }
    const size_t check = text.find("sha256sum -c SHA256SUMS");
    const size_t run = text.find("./velmora-patch --dir");
    ASSERT_NE(check, std::string::npos);
    ASSERT_NE(run, std::string::npos);
    EXPECT_LT(check, run);
    EXPECT_NE(text.find("Steam Deck"), std::string::npos);
    EXPECT_NE(text.find("--restore"), std::string::npos);
    EXPECT_NE(text.find("With a screen reader or the keyboard alone"), std::string::npos);
}

// Two other folders, two builds of their own, the same bytes as the package tested here.
TEST(LinuxPackageBuild, TwoClonesInOtherFoldersGiveTheSameBytes) {
    std::string output;
    const bool same = Shell(Q(g_sourceDir + "/tools/check-reproducible-package") + " " + Q(g_sourceDir) + " " +
                                Q(g_packagePath),
                            &output);
    EXPECT_TRUE(same) << output;
}

}  // namespace

int main(int argc, char** argv) {
    testing::InitGoogleTest(&argc, argv);
    if (argc != 5) {
        std::fprintf(stderr, "usage: %s [gtest options] PACKAGE.tar.gz PROGRAM SOURCE_DIR BINARY_DIR\n", argv[0]);
        return 2;
    }
    g_packagePath = fs::absolute(argv[1]).string();
    g_programPath = fs::absolute(argv[2]).string();
    g_sourceDir = argv[3];
    g_binaryDir = argv[4];
    return RUN_ALL_TESTS();
}
