// The paths that velmora-patch prints for pasting, pasted: a read-only game's hint and
// --find's line, given to the shells as a player would paste them, in folders whose names
// hold what a shell reads as code.
#ifndef _WIN32

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cctype>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "cli_runner.h"

namespace {

namespace fs = std::filesystem;

const char PWNED[] = "/tmp/PWNED";

// What `shell -c script` printed, run directly (no shell of the test's own between).
std::string RunShell(const char* shell, const std::string& script) {
    int pipeEnds[2];
    if (pipe(pipeEnds) != 0) return "<no pipe>";
    const pid_t child = fork();
    if (child == 0) {
        dup2(pipeEnds[1], 1);
        close(pipeEnds[0]);
        close(pipeEnds[1]);
        execlp(shell, shell, "-c", script.c_str(), static_cast<char*>(nullptr));
        _exit(127);
    }
    close(pipeEnds[1]);
    std::string out;
    char buffer[512];
    for (ssize_t got; (got = read(pipeEnds[0], buffer, sizeof buffer)) > 0;) out.append(buffer, static_cast<size_t>(got));
    close(pipeEnds[0]);
    int status = 0;
    waitpid(child, &status, 0);
    return out;
}

bool ShellHasDollarQuotes(const char* shell) { return RunShell(shell, "printf %s $'\\n'") == "\n"; }

// The rest of the line that starts with `head`, or empty.
std::string AfterHead(const std::string& text, const std::string& head) {
    const size_t at = text.find(head);
    if (at == std::string::npos) return "";
    const size_t from = at + head.size();
    return text.substr(from, text.find('\n', from) - from);
}

struct Name {
    const char* label;
    const char* folder;
};

const Name NAMES[] = {
    {"command substitution", "x$(touch /tmp/PWNED)"},
    {"backticks", "x`touch /tmp/PWNED`y"},
    {"dollar", "a$HOME$1b"},
    {"bang", "wow!!x!-1"},
    {"single quote", "it's 'here'"},
    {"double quote", "say \"hi\" $(touch /tmp/PWNED)"},
    {"spaces", "  two  spaces ; touch /tmp/PWNED "},
    {"newline", "line\ntouch /tmp/PWNED\n"},
    {"backslash", "back\\slash\\"},
    {"all at once", "'\"`$(touch /tmp/PWNED)`\"'\n!$ x"},
};

class PastedPaths : public ::testing::TestWithParam<Name> {};

// The hint's path and --find's folder, pasted into each shell as the argument of a harmless
// command in place of the real one, reach the file named and run nothing else.
TEST_P(PastedPaths, NameTheFileAndRunNothing) {
    GameFolder root;
    const std::string folder = root.PathOf(GetParam().folder);
    // A name with a / is folders within folders: the path reads as the name.
    fs::create_directories(folder);
    const std::string game = folder + "/vlmr3.exe";
    {
        FILE* file = std::fopen(game.c_str(), "wb");
        ASSERT_NE(file, nullptr);
        const Bytes image = FixtureImage();
        std::fwrite(image.data(), 1, image.size(), file);
        std::fclose(file);
    }
    ASSERT_EQ(chmod(game.c_str(), 0444), 0);
    std::remove(PWNED);

    const CliRun patch = root.Run({"--dir", folder});
    const std::string hinted = AfterHead(patch.err, "Make it writable: chmod u+w ");
    ASSERT_FALSE(hinted.empty()) << patch.err;
    const CliRun find = root.Run({"--find", root.path().string()});
    const std::string line = AfterHead(find.out, "");
    const size_t fields = line.rfind("  ", line.rfind("  ") - 1);
    ASSERT_NE(fields, std::string::npos) << find.out;
    const std::string found = line.substr(0, fields);

    for (const char* shell : {"sh", "bash"}) {
        SCOPED_TRACE(shell);
        const bool reaches = std::string(GetParam().folder).find('\n') == std::string::npos || ShellHasDollarQuotes(shell);
        const std::string reached = RunShell(shell, "test -f " + hinted + " && printf %s " + hinted);
        const std::string listed = RunShell(shell, "test -d " + found + " && printf %s " + found);
        if (reaches) {
            EXPECT_EQ(reached, game) << hinted;
            EXPECT_EQ(listed, folder) << found;
        }
        EXPECT_FALSE(fs::exists(PWNED)) << "ran: " << hinted << " / " << found;
        std::remove(PWNED);
    }
    chmod(game.c_str(), 0644);
}

INSTANTIATE_TEST_SUITE_P(Names, PastedPaths, ::testing::ValuesIn(NAMES), [](const auto& info) {
    std::string name;
    for (const char c : std::string(info.param.label)) name += std::isalnum(static_cast<unsigned char>(c)) ? c : '_';
    return name;
});

}  // namespace

#endif  // !_WIN32
