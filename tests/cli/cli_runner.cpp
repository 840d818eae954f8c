#include "cli_runner.h"

#include <regex>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <random>
#include <sstream>

#include <gtest/gtest.h>

#ifdef _WIN32
#include <windows.h>
#else
#include <fcntl.h>
#include <sys/file.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

namespace fs = std::filesystem;

std::string g_programPath;
std::string g_jsonOutputFolder;

namespace {

fs::path FreshFolder(const char* kind) {
    static std::atomic<unsigned> counter{0};
    std::random_device seed;
    for (;;) {
        const fs::path path =
            fs::temp_directory_path() / (std::string("velmora-cli-") + kind + "-" + std::to_string(seed() % 100000000) +
                                         "-" + std::to_string(counter++));
        if (fs::create_directory(path)) return path;
    }
}

std::string ReadText(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    // The Windows builds print through a text-mode stream, which writes CRLF.
    std::string plain;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') continue;
        plain += text[i];
    }
    return plain;
}

void MakeWritable(const fs::path& folder) {
    std::error_code ignored;
    for (auto it = fs::recursive_directory_iterator(folder, ignored); it != fs::recursive_directory_iterator();
         it.increment(ignored)) {
        fs::permissions(it->path(), fs::perms::owner_all, fs::perm_options::add, ignored);
#ifdef _WIN32
        SetFileAttributesA(it->path().string().c_str(), FILE_ATTRIBUTE_NORMAL);
#endif
    }
}

#ifdef _WIN32
std::string Quoted(const std::string& arg) {
    std::string quoted = "\"";
    for (const char c : arg) {
        if (c == '"') quoted += '\\';
        quoted += c;
    }
    return quoted + "\"";
}

HANDLE InheritableFile(const fs::path& path) {
    SECURITY_ATTRIBUTES inherit = {sizeof inherit, nullptr, TRUE};
    return CreateFileA(path.string().c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit,
                       CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
}
#endif

}  // namespace

GameFolder::GameFolder() : path_(FreshFolder("game")), scratch_(FreshFolder("output")) {}

GameFolder::~GameFolder() {
    std::error_code ignored;
    MakeWritable(path_);
    fs::remove_all(path_, ignored);
    fs::remove_all(scratch_, ignored);
}

