#pragma once
// Runs the built velmora-patch as a process of its own in a scratch game folder, and reads
// back what it printed, its exit code and the folder.

#include <cstdint>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

using Bytes = std::vector<unsigned char>;

// The program under test, from the test's command line.
extern std::string g_programPath;
// Where every --json output of a run is kept for the schema check; empty: nowhere.
extern std::string g_jsonOutputFolder;

// Keeps what a run with --json among `args` printed in g_jsonOutputFolder, for the runs a
// test starts itself (behind strace, setpriv, ...).
void KeepJsonOutput(const std::vector<std::string>& args, const std::string& out);

struct CliRun {
    int exitCode = -1;
    std::string out;  // stdout, line ends made plain
    std::string err;  // stderr, likewise
};

// A fresh, empty folder, removed again afterwards.
class GameFolder {
public:
    GameFolder();
    ~GameFolder();
    GameFolder(const GameFolder&) = delete;
    GameFolder& operator=(const GameFolder&) = delete;

    const std::filesystem::path& path() const { return path_; }
    std::string PathOf(const std::string& name) const { return (path_ / name).string(); }
    void Write(const std::string& name, const Bytes& bytes) const;
    Bytes Read(const std::string& name) const;
    bool Exists(const std::string& name) const;

    // Runs the program with `args` and this folder as its current folder, natively with
    // LC_ALL=C unless another locale is given (on Windows the console decides). What a run
    // with --json prints is kept in g_jsonOutputFolder.
    CliRun Run(const std::vector<std::string>& args, const std::string& locale = "C") const;

private:
    std::filesystem::path path_;
    std::filesystem::path scratch_;  // the captured output, outside the game folder
};

// What a folder holds, down to the times: names, sizes, contents and modification times.
struct FolderState {
    struct Entry {
        bool directory;
        Bytes contents;
        int64_t modified;
        int64_t changed;  // the inode's change time where there is one (not on Windows)
    };
    std::map<std::string, Entry> entries;
    int64_t folderModified = 0;
    int64_t folderChanged = 0;
    bool operator==(const FolderState& other) const;
};
FolderState Snapshot(const std::filesystem::path& folder);
std::string Describe(const FolderState& state);

// A small game image: NOP filler with the four rules' patterns at fixed offsets, the
// aspect constant twice (a first-only rule patches the second on a second run).
enum : size_t {
    FIXTURE_SIZE = 4096,
    ASPECT_AT = 0x100,
    ASPECT_AGAIN_AT = 0x180,
    CAMERA_AT = 0x200,
    FOV_AT = 0x300,
    FPS_AT = 0x400,
};
Bytes FixtureImage();

// An expected message written with the native quoter's quotes ('x', and '$'\t'' for a control
// character), as the program prints it here: the same on POSIX; on Windows in double quotes,
// a control character as ?.
std::string InShellQuotes(const std::string& text);
Bytes With(Bytes image, size_t offset, const Bytes& bytes);
// The bytes `count` long at `offset`.
Bytes Slice(const Bytes& image, size_t offset, size_t count);

// Another process that holds a file the way a running game would, until destroyed. On
// Windows it is this test process, with a handle that shares nothing.
enum HoldKind {
    HOLD_OPEN,    // an open descriptor, reading only
    HOLD_FLOCK,   // open for writing with an exclusive flock
    HOLD_MAPPED,  // mapped into memory, with its descriptor closed again
};
class FileHolder {
public:
    FileHolder(const std::string& path, HoldKind kind);
    ~FileHolder();
    FileHolder(const FileHolder&) = delete;
    FileHolder& operator=(const FileHolder&) = delete;
    bool holding() const { return holding_; }

private:
    bool holding_ = false;
#ifdef _WIN32
    void* handle_ = nullptr;
#else
    int release_ = -1;  // closing it lets the holder end
    int pid_ = -1;
#endif
};

// Splits text into its lines, without their line ends.
std::vector<std::string> Lines(const std::string& text);
bool Contains(const std::string& text, const std::string& part);
// A no-target report up to the line that names the folder searched: what the window shows.
std::string WindowPart(const std::string& out);
