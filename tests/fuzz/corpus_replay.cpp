// fuzz_<name>_corpus [gtest options] CORPUS_FOLDER
//   Feeds every file of CORPUS_FOLDER and its subfolders to the fuzz target it is linked
//   with, in the ordinary build under its sanitizers: the seeds, every input that ever
//   crashed the target or failed one of its properties, and the inputs that keep what the
//   fuzzer reached (coverage/). One case, <Name>Corpus.EveryFile, in which each file whose
//   property fails is a failure naming the file; a crash names it in the output before it.

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <stdexcept>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "fuzz_check.h"

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

void FuzzFailed(const std::string& what) { throw PropertyFailed(Printable(what)); }

int main(int argc, char** argv) {
    testing::InitGoogleTest(&argc, argv);
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s [gtest options] CORPUS_FOLDER\n", argv[0]);
        return 2;
    }
    g_corpus = argv[1];
    return RUN_ALL_TESTS();
}
