// Throughput of the four byte-pattern rules, side by side in one run: the engine's scan
// and the literal reference scan, each rule alone and all four together, against one
// memchr pass over the same buffer; and the whole patch job against two plain file copies.
//
// A rule rewrites the image it scans, so a second iteration over the same buffer would find
// fewer hits (the FOV and 60 FPS writes destroy their own patterns) and time a different
// scan. Each benchmark therefore applies its rules once to a copy before timing, notes
// every byte that differs from the original, and after each timed iteration puts exactly
// those bytes back with the timer paused; the job benchmark puts them back into the file
// the same way. Every iteration thus scans the same original image and makes the same
// writes, with realistic values (16:9, camera 2048, FOV width 1920, 60 FPS on); putting
// back a few hundred bytes costs microseconds against milliseconds per scan. Writing the
// same bytes back (4:3, 1536) was not enough: it leaves the FOV and 60 FPS rules out.
//
// The first-only rules end at their hit. The code image holds neither the 4:3 constant
// nor the frame-rate compare, and the random image has them in its last 4 KiB, so every
// rule examines the whole image and the rates compare like with like.

#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include <unistd.h>

#include "bench_images.h"
#include "byte_scan.h"
#include "candidate_names.h"
#include "patch_rules.h"
#include "patch_worker.h"

namespace fs = std::filesystem;

