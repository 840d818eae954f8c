// What velmora-patch.exe asks of Windows when it replaces a name, seen under Wine's relay
// trace of the kernel32 calls: each copy is flushed to the disk (FlushFileBuffers) before
// it is moved over its name, and every move carries MOVEFILE_WRITE_THROUGH, without which
// MoveFileExA may return before the move itself is on the disk.

#include <windows.h>

#include <map>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "cli_runner.h"
#include "expected.h"

namespace {

bool UnderWine() {
    const HMODULE ntdll = GetModuleHandleA("ntdll.dll");
    return ntdll != nullptr && GetProcAddress(ntdll, "wine_get_version") != nullptr;
}

// One relayed call: "Call KERNEL32.MoveFileExA(... "from",... "to",0000000b) ret=..." and
// "Ret  KERNEL32.CreateFileA(... "name",...) retval=00000054 ret=...".
struct RelayLine {
    bool isReturn;
    std::string function;
    std::vector<std::string> strings;  // the quoted arguments
    std::string lastArgument;
    unsigned long long value;  // the return value, of a Ret line
};

std::vector<RelayLine> ReadRelay(const std::string& text) {
    static const std::regex LINE(R"((Call|Ret)\s+[A-Za-z0-9_]+\.([A-Za-z0-9_]+)\((.*)\)(?: retval=([0-9a-fA-F]+))? ret=)");
    static const std::regex STRING(R"re(L?"((?:[^"\\]|\\.)*)")re");
    std::vector<RelayLine> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) {
        std::smatch match;
        if (!std::regex_search(line, match, LINE)) continue;
        RelayLine relay;
        relay.isReturn = match[1] == "Ret";
        relay.function = match[2];
        const std::string arguments = match[3];
        for (auto it = std::sregex_iterator(arguments.begin(), arguments.end(), STRING); it != std::sregex_iterator(); ++it) {
            relay.strings.push_back((*it)[1]);
        }
        relay.lastArgument = arguments.substr(arguments.find_last_of(',') + 1);
        relay.value = match[4].matched ? std::stoull(match[4].str(), nullptr, 16) : 0;
        lines.push_back(relay);
    }
    return lines;
}

TEST(CliWriteThrough, EachCopyIsFlushedBeforeItsMoveAndEveryMoveWritesThrough) {
    if (!UnderWine()) GTEST_SKIP() << "the relay trace is Wine's; Windows has none";
    const struct {
        const char* label;
        std::vector<std::string> before;
        std::vector<std::string> args;
        size_t moves;
    } rows[] = {
        {"first patch", {}, {"--fov", "1920"}, 2},
        {"restore", {"--fov", "1920"}, {"--restore"}, 1},
        {"forced restore", {"--fov", "1920"}, {"--restore", "--force"}, 2},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.label);
        GameFolder folder;
        folder.Write("vlmr3.exe", FixtureImage());
        if (!row.before.empty()) {
            ASSERT_EQ(folder.Run(row.before).exitCode, 0);
        }
        SetEnvironmentVariableA("WINEDEBUG", "-all,+relay");
        const CliRun run = folder.Run(row.args);
        SetEnvironmentVariableA("WINEDEBUG", nullptr);
        ASSERT_EQ(run.exitCode, 0) << run.out;
        const std::vector<RelayLine> calls = ReadRelay(run.err);
        ASSERT_FALSE(calls.empty()) << "no relay trace on stderr";

        std::map<unsigned long long, std::string> handles;  // open handle -> the name it was opened by
        std::map<std::string, bool> flushed;                // name -> flushed since its open
        size_t moves = 0;
        for (const RelayLine& call : calls) {
            if (call.isReturn && call.function == "CreateFileA" && !call.strings.empty()) {
                handles[call.value] = call.strings[0];
                flushed[call.strings[0]] = false;
            } else if (!call.isReturn && call.function == "FlushFileBuffers") {
                const auto handle = handles.find(std::stoull(call.lastArgument, nullptr, 16));
                if (handle != handles.end()) flushed[handle->second] = true;
            } else if (!call.isReturn && call.function == "CloseHandle") {
                handles.erase(std::stoull(call.lastArgument, nullptr, 16));
            } else if (!call.isReturn && call.function == "MoveFileExA") {
                ASSERT_EQ(call.strings.size(), 2u);
                ++moves;
                const unsigned long flags = std::stoul(call.lastArgument, nullptr, 16);
                EXPECT_NE(flags & MOVEFILE_WRITE_THROUGH, 0u)
                    << "the move of " << call.strings[0] << " to " << call.strings[1] << " does not write through";
                EXPECT_TRUE(flushed[call.strings[0]]) << call.strings[0] << " is not flushed before its move";
            }
        }
        EXPECT_EQ(moves, row.moves) << run.err.substr(0, 2000);
    }
}

}  // namespace
