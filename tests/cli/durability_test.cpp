// What velmora-patch asks of the system, seen from outside with strace on real runs: every
// copy is on the disk before its name is, every rename is on the disk before the next step,
// the kept original never replaces anything, and "Done" is printed only once the game itself
// is on the disk. Also the runs that only a system can stage: a full disk, another user's
// process, a /proc that cannot be read and a PID namespace without a /proc of its own.

#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <map>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "cli_runner.h"
#include "json_value.h"

namespace {

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

// Runs velmora-patch in `folder` through the shell, behind `wrapper` (strace, unshare,
// setpriv, ...), and reads back what it printed.
CliRun RunWrapped(const GameFolder& folder, const std::string& wrapper, const std::vector<std::string>& args,
                  const fs::path& scratch) {
    std::string command = "cd " + Quote(folder.path().string()) + " && " + wrapper + " " + Quote(g_programPath);
    for (const std::string& arg : args) command += " " + Quote(arg);
    command += " >" + Quote((scratch / "out").string()) + " 2>" + Quote((scratch / "err").string());
    const int status = std::system(command.c_str());
    CliRun run;
    run.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    run.out = ReadAll(scratch / "out");
    run.err = ReadAll(scratch / "err");
    return run;
}

bool Available(const char* tool) {
    return std::system(("command -v " + std::string(tool) + " >/dev/null 2>&1").c_str()) == 0;
}

// One system call as strace -f shows it: `PID name(arguments) = result`.
struct Call {
    std::string name, arguments;
    long result;
    std::string line;
};

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

// The quoted strings among a call's arguments, in order.
std::vector<std::string> Strings(const std::string& arguments) {
    static const std::regex STRING(R"re("((?:[^"\\]|\\.)*)")re");
    std::vector<std::string> strings;
    for (auto it = std::sregex_iterator(arguments.begin(), arguments.end(), STRING); it != std::sregex_iterator(); ++it) {
        strings.push_back((*it)[1]);
    }
    return strings;
}

long FirstNumber(const std::string& arguments) { return std::strtol(arguments.c_str(), nullptr, 10); }

// Follows each descriptor from its open to its close, so that an fsync can be told to be of
// a copy, of the game or of a folder.
struct Descriptor {
    std::string path;
    bool folder = false;
};

class TraceOfARun {
public:
    explicit TraceOfARun(std::vector<Call> calls) : calls_(std::move(calls)) {}

    const std::vector<Call>& calls() const { return calls_; }

    // What the descriptor of call `at`'s first argument was opened as at that moment.
    Descriptor DescriptorAt(size_t at) const {
        const long fd = FirstNumber(calls_[at].arguments);
        Descriptor found;
        for (size_t i = 0; i < at; ++i) {
            const Call& c = calls_[i];
            if ((c.name == "openat" || c.name == "open") && c.result == fd) {
                const std::vector<std::string> strings = Strings(c.arguments);
                found.path = strings.empty() ? "" : strings[0];
                found.folder = c.arguments.find("O_DIRECTORY") != std::string::npos;
            } else if (c.name == "close" && FirstNumber(c.arguments) == fd) {
                found = Descriptor();
            }
        }
        return found;
    }

    // The index of the first call at or after `from` that `test` accepts, or npos.
    template <class Test>
    size_t Find(size_t from, Test test) const {
        for (size_t i = from; i < calls_.size(); ++i) {
            if (test(i, calls_[i])) return i;
        }
        return std::string::npos;
    }

    bool IsRename(const Call& c) const { return c.name == "rename" || c.name == "renameat" || c.name == "renameat2"; }
    bool IsSync(const Call& c) const { return c.name == "fsync" || c.name == "fdatasync"; }

private:
    std::vector<Call> calls_;
};

const char* const TRACED = "openat,open,close,rename,renameat,renameat2,fsync,fdatasync,write";

TEST(CliDurability, EachStepIsOnTheDiskBeforeTheNext) {
    if (!Available("strace")) GTEST_SKIP() << "strace is not installed";
    GameFolder folder, scratch;
    folder.Write("vlmr3.exe", FixtureImage());
    folder.Write("vlmr3.exe.bak", {0xEE});
    const fs::path log = scratch.path() / "trace";
    // LeakSanitizer cannot work under ptrace; the sanitized build would end with an error.
    const CliRun run = RunWrapped(folder, "ASAN_OPTIONS=detect_leaks=0 strace -f -qq -s 200 -e trace=" + std::string(TRACED) + " -o " +
                                              Quote(log.string()),
                                  {"--fov", "1920", "--camera", "2000", "--fps"}, scratch.path());
    ASSERT_EQ(run.exitCode, 0) << run.out << run.err;
    const TraceOfARun trace(ReadTrace(log));
    ASSERT_FALSE(trace.calls().empty()) << "strace recorded nothing";

    // The copies, in their order: the original first.
    std::vector<size_t> renames;
    for (size_t i = 0; i < trace.calls().size(); ++i) {
        if (trace.IsRename(trace.calls()[i]) && trace.calls()[i].result == 0) renames.push_back(i);
    }
    ASSERT_EQ(renames.size(), 2u) << "a rename for each copy";
    const std::vector<std::string> origMove = Strings(trace.calls()[renames[0]].arguments);
    const std::vector<std::string> bakMove = Strings(trace.calls()[renames[1]].arguments);
    ASSERT_EQ(origMove, (std::vector<std::string>{"vlmr3.exe.orig.velmora-tmp", "vlmr3.exe.orig"}));
    ASSERT_EQ(bakMove, (std::vector<std::string>{"vlmr3.exe.bak.velmora-tmp", "vlmr3.exe.bak"}));

    // The original never replaces a file that is there.
    EXPECT_EQ(trace.calls()[renames[0]].name, "renameat2") << trace.calls()[renames[0]].line;
    EXPECT_NE(trace.calls()[renames[0]].arguments.find("RENAME_NOREPLACE"), std::string::npos)
        << trace.calls()[renames[0]].line;

    for (size_t r = 0; r < renames.size(); ++r) {
        const size_t rename = renames[r];
        const std::string temporary = Strings(trace.calls()[rename].arguments)[0];
        // Made new, never through a link.
        const size_t made = trace.Find(0, [&](size_t, const Call& c) {
            return c.name == "openat" && !Strings(c.arguments).empty() && Strings(c.arguments)[0] == temporary;
        });
        ASSERT_NE(made, std::string::npos) << temporary;
        for (const char* flag : {"O_CREAT", "O_EXCL", "O_NOFOLLOW"}) {
            EXPECT_NE(trace.calls()[made].arguments.find(flag), std::string::npos) << trace.calls()[made].line;
        }
        // Its bytes are on the disk before its name.
        const size_t synced = trace.Find(made, [&](size_t i, const Call& c) {
            return trace.IsSync(c) && c.result == 0 && trace.DescriptorAt(i).path == temporary;
        });
        EXPECT_LT(synced, rename) << temporary << " is not fsynced before its rename";
        // The rename is on the disk before anything else happens to the files.
        const size_t next = r + 1 < renames.size() ? renames[r + 1] : trace.calls().size();
        const size_t folderSynced = trace.Find(rename, [&](size_t i, const Call& c) {
            return trace.IsSync(c) && c.result == 0 && trace.DescriptorAt(i).folder;
        });
        EXPECT_LT(folderSynced, next) << "the folder is not fsynced after " << trace.calls()[rename].line;
    }

    // The game is on the disk before "Done" is printed.
    const size_t done = trace.Find(0, [](size_t, const Call& c) {
        return c.name == "write" && FirstNumber(c.arguments) == 1 && c.arguments.find("\"Done vlmr3.exe!") != std::string::npos;
    });
    ASSERT_NE(done, std::string::npos) << "no \"Done\" on stdout";
    const size_t gameSynced = trace.Find(renames[1], [&](size_t i, const Call& c) {
        return trace.IsSync(c) && c.result == 0 && trace.DescriptorAt(i).path == "vlmr3.exe";
    });
    EXPECT_LT(gameSynced, done) << "the game is not fsynced before \"Done\" is printed";

    // One look at the other processes for the whole run.
    size_t walks = 0;
    for (const Call& c : trace.calls()) {
        if (c.name == "openat" && c.arguments.find("\"/proc\"") != std::string::npos) ++walks;
    }
    EXPECT_EQ(walks, 1u);
}

// A folder of its own on a small tmpfs, as a nearly full disk; needs root.
class SmallDisk {
public:
    explicit SmallDisk(const fs::path& at) : at_(at) {
        fs::create_directories(at_);
        mounted_ = std::system(("mount -t tmpfs -o size=256k velmora-small " + Quote(at_.string()) + " 2>/dev/null").c_str()) == 0;
    }
    ~SmallDisk() {
        if (mounted_) std::system(("umount " + Quote(at_.string())).c_str());
    }
    bool mounted() const { return mounted_; }
    // Fills the disk so that `room` bytes are left free.
    bool LeaveFree(uint64_t room) const {
        struct statvfs facts;
        if (statvfs(at_.c_str(), &facts) != 0) return false;
        const uint64_t free = static_cast<uint64_t>(facts.f_bavail) * facts.f_frsize;
        if (free < room) return false;
        std::ofstream filler(at_ / "filler", std::ios::binary);
        filler << std::string(free - room, 'F');
        return static_cast<bool>(filler);
    }

private:
    fs::path at_;
    bool mounted_ = false;
};

TEST(CliFullDisk, RoomForOneCopyLeavesTheOldBackupAndNamesWhatWasWritten) {
    // Room for one copy of the game, not for two: the run fails, the old backup is as it
    // was, and the copy that was written is named, with the system's reason.
    for (const bool json : {false, true}) {
        GameFolder scratch;
        const fs::path game = scratch.path() / "game";
        SmallDisk disk(game);
        if (!disk.mounted()) GTEST_SKIP() << "mounting a tmpfs needs root";
        const Bytes image = With(Bytes(64 * 1024, 0x90), 0, FixtureImage());
        const Bytes oldBackup(4096, 0xEE);
        for (const auto& [name, bytes] : {std::pair<std::string, Bytes>{"vlmr3.exe", image}, {"vlmr3.exe.bak", oldBackup}}) {
            std::ofstream out(game / name, std::ios::binary);
            out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
        }
        ASSERT_TRUE(disk.LeaveFree(image.size() + image.size() / 2));
        std::vector<std::string> args = {"--dir", game.string()};
        if (json) args.push_back("--json");
        const CliRun run = scratch.Run(args);
        EXPECT_EQ(run.exitCode, 4) << run.out;
        std::ifstream backupFile(game / "vlmr3.exe.bak", std::ios::binary);
        const Bytes backup((std::istreambuf_iterator<char>(backupFile)), std::istreambuf_iterator<char>());
        EXPECT_EQ(backup, oldBackup) << "the old backup was replaced";
        std::ifstream targetFile(game / "vlmr3.exe", std::ios::binary);
        EXPECT_EQ(Bytes((std::istreambuf_iterator<char>(targetFile)), std::istreambuf_iterator<char>()), image);
        if (!json) {
            EXPECT_TRUE(Contains(run.out, "Nothing was changed!\n\nThe backup vlmr3.exe.bak\ncould not be written.\n"))
                << run.out;
            EXPECT_TRUE(Contains(run.out, "\nThe backup vlmr3.exe.bak could not be written: No space left on device\n"))
                << run.out;
            EXPECT_TRUE(Contains(run.out, "  vlmr3.exe.orig: written\n")) << run.out;
        } else {
            JsonValue value;
            std::string error;
            ASSERT_TRUE(ParseJson(run.out, &value, &error)) << error << run.out;
            ASSERT_EQ(value["copies"].items.size(), 2u) << run.out;
            EXPECT_FALSE(value["copies"].items[0]["written"].boolean) << run.out;
            EXPECT_EQ(value["copies"].items[1]["name"].text, "vlmr3.exe.orig");
            EXPECT_TRUE(value["copies"].items[1]["written"].boolean) << run.out;
            EXPECT_EQ(value["error"]["code"].text, "ENOSPC");
            EXPECT_EQ(value["error"]["text"].text, "No space left on device");
        }
    }
}

bool IsRoot() { return geteuid() == 0; }

TEST(CliOtherUsers, ProcessesThatCannotBeLookedAtAreNamed) {
    if (!IsRoot() || !Available("setpriv")) GTEST_SKIP() << "needs root and setpriv to run as another user";
    GameFolder folder, scratch;
    folder.Write("vlmr3.exe", FixtureImage());
    // The game's folder is the other user's; root's own process holds the game.
    ASSERT_EQ(chown(folder.path().c_str(), 65534, 65534), 0);
    ASSERT_EQ(chown(folder.PathOf("vlmr3.exe").c_str(), 65534, 65534), 0);
    ASSERT_EQ(chmod(scratch.path().c_str(), 0777), 0);
    FileHolder game(folder.PathOf("vlmr3.exe"), HOLD_OPEN);
    ASSERT_TRUE(game.holding());
    const CliRun run =
        RunWrapped(folder, "setpriv --reuid=65534 --regid=65534 --clear-groups", {"--dry-run"}, scratch.path());
    static const std::regex LINE(R"((^|\n)could not check [1-9][0-9]* processes of other users for the game\n)");
    EXPECT_TRUE(std::regex_search(run.out, LINE)) << run.out << run.err;
}

TEST(CliOtherUsers, AnotherUsersGameIsPermissionDeniedWithTheWayOut) {
    if (!IsRoot() || !Available("setpriv")) GTEST_SKIP() << "needs root and setpriv to run as another user";
    GameFolder folder, scratch;
    folder.Write("vlmr3.exe", FixtureImage());
    ASSERT_EQ(chmod(folder.path().c_str(), 0777), 0);
    ASSERT_EQ(chmod(folder.PathOf("vlmr3.exe").c_str(), 0644), 0);  // root's, not the player's
    const CliRun run = RunWrapped(folder, "setpriv --reuid=65534 --regid=65534 --clear-groups", {}, scratch.path());
    EXPECT_EQ(run.exitCode, 3);
    EXPECT_TRUE(Contains(run.err, "No Velmora 2345 files\nMaybe file is busy\nvlmr3.exe: permission denied\nMake it yours: "
                                  "sudo chown \"$USER\" '" + folder.PathOf("vlmr3.exe") + "'\n"))
        << run.err;
    EXPECT_EQ(folder.Read("vlmr3.exe"), FixtureImage());
    EXPECT_FALSE(folder.Exists("vlmr3.exe.bak"));
}

TEST(CliOtherUsers, AProcWithoutProcessesIsNamed) {
    if (!IsRoot() || !Available("unshare")) GTEST_SKIP() << "needs root and unshare for a /proc of its own";
    GameFolder folder, scratch;
    folder.Write("vlmr3.exe", FixtureImage());
    // A mount namespace whose /proc is an empty folder: no process can be looked at.
    const CliRun run = RunWrapped(folder, "unshare -m sh -c 'mount -t tmpfs none /proc && exec \"$0\" \"$@\"'",
                                  {"--dry-run"}, scratch.path());
    EXPECT_TRUE(Contains(run.out, "\ncould not check the processes of other users for the game: /proc cannot be read\n"))
        << run.out << run.err;
}

TEST(CliOtherUsers, APidNamespaceWithoutItsOwnProcIsNotInUse) {
    if (!IsRoot() || !Available("unshare")) GTEST_SKIP() << "needs root and unshare for a PID namespace";
    GameFolder folder, scratch;
    folder.Write("vlmr3.exe", FixtureImage());
    // The tool is process 1 in its namespace, but /proc still shows the outer numbers.
    const CliRun run = RunWrapped(folder, "unshare -p -f", {"--dry-run"}, scratch.path());
    EXPECT_EQ(run.exitCode, 0) << run.out << run.err;
    EXPECT_TRUE(Contains(run.out, "Done vlmr3.exe!")) << run.out;
}

}  // namespace