namespace {

const uint32_t IMAGE_SIZE = 64u << 20;
const float ASPECT = 16.0f / 9.0f;
const int16_t CAMERA_DISTANCE = 2048;
const int32_t FOV_WIDTH = 1920;
const char TARGET_NAME[] = "vlmr3.exe";  // one of the games whose frame-rate cap the rules lift

enum ImageKind { REAL_CODE, RANDOM, IMAGE_KIND_COUNT };
const char* const IMAGE_NAMES[IMAGE_KIND_COUNT] = {"realcode", "random"};
const char* const RULE_NAMES[RULE_COUNT] = {"widescreen", "camera", "fov", "fps60"};

Image g_images[IMAGE_KIND_COUNT];

struct Change {
    uint32_t offset;
    uint8_t original;
};

std::vector<Change> ChangesAgainst(const Image& original, const Image& patched) {
    std::vector<Change> changes;
    for (uint32_t i = 0; i < original.size(); ++i) {
        if (original[i] != patched[i]) changes.push_back({i, original[i]});
    }
    return changes;
}

void PutBack(Image& image, const std::vector<Change>& changes) {
    for (const Change& change : changes) image[change.offset] = change.original;
}

const RuleValue BENCH_VALUES[RULE_COUNT] = {{ASPECT, 0}, {0, CAMERA_DISTANCE}, {0, FOV_WIDTH}, {0, 0}};

bool RunRule(PatchRule rule, uint8_t* image, uint32_t size, ScanKind kind) {
    return RunRuleWithValue(rule, image, size, BENCH_VALUES[rule], kind);
}

PatchJob MakeBenchJob() {
    PatchJob job;
    std::memset(&job, 0, sizeof job);
    for (int rule = 0; rule < RULE_COUNT; ++rule) job.requests[rule] = {true, BENCH_VALUES[rule]};  // every rule runs
    std::strcpy(job.target_name, TARGET_NAME);
    job.candidate = CandidateIndexOf(TARGET_NAME);
    return job;
}

void RunAllRules(uint8_t* image, uint32_t size, ScanKind kind) {
    PatchJob job = MakeBenchJob();
    bool applied[RULE_COUNT] = {};
    ApplyPatchRules(image, size, &job, applied, kind);
}

void SetThroughput(benchmark::State& state, uint64_t bytesPerIteration) {
    state.counters["GB/s"] = benchmark::Counter(static_cast<double>(bytesPerIteration) / 1e9,
                                                benchmark::Counter::kIsIterationInvariantRate);
}

// Times `patch` over a private copy of the image, which is the original again before every
// iteration.
template <class Patch>
void TimePatching(benchmark::State& state, ImageKind kind, Patch patch) {
    const Image& original = g_images[kind];
    if (original.empty()) {
        state.SkipWithError("no i386 PE files found on this machine");
        return;
    }
    Image image = original;
    const uint32_t size = static_cast<uint32_t>(image.size());
    patch(image.data(), size);
    const std::vector<Change> changes = ChangesAgainst(original, image);
    PutBack(image, changes);
    for (auto _ : state) {
        patch(image.data(), size);
        benchmark::ClobberMemory();
        state.PauseTiming();
        PutBack(image, changes);
        state.ResumeTiming();
    }
    SetThroughput(state, size);
    state.counters["changed_bytes"] = static_cast<double>(changes.size());
}

void BM_Rule(benchmark::State& state, ImageKind image, PatchRule rule, ScanKind kind) {
    TimePatching(state, image, [rule, kind](uint8_t* data, uint32_t size) { RunRule(rule, data, size, kind); });
}

void BM_AllRules(benchmark::State& state, ImageKind image, ScanKind kind) {
    TimePatching(state, image, [kind](uint8_t* data, uint32_t size) { RunAllRules(data, size, kind); });
}

// One memchr over the whole buffer for a byte that is not in it: the rate at which this
// machine can read the buffer at all. The code image holds every byte value, so this pass
// reads a copy in which its rarest value is replaced by another.
void BM_Memchr(benchmark::State& state, ImageKind kind) {
    if (g_images[kind].empty()) {
        state.SkipWithError("no i386 PE files found on this machine");
        return;
    }
    Image image = g_images[kind];
    uint64_t occurrences = 0;
    const uint8_t absent = RarestByte(image, &occurrences);
    for (uint8_t& b : image) {
        if (b == absent) b = static_cast<uint8_t>(absent + 1);
    }
    for (auto _ : state) {
        const void* hit = std::memchr(image.data(), absent, image.size());
        benchmark::DoNotOptimize(hit);
    }
    SetThroughput(state, image.size());
    state.counters["replaced_bytes"] = static_cast<double>(occurrences);
}

// The four rules together with a slower instruction set than the best one: what the
// 32-bit program gets on a processor that has only SSE2, or AVX2.
void BM_AllRulesWithIsa(benchmark::State& state, ImageKind image, ScanIsa isa) {
    UseScanIsa(isa);
    TimePatching(state, image, [](uint8_t* data, uint32_t size) { RunAllRules(data, size, SCAN_FAST); });
    UseScanIsa(BestScanIsa());
}

// Five memchr passes over each sweep block in turn: the first brings the block in from
// memory, the other four find it in the cache. Set against one memchr pass and four over
// a cached block, it shows whether reading from memory overlaps with work on cached data
// on this machine, which bounds any one-sweep scan from below.
void BM_MemchrFivePerBlock(benchmark::State& state, ImageKind kind) {
    if (g_images[kind].empty()) {
        state.SkipWithError("no i386 PE files found on this machine");
        return;
    }
    Image image = g_images[kind];
    uint64_t occurrences = 0;
    const uint8_t absent = RarestByte(image, &occurrences);
    for (uint8_t& b : image) {
        if (b == absent) b = static_cast<uint8_t>(absent + 1);
    }
    for (auto _ : state) {
        for (size_t block = 0; block < image.size(); block += SWEEP_BLOCK) {
            const size_t length = std::min<size_t>(SWEEP_BLOCK, image.size() - block);
            for (int pass = 0; pass < 5; ++pass) {
                const void* hit = std::memchr(image.data() + block, absent, length);
                benchmark::DoNotOptimize(hit);
            }
        }
    }
    SetThroughput(state, image.size());
}

// A working folder holding the real-code image as a game executable; removed afterwards.
class JobFolder {
public:
    JobFolder() : previous_(fs::current_path()) {
        path_ = fs::temp_directory_path() / ("velmora-bench-" + std::to_string(::getpid()));
        fs::create_directories(path_);
        fs::current_path(path_);
    }
    ~JobFolder() {
        fs::current_path(previous_);
        std::error_code ignored;
        fs::remove_all(path_, ignored);
    }

private:
    fs::path previous_;
    fs::path path_;
};

bool WriteFileWhole(const char* name, const Image& bytes) {
    FILE* file = std::fopen(name, "wb");
    if (file == nullptr) return false;
    const bool written = std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
    return (std::fclose(file) == 0) && written;
}

bool PutBackInFile(const char* name, const std::vector<Change>& changes) {
    FILE* file = std::fopen(name, "r+b");
    if (file == nullptr) return false;
    bool written = true;
    for (const Change& change : changes) {
        written = written && std::fseek(file, change.offset, SEEK_SET) == 0 && std::fputc(change.original, file) != EOF;
    }
    return (std::fclose(file) == 0) && written;
}

// The plain copy the job's two writes are measured against: a stdio stream in, a stdio
// stream out, through one reused buffer.
bool CopyFile(const char* from, const char* to, std::vector<char>& buffer) {
    FILE* in = std::fopen(from, "rb");
    if (in == nullptr) return false;
    FILE* out = std::fopen(to, "wb");
    if (out == nullptr) {
        std::fclose(in);
        return false;
    }
    bool ok = true;
    for (;;) {
        const size_t got = std::fread(buffer.data(), 1, buffer.size(), in);
        if (got == 0) break;
        if (std::fwrite(buffer.data(), 1, got, out) != got) {
            ok = false;
            break;
        }
    }
    ok = !std::ferror(in) && ok;
    std::fclose(in);
    return (std::fclose(out) == 0) && ok;
}

// The whole job, end to end: probe, read, backup, the four rules, write-back.
void BM_Job(benchmark::State& state) {
    const Image& original = g_images[REAL_CODE];
    if (original.empty()) {
        state.SkipWithError("no i386 PE files found on this machine");
        return;
    }
    Image patched = original;
    RunAllRules(patched.data(), static_cast<uint32_t>(patched.size()), SCAN_FAST);
    const std::vector<Change> changes = ChangesAgainst(original, patched);
    patched = Image();

    JobFolder folder;
    if (!WriteFileWhole(TARGET_NAME, original)) {
        state.SkipWithError("cannot write the target file");
        return;
    }
    for (auto _ : state) {
        PatchJob job = MakeBenchJob();
        job.target_name[0] = '\0';
        RunPatchJob(&job);
        state.PauseTiming();
        const bool ok = job.failure_text[0] == '\0' && std::strcmp(job.target_name, TARGET_NAME) == 0;
        if (!ok || !PutBackInFile(TARGET_NAME, changes)) {
            state.SkipWithError("the job failed");
            break;
        }
        state.ResumeTiming();
    }
    SetThroughput(state, original.size());
}

void BM_TwoCopies(benchmark::State& state) {
    const Image& original = g_images[REAL_CODE];
    if (original.empty()) {
        state.SkipWithError("no i386 PE files found on this machine");
        return;
    }
    JobFolder folder;
    if (!WriteFileWhole(TARGET_NAME, original)) {
        state.SkipWithError("cannot write the target file");
        return;
    }
    std::vector<char> buffer(1u << 20);
    for (auto _ : state) {
        if (!CopyFile(TARGET_NAME, "copy-1.exe", buffer) || !CopyFile(TARGET_NAME, "copy-2.exe", buffer)) {
            state.SkipWithError("copy failed");
            break;
        }
    }
    SetThroughput(state, original.size());
}

// What the job must do before its first rule: a new buffer of the file's size, the whole
// file read into it. Its pages are new to the process, and on some virtual machines each
// new page costs far more than the bytes copied into it.
void BM_ReadWhole(benchmark::State& state) {
    const Image& original = g_images[REAL_CODE];
    if (original.empty()) {
        state.SkipWithError("no i386 PE files found on this machine");
        return;
    }
    JobFolder folder;
    if (!WriteFileWhole(TARGET_NAME, original)) {
        state.SkipWithError("cannot write the target file");
        return;
    }
    for (auto _ : state) {
        FILE* file = std::fopen(TARGET_NAME, "rb");
        void* buffer = std::malloc(original.size());
        const bool read = file != nullptr && buffer != nullptr &&
                          std::fread(buffer, 1, original.size(), file) == original.size();
        benchmark::DoNotOptimize(buffer);
        std::free(buffer);
        if (file != nullptr) std::fclose(file);
        if (!read) {
            state.SkipWithError("read failed");
            break;
        }
    }
    SetThroughput(state, original.size());
}

// A new buffer of the image's size, every byte written once, and freed: the cost of the
// pages alone.
void BM_NewPages(benchmark::State& state) {
    for (auto _ : state) {
        void* buffer = std::malloc(IMAGE_SIZE);
        if (buffer == nullptr) {
            state.SkipWithError("out of memory");
            break;
        }
        std::memset(buffer, 1, IMAGE_SIZE);
        benchmark::DoNotOptimize(buffer);
        std::free(buffer);
    }
    SetThroughput(state, IMAGE_SIZE);
}

void RegisterAll() {
    for (int kind = 0; kind < IMAGE_KIND_COUNT; ++kind) {
        const ImageKind image = static_cast<ImageKind>(kind);
        const std::string prefix = IMAGE_NAMES[kind];
        benchmark::RegisterBenchmark((prefix + "/memchr").c_str(), BM_Memchr, image)->UseRealTime();
        for (int rule = 0; rule < RULE_COUNT; ++rule) {
            const PatchRule r = static_cast<PatchRule>(rule);
            benchmark::RegisterBenchmark((prefix + "/fast/" + RULE_NAMES[rule]).c_str(), BM_Rule, image, r,
                                         SCAN_FAST)
                ->UseRealTime();
            benchmark::RegisterBenchmark((prefix + "/literal/" + RULE_NAMES[rule]).c_str(), BM_Rule, image, r,
                                         SCAN_LITERAL)
                ->UseRealTime();
        }
        benchmark::RegisterBenchmark((prefix + "/fast/all_rules").c_str(), BM_AllRules, image, SCAN_FAST)
            ->UseRealTime();
        benchmark::RegisterBenchmark((prefix + "/literal/all_rules").c_str(), BM_AllRules, image, SCAN_LITERAL)
            ->UseRealTime();
    }
    for (int isa = SCAN_ISA_SSE2; isa < BestScanIsa(); ++isa) {
        const ScanIsa slower = static_cast<ScanIsa>(isa);
        benchmark::RegisterBenchmark((std::string("realcode/fast_") + ScanIsaName(slower) + "/all_rules").c_str(),
                                     BM_AllRulesWithIsa, REAL_CODE, slower)
            ->UseRealTime();
    }
    benchmark::RegisterBenchmark("realcode/memchr_5_per_block", BM_MemchrFivePerBlock, REAL_CODE)->UseRealTime();
    benchmark::RegisterBenchmark("file/job", BM_Job)->UseRealTime();
    benchmark::RegisterBenchmark("file/two_copies", BM_TwoCopies)->UseRealTime();
    benchmark::RegisterBenchmark("file/read_whole", BM_ReadWhole)->UseRealTime();
    benchmark::RegisterBenchmark("memory/new_pages", BM_NewPages)->UseRealTime();
}

}  // namespace

int main(int argc, char** argv) {
    if (argc == 3 && std::strcmp(argv[1], "--write-real-code-image") == 0) {
        const RealCodeImage real = BuildRealCodeImage(IMAGE_SIZE);
        if (real.bytes.empty()) {
            std::fprintf(stderr, "no i386 PE files found on this machine\n");
            return 1;
        }
        if (!WriteFileWhole(argv[2], real.bytes)) {
            std::fprintf(stderr, "cannot write %s\n", argv[2]);
            return 1;
        }
        std::printf("%s: %u bytes, %s\n", argv[2], IMAGE_SIZE, real.source.c_str());
        return 0;
    }

    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    RealCodeImage real = BuildRealCodeImage(IMAGE_SIZE);
    g_images[REAL_CODE] = std::move(real.bytes);
    g_images[RANDOM] = BuildRandomImage(IMAGE_SIZE);
    benchmark::AddCustomContext("realcode", real.source.empty() ? "none found" : real.source);
    benchmark::AddCustomContext("image_size", std::to_string(IMAGE_SIZE) + " bytes");
    benchmark::AddCustomContext("scan_isa", ScanIsaName(BestScanIsa()));
    RegisterAll();
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