void GameFolder::Write(const std::string& name, const Bytes& bytes) const {
    std::ofstream out(PathOf(name), std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    ASSERT_TRUE(out.good()) << name;
}

Bytes GameFolder::Read(const std::string& name) const {
    if (!fs::is_regular_file(path_ / name)) return {};
    std::ifstream in(PathOf(name), std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

bool GameFolder::Exists(const std::string& name) const { return fs::exists(path_ / name); }

void KeepJsonOutput(const std::vector<std::string>& args, const std::string& out) {
    // After "--", a "--json" is an argument, and the output is text.
    const auto optionsEnd = std::find(args.begin(), args.end(), "--");
    if (g_jsonOutputFolder.empty() || std::find(args.begin(), optionsEnd, "--json") == optionsEnd) return;
    static unsigned counter = 0;
    const ::testing::TestInfo* test = ::testing::UnitTest::GetInstance()->current_test_info();
    std::string name = std::string(test != nullptr ? test->test_suite_name() : "none") + "." +
                       (test != nullptr ? test->name() : "none") + "-" + std::to_string(counter++) + ".json";
    // Parameterised cases have slashes in their names.
    std::replace(name.begin(), name.end(), '/', '_');
    std::ofstream kept(fs::path(g_jsonOutputFolder) / name, std::ios::binary | std::ios::trunc);
    kept << out;
    EXPECT_TRUE(kept.good()) << "cannot keep " << name << " in " << g_jsonOutputFolder;
}

CliRun GameFolder::Run(const std::vector<std::string>& args, const std::string& locale) const {
    CliRun run;
    const fs::path outPath = scratch_ / "stdout.txt";
    const fs::path errPath = scratch_ / "stderr.txt";
#ifdef _WIN32
    (void)locale;
    std::string commandLine = Quoted(g_programPath);
    for (const std::string& arg : args) commandLine += " " + Quoted(arg);
    HANDLE out = InheritableFile(outPath);
    HANDLE err = InheritableFile(errPath);
    // The arguments are UTF-8, as velmora-patch.exe keeps them: the command line goes as
    // UTF-16, which every name fits, whatever the code page.
    std::wstring wideLine(commandLine.size() + 1, L'\0');
    wideLine.resize(static_cast<size_t>(
        MultiByteToWideChar(CP_UTF8, 0, commandLine.c_str(), -1, &wideLine[0], static_cast<int>(wideLine.size()))));
    const std::wstring program = fs::u8path(g_programPath).wstring();
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
    startup.hStdOutput = out;
    startup.hStdError = err;
    PROCESS_INFORMATION info = {};
    const BOOL started = CreateProcessW(program.c_str(), &wideLine[0], nullptr, nullptr, TRUE, 0, nullptr,
                                        path_.wstring().c_str(), &startup, &info);
    CloseHandle(out);
    CloseHandle(err);
    if (!started) {
        ADD_FAILURE() << "CreateProcessW failed for " << g_programPath << ", error " << GetLastError();
        return run;
    }
    WaitForSingleObject(info.hProcess, INFINITE);
    DWORD code = 0;
    GetExitCodeProcess(info.hProcess, &code);
    CloseHandle(info.hThread);
    CloseHandle(info.hProcess);
    run.exitCode = static_cast<int>(code);
#else
    std::vector<char*> argv;
    argv.push_back(const_cast<char*>(g_programPath.c_str()));
    for (const std::string& arg : args) argv.push_back(const_cast<char*>(arg.c_str()));
    argv.push_back(nullptr);
    const pid_t child = fork();
    if (child == 0) {
        const int out = open(outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        const int err = open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        if (out < 0 || err < 0 || dup2(out, 1) < 0 || dup2(err, 2) < 0 || chdir(path_.c_str()) != 0) _exit(127);
        unsetenv("LC_CTYPE");
        unsetenv("LANG");
        setenv("LC_ALL", locale.c_str(), 1);
        execv(argv[0], argv.data());
        _exit(127);
    }
    int status = 0;
    if (child < 0 || waitpid(child, &status, 0) != child) {
        ADD_FAILURE() << "could not run " << g_programPath;
        return run;
    }
    run.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
#endif
    run.out = ReadText(outPath);
    run.err = ReadText(errPath);
    KeepJsonOutput(args, run.out);
    return run;
}

bool FolderState::operator==(const FolderState& other) const {
    if (folderModified != other.folderModified || folderChanged != other.folderChanged) return false;
    if (entries.size() != other.entries.size()) return false;
    for (const auto& [name, entry] : entries) {
        const auto it = other.entries.find(name);
        if (it == other.entries.end()) return false;
        const Entry& e = it->second;
        if (e.directory != entry.directory || e.contents != entry.contents || e.modified != entry.modified ||
            e.changed != entry.changed) {
            return false;
        }
    }
    return true;
}

namespace {

void Times(const fs::path& path, int64_t* modified, int64_t* changed) {
#ifdef _WIN32
    std::error_code ignored;
    *modified = static_cast<int64_t>(fs::last_write_time(path, ignored).time_since_epoch().count());
    *changed = 0;
#else
    struct stat facts = {};
    stat(path.c_str(), &facts);
    *modified = static_cast<int64_t>(facts.st_mtim.tv_sec) * 1000000000 + facts.st_mtim.tv_nsec;
    *changed = static_cast<int64_t>(facts.st_ctim.tv_sec) * 1000000000 + facts.st_ctim.tv_nsec;
#endif
}

}  // namespace

FolderState Snapshot(const fs::path& folder) {
    FolderState state;
    Times(folder, &state.folderModified, &state.folderChanged);
    for (const auto& item : fs::directory_iterator(folder)) {
        FolderState::Entry entry;
        entry.directory = item.is_directory();
        if (!entry.directory) {
            std::ifstream in(item.path(), std::ios::binary);
            entry.contents = Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
        }
        Times(item.path(), &entry.modified, &entry.changed);
        state.entries[item.path().filename().string()] = entry;
    }
    return state;
}

std::string Describe(const FolderState& state) {
    std::ostringstream text;
    text << "folder times " << state.folderModified << "/" << state.folderChanged << "\n";
    for (const auto& [name, entry] : state.entries) {
        text << "  " << name << (entry.directory ? "/" : "") << " " << entry.contents.size() << " bytes, times "
             << entry.modified << "/" << entry.changed << "\n";
    }
    return text.str();
}

std::string InShellQuotes(const std::string& text) {
#ifdef _WIN32
    std::string windows = std::regex_replace(text, std::regex("'\\$'\\\\(x[0-9A-F]{2}|t|n)''"), "?");
    for (char& c : windows) {
        if (c == '\'') c = '"';
    }
    return windows;
#else
    return text;
#endif
}

Bytes FixtureImage() {
    // NOP filler: none of the patterns starts with 90, so the only hits are the ones placed.
    Bytes image(FIXTURE_SIZE, 0x90);
    image = With(image, ASPECT_AT, {0xAB, 0xAA, 0xAA, 0x3F});
    image = With(image, ASPECT_AGAIN_AT, {0xAB, 0xAA, 0xAA, 0x3F});
    image = With(image, CAMERA_AT, {0xC7, 0x05, 0x10, 0x20, 0x40, 0x00, 0x00, 0x06, 0x00, 0x00});
    image = With(image, FOV_AT, {0xA1, 0x18, 0x20, 0x40, 0x00, 0x99, 0xF7, 0xF9});
    image = With(image, FPS_AT, {0x8B, 0xF8, 0x83, 0xFF, 0x02, 0x7C, 0xF0});
    return image;
}

Bytes With(Bytes image, size_t offset, const Bytes& bytes) {
    std::copy(bytes.begin(), bytes.end(), image.begin() + static_cast<std::ptrdiff_t>(offset));
    return image;
}

Bytes Slice(const Bytes& image, size_t offset, size_t count) {
    return Bytes(image.begin() + static_cast<std::ptrdiff_t>(offset),
                 image.begin() + static_cast<std::ptrdiff_t>(offset + count));
}

std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
}

bool Contains(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

#ifdef _WIN32
FileHolder::FileHolder(const std::string& path, HoldKind) {
    handle_ = CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL,
                          nullptr);
    holding_ = handle_ != INVALID_HANDLE_VALUE;
}

FileHolder::~FileHolder() {
    if (holding_) CloseHandle(handle_);
}
#else
FileHolder::FileHolder(const std::string& path, HoldKind kind) {
    int ready[2], release[2];
    if (pipe2(ready, O_CLOEXEC) != 0) return;
    if (pipe2(release, O_CLOEXEC) != 0) {
        close(ready[0]);
        close(ready[1]);
        return;
    }
    const pid_t child = fork();
    if (child == 0) {
        close(ready[0]);
        close(release[1]);
        const int file = open(path.c_str(), kind == HOLD_FLOCK ? O_RDWR : O_RDONLY);
        bool held = file >= 0;
        if (held && kind == HOLD_FLOCK) held = flock(file, LOCK_EX | LOCK_NB) == 0;
        if (held && kind == HOLD_MAPPED) {
            struct stat facts;
            held = fstat(file, &facts) == 0 &&
                   mmap(nullptr, static_cast<size_t>(facts.st_size), PROT_READ, MAP_PRIVATE, file, 0) != MAP_FAILED;
            close(file);
        }
        const char answer = held ? 'y' : 'n';
        if (write(ready[1], &answer, 1) != 1) _exit(1);
        char ignored;
        while (read(release[0], &ignored, 1) > 0) {
        }
        _exit(0);
    }
    close(ready[1]);
    close(release[0]);
    release_ = release[1];
    pid_ = child;
    char answer = 'n';
    holding_ = child > 0 && read(ready[0], &answer, 1) == 1 && answer == 'y';
    close(ready[0]);
}

FileHolder::~FileHolder() {
    if (release_ >= 0) close(release_);
    if (pid_ > 0) waitpid(pid_, nullptr, 0);
}
#endif

std::string WindowPart(const std::string& out) {
    const size_t at = out.find("\n\nSearched ");
    return at == std::string::npos ? out : out.substr(0, at + 1);
}
