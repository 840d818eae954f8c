// The conventions of a command line that players and scripts count on: the short forms and
// "--", a write to stdout that fails, text that a terminal of any charset shows as meant,
// and --help that fits an 80-column terminal.

#include <cstdlib>
#include <string>

#ifndef _WIN32
#include <sys/wait.h>
#endif

#include <gtest/gtest.h>

#include "cli_runner.h"
#include "expected.h"
#include "json_value.h"

namespace {

TEST(CliConventions, ShortFormsAndTheEndOfTheOptions) {
    GameFolder folder;
    const CliRun help = folder.Run({"--help"});
    const CliRun shortHelp = folder.Run({"-h"});
    EXPECT_EQ(shortHelp.exitCode, 0);
    EXPECT_EQ(shortHelp.out, help.out);
    const CliRun shortVersion = folder.Run({"-V"});
    EXPECT_EQ(shortVersion.exitCode, 0);
    EXPECT_EQ(shortVersion.out, "velmora-patch 1.7.8\n");

    folder.Write("vlmr3.exe", FixtureImage());
    const CliRun run = folder.Run({"--fps", "--"});
    EXPECT_EQ(run.exitCode, 0) << run.out << run.err;
    EXPECT_EQ(Slice(folder.Read("vlmr3.exe"), FPS_AT, 5), Bytes({0x8B, 0xF8, 0x83, 0xFF, 0x00}));
}

TEST(CliConventions, VersionAndHelpAsJson) {
    GameFolder folder;
    JsonValue value;
    std::string error;
    const CliRun version = folder.Run({"--version", "--json"});
    EXPECT_EQ(version.exitCode, 0);
    ASSERT_TRUE(ParseJson(version.out, &value, &error)) << error << "\n" << version.out;
    EXPECT_EQ(value["schema"].number, 1);
    EXPECT_EQ(value["version"].text, "1.7.8");
    const CliRun help = folder.Run({"--json", "-h"});
    ASSERT_TRUE(ParseJson(help.out, &value, &error)) << error << "\n" << help.out;
    EXPECT_EQ(value["help"].text, folder.Run({"-h"}).out);
    EXPECT_EQ(value["exit_code"].number, 0);
}

TEST(CliConventions, HelpFitsAnEightyColumnTerminal) {
    GameFolder folder;
    for (const char* option : {"--help", "--bogus"}) {
        const CliRun run = folder.Run({option});
        for (const std::string& line : Lines(run.out + run.err)) {
            EXPECT_LT(line.size(), 80u) << option << ": " << line;
        }
    }
}

// Under a charset that is not UTF-8 every byte is ASCII, the report's arrows and ellipsis
// included; under UTF-8 they are the real characters.
TEST(CliConventions, OutputIsAsciiUnlessTheCharsetIsUtf8) {
    Bytes many(64 + 25 * 10, 0x90);
    for (size_t i = 0; i < 25; ++i) {
        many = With(many, 32 + i * 10, {0xC7, 0x05, static_cast<unsigned char>(i), 0x20, 0x40, 0x00, 0x00, 0x06, 0x00, 0x00});
    }
    const std::vector<std::string> args = {"--camera", "2000", "--no-widescreen", "--dir", "."};
    for (const char* locale : {"C", "POSIX", "en_US.ISO-8859-1", "C.UTF-8", "en_US.utf8"}) {
        SCOPED_TRACE(locale);
        GameFolder folder;
        folder.Write("vlmr3.exe", many);
        const CliRun run = folder.Run(args, locale);
        EXPECT_EQ(run.exitCode, 0) << run.out << run.err;
        bool ascii = true;
        for (const char c : run.out + run.err) ascii = ascii && static_cast<unsigned char>(c) < 0x80;
#ifdef _WIN32
        const bool utf8 = false;  // the console decides there, and the tests have none
#else
        const bool utf8 = Contains(locale, "UTF-8") || Contains(locale, "utf8");
#endif
        EXPECT_EQ(ascii, !utf8) << run.out;
        EXPECT_TRUE(Contains(run.out, utf8 ? " \xE2\x86\x92 " : " -> ")) << run.out;
        EXPECT_TRUE(Contains(run.out, utf8 ? "    \xE2\x80\xA6 and 5 more\n" : "    ... and 5 more\n")) << run.out;
    }
}

#ifndef _WIN32
// A report that cannot be written is a failure, said on stderr; a script must not take the
// run for a success whose report it merely did not get.
TEST(CliConventions, AFailedWriteToStdoutIsExitCodeFour) {
    if (std::system("test -w /dev/full") != 0) GTEST_SKIP() << "no /dev/full here";
    const struct {
        std::string args;
    } cases[] = {{"--version"}, {"--help"}, {"--json --bogus"}, {"--fps"}, {"--fps --json --dry-run"}};
    for (const auto& c : cases) {
        GameFolder folder;
        folder.Write("vlmr3.exe", FixtureImage());
        const std::string err = folder.PathOf("stderr.txt");
        const std::string command = "cd '" + folder.path().string() + "' && '" + g_programPath + "' " + c.args +
                                    " >/dev/full 2>'" + err + "'";
        const int status = std::system(command.c_str());
        ASSERT_TRUE(WIFEXITED(status)) << c.args;
        EXPECT_EQ(WEXITSTATUS(status), 4) << c.args;
        std::string text;
        if (FILE* f = std::fopen(err.c_str(), "rb")) {
            char buffer[4096];
            text.assign(buffer, std::fread(buffer, 1, sizeof buffer, f));
            std::fclose(f);
        }
        EXPECT_TRUE(Contains(text, "velmora-patch: the output could not be written: No space left on device\n"))
            << c.args << ": " << text;
    }
}
#endif

}  // namespace
