#include "system_run.h"

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <regex>
#include <sstream>
#include <thread>

namespace fs = std::filesystem;

std::string Quote(const std::string& text) {
    std::string quoted = "'";
    for (const char c : text) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return quoted + "'";
}

std::string ReadAll(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

bool Available(const char* tool) {
    return std::system(("command -v " + std::string(tool) + " >/dev/null 2>&1").c_str()) == 0;
}

bool IsRoot() { return geteuid() == 0; }

namespace {

std::string WrappedCommand(const GameFolder& folder, const std::string& wrapper, const std::vector<std::string>& args,
                           const fs::path& scratch) {
    std::string command = "cd " + Quote(folder.path().string()) + " && " + wrapper + " " + Quote(g_programPath);
    for (const std::string& arg : args) command += " " + Quote(arg);
    return command + " >" + Quote((scratch / "out").string()) + " 2>" + Quote((scratch / "err").string());
}

CliRun Outcome(int status, const fs::path& scratch) {
    CliRun run;
    run.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    run.out = ReadAll(scratch / "out");
    run.err = ReadAll(scratch / "err");
    return run;
}

}  // namespace

CliRun RunWrapped(const GameFolder& folder, const std::string& wrapper, const std::vector<std::string>& args,
                  const fs::path& scratch) {
    CliRun run = Outcome(std::system(WrappedCommand(folder, wrapper, args, scratch).c_str()), scratch);
    KeepJsonOutput(args, run.out);
    return run;
}

WrappedRun::WrappedRun(const GameFolder& folder, const std::string& wrapper, const std::vector<std::string>& args,
                       const fs::path& scratch)
    : scratch_(scratch) {
    const std::string command = WrappedCommand(folder, wrapper, args, scratch);
    pid_ = fork();
    if (pid_ == 0) {
        execl("/bin/sh", "sh", "-c", command.c_str(), static_cast<char*>(nullptr));
        _exit(127);
    }
}

WrappedRun::~WrappedRun() {
    if (pid_ > 0) Finish();
}

CliRun WrappedRun::Finish() {
    int status = 0;
    if (pid_ > 0) waitpid(pid_, &status, 0);
    pid_ = -1;
    return Outcome(status, scratch_);
}

bool WaitForFile(const fs::path& path, uintmax_t size, double seconds) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
    while (std::chrono::steady_clock::now() < end) {
        std::error_code error;
        if (fs::file_size(path, error) == size && !error) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return false;
}

std::vector<Call> ReadTrace(const fs::path& log) {
    static const std::regex CALL(R"(^\d+\s+(\w+)\((.*)\)\s+=\s+(-?\d+).*$)");
    std::vector<Call> calls;
    std::istringstream lines(ReadAll(log));
    for (std::string line; std::getline(lines, line);) {
        std::smatch match;
        if (std::regex_match(line, match, CALL)) calls.push_back({match[1], match[2], std::stol(match[3]), line});
    }
    return calls;
}

std::vector<std::string> Strings(const std::string& arguments) {
    static const std::regex STRING(R"re("((?:[^"\\]|\\.)*)")re");
    std::vector<std::string> strings;
    for (auto it = std::sregex_iterator(arguments.begin(), arguments.end(), STRING); it != std::sregex_iterator(); ++it) {
        strings.push_back((*it)[1]);
    }
    return strings;
}

bool IsRename(const Call& c) { return c.name == "rename" || c.name == "renameat" || c.name == "renameat2"; }
