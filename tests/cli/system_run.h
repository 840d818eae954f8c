#pragma once
// velmora-patch run natively behind a wrapper (strace, unshare, setpriv, ...) through the
// shell, in the foreground or beside the test, and the system calls strace saw of it.

#include <sys/types.h>

#include <cstdint>

#include <filesystem>
#include <string>
#include <vector>

#include "cli_runner.h"

// The text in POSIX single quotes, for the shell.
std::string Quote(const std::string& text);
std::string ReadAll(const std::filesystem::path& path);
bool Available(const char* tool);
bool IsRoot();

// Runs velmora-patch in `folder` behind `wrapper` and reads back what it printed; its
// output goes through files in `scratch`. The exit code is -1 when a signal ended it.
CliRun RunWrapped(const GameFolder& folder, const std::string& wrapper, const std::vector<std::string>& args,
                  const std::filesystem::path& scratch);

// The same, started beside the test: Finish waits for its end.
class WrappedRun {
public:
    WrappedRun(const GameFolder& folder, const std::string& wrapper, const std::vector<std::string>& args,
               const std::filesystem::path& scratch);
    ~WrappedRun();
    WrappedRun(const WrappedRun&) = delete;
    WrappedRun& operator=(const WrappedRun&) = delete;
    CliRun Finish();

private:
    std::filesystem::path scratch_;
    pid_t pid_ = -1;
};

// Waits up to `seconds` for the file to be there with `size` bytes.
bool WaitForFile(const std::filesystem::path& path, uintmax_t size, double seconds);

// One system call as strace -f shows it: `PID name(arguments) = result`.
struct Call {
    std::string name, arguments;
    long result;
    std::string line;
};
std::vector<Call> ReadTrace(const std::filesystem::path& log);
// The quoted strings among a call's arguments, in order.
std::vector<std::string> Strings(const std::string& arguments);
bool IsRename(const Call& call);
