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
    EXPECT_EQ(Lines(shortVersion.out).at(0), "velmora-patch 1.7.8");
    EXPECT_TRUE(Contains(shortVersion.out, "MIT License")) << shortVersion.out;
    EXPECT_TRUE(Contains(shortVersion.out, "NO WARRANTY")) << shortVersion.out;

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
    EXPECT_EQ(value["schema"].number, 2);
    EXPECT_EQ(value["version"].text, "1.7.8");
    EXPECT_EQ(value["command"].text, "version");
    const CliRun help = folder.Run({"--json", "-h"});
    ASSERT_TRUE(ParseJson(help.out, &value, &error)) << error << "\n" << help.out;
    EXPECT_EQ(value["help"].text, folder.Run({"-h"}).out);
    EXPECT_EQ(value["exit_code"].number, 0);
    // Any spelling of --json gives JSON: a beginning of it, and with a value it does not
    // take, the refusal as JSON.
    const CliRun prefix = folder.Run({"--vers", "--js"});
    ASSERT_TRUE(ParseJson(prefix.out, &value, &error)) << error << "\n" << prefix.out;
    EXPECT_EQ(value["command"].text, "version");
    const CliRun valued = folder.Run({"--json=1"});
    EXPECT_EQ(valued.exitCode, 2);
    ASSERT_TRUE(ParseJson(valued.out, &value, &error)) << error << "\n" << valued.out;
    EXPECT_EQ(value["error"]["code"].text, "value_not_taken");
    // --help wins over a mistake on the line.
    const CliRun helpFirst = folder.Run({"--help", "--bogus"});
    EXPECT_EQ(helpFirst.exitCode, 0);
    EXPECT_EQ(helpFirst.out, folder.Run({"-h"}).out);
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
// A report that cannot be written leaves the exit code the job's own, said on stderr; only a
// run that changed the disk gets a code of its own, 5, as its report was the one word of it.
TEST(CliConventions, AReportThatCannotBeWrittenKeepsTheJobsCodeAndAChangeIsFive) {
    if (std::system("test -w /dev/full") != 0) GTEST_SKIP() << "no /dev/full here";
    const struct {
        std::string args;
        bool game;      // a game in the folder
        bool patched;   // patched before the run, so that a restore has something to do
        int code;
        const char* line;
    } cases[] = {
        {"--version", true, false, 0, "the output could not be written"},
        {"--help", true, false, 0, "the output could not be written"},
        {"--json --bogus", true, false, 2, "the output could not be written"},
        {"--fps --json --dry-run", true, false, 0, "the output could not be written"},
        {"--status", true, true, 0, "the output could not be written"},
        {"--fps", false, false, 3, "no game executable could be opened"},
        {"--fps", true, false, 5, "done, but the report could not be written"},
        {"--fps --json", true, false, 5, "done, but the report could not be written"},
        {"--restore", true, true, 5, "done, but the report could not be written"},
    };
    for (const char* redirect : {">/dev/full", ">&-"}) {
        for (const auto& c : cases) {
            SCOPED_TRACE(c.args + " " + redirect);
            GameFolder folder;
            if (c.game) folder.Write("vlmr3.exe", FixtureImage());
            if (c.patched) ASSERT_EQ(folder.Run({"--fps"}).exitCode, 0);
            const std::string err = folder.PathOf("stderr.txt");
            const std::string command = "cd '" + folder.path().string() + "' && '" + g_programPath + "' " + c.args +
                                        " " + redirect + " 2>'" + err + "'";
            const int status = std::system(command.c_str());
            ASSERT_TRUE(WIFEXITED(status));
            EXPECT_EQ(WEXITSTATUS(status), c.code);
            std::string text;
            if (FILE* f = std::fopen(err.c_str(), "rb")) {
                char buffer[8192];
                text.assign(buffer, std::fread(buffer, 1, sizeof buffer, f));
                std::fclose(f);
            }
            EXPECT_TRUE(Contains(text, std::string("velmora-patch: ") + c.line)) << text;
        }
    }
}
#endif

}  // namespace
