// The model of a game against the runs that made it: an image with the rules' patterns
// planted in it, patched by a sequence of runs as the window and velmora-patch run them
// (RunPatchJob in a folder of its own, with the values through FillJobValues as the fields
// and options give them, or as raw bits in the job), then:
// - the model explains the game from the original;
// - --status's state is "patched", or "original" when no byte changed;
// - restoring gives the original back byte for byte, and --status then says "original";
// - one byte flipped where no pattern of any rule could stand with its span over it, in any
//   mixture of the original's and the game's bytes, is never explained.
// The status and the restore are only asked where the original can be told from its own
// bytes: it holds the pattern of a rule that may run on the game, and no rule without a
// value has left its written form where its pattern is missing. Otherwise no file shows the
// game unpatched, and by design none is kept as the original.
//
// The input: the game's name and its case, the image's size and filler, the patterns to
// plant, the runs, where to flip a byte, and the rest as the image's first bytes.

#include <dirent.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "apply_inputs.h"
#include "fuzz_check.h"
#include "game_model.h"
#include "job_report.h"
#include "patch_job.h"
#include "patch_state.h"
#include "patch_worker.h"
#include "restore.h"
#include "rule_table.h"

namespace {

typedef std::vector<uint8_t> Bytes;

enum { MIN_SIZE = 16, MAX_SIZE = 4096, MAX_PLANTS = 12, MAX_RUNS = 6 };

// --- The folder the runs work in ---

bool EmptyFolder(const std::string& folder);

// Made once for the process, on a memory file system where there is one: a run forces its
// copies to the disk. Emptied before each case, and removed when the process ends.
const std::string& RunFolder() {
    static const std::string folder = [] {
        const char* temporary = std::getenv("TMPDIR");
        const std::string where = access("/dev/shm", W_OK) == 0 ? "/dev/shm" : temporary != nullptr ? temporary : "/tmp";
        std::string name = where + "/velmora-model-fuzz-XXXXXX";
        if (mkdtemp(&name[0]) == nullptr) FuzzFailed("cannot make a folder for the runs in " + where);
        return name;
    }();
    static const bool removedAtExit = std::atexit([] {
        EmptyFolder(RunFolder());
        rmdir(RunFolder().c_str());
    }) == 0;
    (void)removedAtExit;
    return folder;
}

bool EmptyFolder(const std::string& folder) {
    DIR* dir = opendir(folder.c_str());
    if (dir == nullptr) return false;
    std::vector<std::string> names;
    while (const dirent* entry = readdir(dir)) {
        const std::string name = entry->d_name;
        if (name != "." && name != "..") names.push_back(name);
    }
    closedir(dir);
    for (const std::string& name : names) std::remove((folder + "/" + name).c_str());
    return true;
}

// In the run folder while it lives; back in the previous folder afterwards, also when a
// failed property ends the case with an exception (the replay).
class InRunFolder {
public:
    InRunFolder() {
        if (getcwd(previous_, sizeof previous_) == nullptr) FuzzFailed("cannot tell the current folder");
        if (!EmptyFolder(RunFolder())) FuzzFailed("cannot list " + RunFolder());
        if (chdir(RunFolder().c_str()) != 0) FuzzFailed("cannot go into " + RunFolder());
    }
    ~InRunFolder() {
        if (chdir(previous_) != 0) std::abort();
    }
    InRunFolder(const InRunFolder&) = delete;
    InRunFolder& operator=(const InRunFolder&) = delete;

private:
    char previous_[4096];
};

void WriteBytes(const std::string& name, const Bytes& bytes) {
    FILE* file = std::fopen(name.c_str(), "wb");
    const bool written = file != nullptr && (bytes.empty() || std::fwrite(bytes.data(), bytes.size(), 1, file) == 1);
    if (file == nullptr || std::fclose(file) != 0 || !written) FuzzFailed("cannot write " + name);
}

bool ReadBytes(const std::string& name, Bytes* bytes) {
    FILE* file = std::fopen(name.c_str(), "rb");
    if (file == nullptr) return false;
    bytes->clear();
    uint8_t block[4096];
    for (size_t got; (got = std::fread(block, 1, sizeof block, file)) != 0;) bytes->insert(bytes->end(), block, block + got);
    std::fclose(file);
    return true;
}

// --- The image ---

bool Matches(const Bytes& image, uint32_t at, const BytePattern& pattern) {
    if (at > image.size() || image.size() - at < pattern.length) return false;
    for (uint32_t i = 0; i < pattern.length; ++i) {
        if (pattern.fixed[i] && image[at + i] != pattern.bytes[i]) return false;
    }
    return true;
}

bool HasPattern(const Bytes& image, const BytePattern& pattern) {
    for (uint32_t at = 0; at + pattern.length <= image.size(); ++at) {
        if (Matches(image, at, pattern)) return true;
    }
    return false;
}

// Whether the original can be told from its own bytes (see the top of the file).
bool OriginalShowsItself(const Bytes& image, int candidate) {
    bool anyPattern = false;
    for (int i = 0; i < RULE_COUNT; ++i) {
        const PatchRule rule = static_cast<PatchRule>(i);
        if (!RuleMayRunOn(rule, candidate)) continue;
        const RuleRow& row = RuleOf(rule);
        const bool present = HasPattern(image, row.pattern);
        anyPattern = anyPattern || present;
        uint32_t bits = 0;
        if (present || row.kind != VALUE_NONE || !row.encode(RuleValue(), &bits)) continue;
        BytePattern written = row.pattern;
        row.write(written.bytes, row, bits);
        if (HasPattern(image, written)) return false;
    }
    return anyPattern;
}

// No pattern of a rule that may run on the game could stand with its span over `at` in any
// image whose bytes are each the original's or the game's: no replay from the original can
// write there. (The 60 FPS rule's span on game 4 is outside every span.)
bool OutsideEverySpan(const Bytes& original, const Bytes& game, int candidate, uint32_t at) {
    for (int rule = 0; rule < RULE_COUNT; ++rule) {
        if (!RuleMayRunOn(static_cast<PatchRule>(rule), candidate)) continue;
        const RuleRow& row = RuleOf(static_cast<PatchRule>(rule));
        const uint32_t spanEnd = row.span.offset + row.span.length;
        for (uint32_t back = row.span.offset; back < spanEnd; ++back) {
            if (at < back) break;
            const uint32_t hit = at - back;
            if (hit + row.pattern.length > original.size()) continue;
            bool could = true;
            for (uint32_t i = 0; i < row.pattern.length && could; ++i) {
                const uint8_t wanted = row.pattern.bytes[i];
                could = !row.pattern.fixed[i] || original[hit + i] == wanted || game[hit + i] == wanted;
            }
            if (could) return false;
        }
    }
    return true;
}

Bytes MakeImage(FuzzInput& in) {
    const uint32_t size = MIN_SIZE + in.Below(MAX_SIZE - MIN_SIZE + 1);
    const uint8_t filler = in.Byte();
    struct Plant {
        PatchRule rule;
        uint32_t at;
        uint8_t wild[BYTE_PATTERN_MAX];
    };
    std::vector<Plant> plants(in.Below(MAX_PLANTS + 1));
    for (Plant& plant : plants) {
        plant.rule = static_cast<PatchRule>(in.Below(RULE_COUNT));
        // Mostly close together, where they chain and overlap; else anywhere.
        plant.at = in.Flag() ? in.Below(64) : in.Below(size);
        for (uint8_t& byte : plant.wild) byte = in.Byte();
    }
    // The image's first bytes are read last: the rest of the input.
    const std::string head = in.Rest();
    Bytes image(size, filler);
    for (size_t i = 0; i < head.size() && i < size; ++i) image[i] = static_cast<uint8_t>(head[i]);
    for (const Plant& plant : plants) {
        const BytePattern& pattern = RuleOf(plant.rule).pattern;
        for (uint32_t i = 0; i < pattern.length && plant.at + i < size; ++i) {
            image[plant.at + i] = pattern.fixed[i] ? pattern.bytes[i] : plant.wild[i];
        }
    }
    return image;
}

// --- The runs ---

struct Run {
    PatchJob job;
    bool console;  // velmora-patch's run, which writes new values at patched places; else the window's
};

const uint32_t RATIOS[][2] = {{16, 9}, {21, 9}, {16, 10}, {4, 3}, {5, 4}, {32, 9}};
const uint32_t WIDTHS[] = {1920, 1280, 2560, 3440, 1440, 640};

std::string Decimal(uint32_t value) { return std::to_string(value); }

// The fields' texts as a player or a script types them, through the engine's checks.
void TypedValues(FuzzInput& in, PatchJob* job) {
    std::string width, height, camera, fov;
    const uint32_t ratio = in.Below(8);
    if (ratio < 6) {
        width = Decimal(RATIOS[ratio][0]);
        height = Decimal(RATIOS[ratio][1]);
    } else {
        const uint32_t maximum = RuleOf(RULE_WIDESCREEN).maximum;
        width = Decimal(1 + in.U32() % maximum);
        height = Decimal(1 + (ratio == 6 ? in.Below(64) : in.U32() % maximum));
    }
    // The game's own distance, another common one, or any.
    const uint32_t distance = in.Below(4);
    camera = distance == 0 ? "1536" : distance == 1 ? "2000" : Decimal(1 + in.U16() % RuleOf(RULE_CAMERA).maximum);
    const uint32_t screen = in.Below(8);
    fov = screen < 6 ? Decimal(WIDTHS[screen]) : screen == 6 ? "undef" : Decimal(1 + in.U32() % RuleOf(RULE_FOV).maximum);
    const InputTexts texts = {width.c_str(), height.c_str(), camera.c_str(), fov.c_str()};
    char message[PATCH_TEXT_SIZE];
    if (FillJobValues(texts, job, message) != INPUT_OK) FuzzFailed(std::string("a value in range refused: ") + message);
}

// Any bits, as the job can carry them: a written value's bytes may make another rule's hit.
void RawValues(FuzzInput& in, PatchJob* job) {
    const uint32_t bits = in.U32();
    std::memcpy(&job->requests[RULE_WIDESCREEN].value.ratio, &bits, sizeof bits);
    // As FillJobValues holds a distance: its 16 bits, those above 32767 as a negative number.
    job->requests[RULE_CAMERA].value.whole = static_cast<int16_t>(in.U16());
    job->requests[RULE_FOV].value.whole = static_cast<int32_t>(in.U32());
}

std::vector<Run> MakeRuns(FuzzInput& in) {
    std::vector<Run> runs(1 + in.Below(MAX_RUNS));
    for (Run& run : runs) {
        std::memset(&run.job, 0, sizeof run.job);
        const uint8_t how = in.Byte();
        run.console = (how & 1) != 0;
        for (int rule = 0; rule < RULE_COUNT; ++rule) run.job.requests[rule].on = ((how >> (2 + rule)) & 1) != 0;
        if (how & 2) {
            RawValues(in, &run.job);
        } else {
            TypedValues(in, &run.job);
        }
    }
    return runs;
}

std::string RunName(size_t index) { return "after run " + Decimal(static_cast<uint32_t>(index + 1)); }

void RunAll(std::vector<Run>& runs, const std::string& game) {
    for (size_t i = 0; i < runs.size(); ++i) {
        Run& run = runs[i];
        JobReport report;
        RunPatchJob(&run.job, run.console ? &report : nullptr);
        if (run.job.failure_text[0] != '\0') {
            FuzzFailed(RunName(i) + ": the run failed: " + run.job.failure_text);
        }
        if (std::strcmp(run.job.target_name, game.c_str()) != 0) {
            FuzzFailed(RunName(i) + ": the run took " + run.job.target_name + " for " + game);
        }
    }
}

std::string Offset(uint32_t at) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%X", at);
    return text;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzInput in(data, size);
    const int candidate = static_cast<int>(in.Below(TARGET_CANDIDATE_COUNT));
    // The game's name as spelt, or in capitals: a copy from a disc or a Windows drive.
    std::string game = TARGET_CANDIDATES[candidate];
    if (in.Flag()) {
        for (char& c : game) c = static_cast<char>(c >= 'a' && c <= 'z' ? c - 'a' + 'A' : c);
    }
    std::vector<Run> runs = MakeRuns(in);
    const uint32_t flipFrom = in.U16();
    const uint8_t flipBits = static_cast<uint8_t>(1 + in.Below(255));
    const Bytes original = MakeImage(in);

