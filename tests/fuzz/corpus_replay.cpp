// fuzz_<name>_corpus [gtest options] CORPUS_FOLDER
//   Feeds every file of CORPUS_FOLDER and its subfolders to the fuzz target it is linked
//   with, in the ordinary build under its sanitizers: the seeds, every input that ever
//   crashed the target or failed one of its properties, and the inputs that keep what the
//   fuzzer reached (coverage/). One case, <Name>Corpus.EveryFile, in which each file whose
//   property fails is a failure naming the file; a crash names it in the output before it.

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <stdexcept>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "fuzz_check.h"

#ifdef FUZZ_OWN_PROCESSES
#include <sched.h>
#include <sys/mount.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

namespace {

struct PropertyFailed : std::runtime_error {
    using std::runtime_error::runtime_error;
};

std::filesystem::path g_corpus;

TEST(FUZZ_SUITE, EveryFile) {
    std::vector<std::filesystem::path> files;
    std::error_code error;
    // Below it too: libFuzzer reads a corpus folder with its subfolders.
    for (const auto& entry : std::filesystem::recursive_directory_iterator(g_corpus, error)) {
        if (entry.is_regular_file()) files.push_back(entry.path());
    }
    ASSERT_FALSE(error) << "cannot list " << g_corpus << ": " << error.message();
    // An empty corpus would otherwise pass without replaying anything.
    ASSERT_FALSE(files.empty()) << "no corpus files in " << g_corpus;
    std::sort(files.begin(), files.end());
    for (const std::filesystem::path& path : files) {
        const std::string name = path.lexically_relative(g_corpus).generic_string();
        std::ifstream file(path, std::ios::binary);
        if (!file) {
            ADD_FAILURE() << "cannot read " << name;
            continue;
        }
        const std::vector<char> bytes((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
        // Shown only with a crash (CTest prints the output of a failed program): the file
        // that was running.
        std::fprintf(stderr, "replaying %s\n", name.c_str());
        try {
            LLVMFuzzerTestOneInput(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
        } catch (const PropertyFailed& failure) {
            ADD_FAILURE() << name << ": " << failure.what();
        }
    }
    std::printf("%zu corpus files replayed\n", files.size());
}

}  // namespace

#ifdef FUZZ_OWN_PROCESSES
namespace {

// The exit code of a process waited for, as the shell gives it.
int ExitCodeOf(pid_t child) {
    int status = 0;
    while (waitpid(child, &status, 0) < 0) {
        if (errno != EINTR) return 125;
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

// A target whose runs look at every other process for who holds the game (natively, where
// there are no sharing modes) replays its corpus in a PID namespace of its own, with a
// /proc of its own: there are no other processes to look at, and a case takes a
// millisecond, not tens of them. Returns in the process that goes on to run the case: the
// second of the namespace, whose first only waits for it; or this one, as it is, where the
// system refuses a namespace (not root). The others end with its exit code.
void InOwnProcesses() {
    if (unshare(CLONE_NEWPID | CLONE_NEWNS) != 0) return;
    const pid_t first = fork();
    if (first < 0) return;
    // Ended at once: this process can start no other one any more once the namespace's
    // first has ended, not even the thread that the leak check at the exit starts.
    if (first > 0) _exit(ExitCodeOf(first));
    // The first of the namespace; the /proc mounted here is this mount namespace's alone.
    if (mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) == 0) {
        mount("proc", "/proc", "proc", MS_NOSUID | MS_NODEV | MS_NOEXEC, nullptr);
    }
    // The case runs in a second process: the first of a namespace ignores the signals it
    // has no handler for, an abort among them.
    const pid_t second = fork();
    if (second < 0) return;
    if (second > 0) _exit(ExitCodeOf(second));
}

}  // namespace
#endif

void FuzzFailed(const std::string& what) { throw PropertyFailed(Printable(what)); }

int main(int argc, char** argv) {
#ifdef FUZZ_OWN_PROCESSES
    InOwnProcesses();
#endif
    testing::InitGoogleTest(&argc, argv);
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s [gtest options] CORPUS_FOLDER\n", argv[0]);
        return 2;
    }
    g_corpus = argv[1];
    return RUN_ALL_TESTS();
}
