// fuzz_<name>_corpus [gtest options] CORPUS_FOLDER
//   Feeds every file of CORPUS_FOLDER and its subfolders to the fuzz target it is linked
//   with, one case a file, named after its path there: the seeds, the inputs that kept what
//   the fuzzer reached, and every input that ever crashed a target or failed one of its
//   properties, replayed in the ordinary build under its sanitizers.

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

class ReplayFile : public testing::Test {
public:
    explicit ReplayFile(std::filesystem::path path) : path_(std::move(path)) {}

    void TestBody() override {
        std::ifstream file(path_, std::ios::binary);
        ASSERT_TRUE(file) << "cannot read " << path_;
        const std::vector<char> bytes((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
        try {
            LLVMFuzzerTestOneInput(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
        } catch (const PropertyFailed& failure) {
            FAIL() << path_.string() << ": " << failure.what();
        }
    }

private:
    std::filesystem::path path_;
};

}  // namespace

void FuzzFailed(const std::string& what) { throw PropertyFailed(Printable(what)); }

int main(int argc, char** argv) {
    testing::InitGoogleTest(&argc, argv);
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s [gtest options] CORPUS_FOLDER\n", argv[0]);
        return 2;
    }
    const std::filesystem::path folder = argv[1];
    std::vector<std::filesystem::path> files;
    std::error_code error;
    // Below it too: libFuzzer reads a corpus folder with its subfolders.
    for (const auto& entry : std::filesystem::recursive_directory_iterator(folder, error)) {
        if (entry.is_regular_file()) files.push_back(entry.path());
    }
    std::sort(files.begin(), files.end());
    const std::string suite = std::string(FUZZ_TARGET_NAME) + "Corpus";
    for (const std::filesystem::path& path : files) {
        const std::string name = path.lexically_relative(folder).generic_string();
        testing::RegisterTest(suite.c_str(), name.c_str(), nullptr, nullptr, __FILE__, __LINE__,
                              [path]() -> testing::Test* { return new ReplayFile(path); });
    }
    if (files.empty()) {
        // A missing or empty corpus would otherwise pass without replaying anything.
        const std::string why = "no corpus files in " + folder.string() + (error ? ": " + error.message() : "");
        testing::RegisterTest(suite.c_str(), "HasFiles", nullptr, nullptr, __FILE__, __LINE__,
                              [why]() -> testing::Test* {
                                  struct NoFiles : testing::Test {
                                      std::string why;
                                      void TestBody() override { FAIL() << why; }
                                  };
                                  auto* test = new NoFiles;
                                  test->why = why;
                                  return test;
                              });
    }
    return RUN_ALL_TESTS();
}