    InRunFolder folder;
    WriteBytes(game, original);
    RunAll(runs, game);

    Bytes patched;
    if (!ReadBytes(game, &patched)) FuzzFailed("the game is gone after the runs");
    FuzzExpect(patched.size() == original.size(), "the runs changed the game's size");
    const uint32_t imageSize = static_cast<uint32_t>(original.size());

    GameModel model;
    if (!ExplainGame(patched.data(), imageSize, original.data(), imageSize, candidate, &model)) {
        FuzzFailed("the model does not explain the game from the original: byte " + Offset(model.firstUnexplained));
    }
    const bool changed = patched != original;
    FuzzExpect(model.identical == !changed, "the model calls the game identical to the original when it is not, or the reverse");

    // The flip: from where the input says, the first byte outside every span.
    for (uint32_t i = 0; i < imageSize; ++i) {
        const uint32_t at = (flipFrom + i) % imageSize;
        if (!OutsideEverySpan(original, patched, candidate, at)) continue;
        Bytes flipped = patched;
        flipped[at] ^= flipBits;
        GameModel other;
        if (ExplainGame(flipped.data(), imageSize, original.data(), imageSize, candidate, &other)) {
            FuzzFailed("a byte flipped outside every span is explained: " + Offset(at));
        }
        break;
    }

    if (!OriginalShowsItself(original, candidate)) return 0;

    GameStatus status;
    ReadGameStatus(game.c_str(), candidate, &status);
    const GameState expected = changed ? GAME_PATCHED : GAME_ORIGINAL;
    if (status.state != expected) {
        FuzzFailed(std::string("--status says ") + GameStateWord(status.state) + " of a game that is " +
                   GameStateWord(expected));
    }

    RestoreResult restore;
    RunRestore(false, &restore);
    Bytes restored;
    if (!ReadBytes(game, &restored)) FuzzFailed("the game is gone after the restore");
    if (restored != original) {
        FuzzFailed(std::string("the restore does not give the original back: ") + restore.text);
    }
    FuzzExpect(restore.outcome == (changed ? RESTORE_DONE : RESTORE_ALREADY), "the restore says other than what it did");
    FuzzExpect(!restore.copyPatched, "the restore calls the original patched");

    GameStatus after;
    ReadGameStatus(game.c_str(), candidate, &after);
    if (after.state != GAME_ORIGINAL) {
        FuzzFailed(std::string("--status says ") + GameStateWord(after.state) + " of the restored game");
    }
    return 0;
}
