// The four byte-pattern rules on small images, each case run with both the fast scan the
// program uses and the plain reference scan.

#include <cmath>
#include <cstring>
#include <limits>
#include <string>

#include <gtest/gtest.h>

#include "job_report.h"
#include "candidate_names.h"
#include "patch_rules.h"
#include "test_folder.h"

namespace {

struct RuleCase {
    const char* name;
    bool widescreen, camera, fov, fps;  // feature toggles
    float aspect;
    int16_t cameraDistance;
    int32_t fovWidth;
    const char* target;
    Bytes before;
    Bytes after;
    bool applied[RULE_COUNT];
};

float FloatFromBits(uint32_t bits) {
    float value;
    std::memcpy(&value, &bits, sizeof value);
    return value;
}

const float SIXTEEN_NINTHS = 16.0f / 9.0f;  // 3FE38E39

const RuleCase RULE_CASES[] = {
    {"widescreen_first_of_two_hits_only", 1, 0, 0, 0, SIXTEEN_NINTHS, 0, 0, "vlmr4.exe",
     {0x00, 0xAB, 0xAA, 0xAA, 0x3F, 0x11, 0xAB, 0xAA, 0xAA, 0x3F},
     {0x00, 0x39, 0x8E, 0xE3, 0x3F, 0x11, 0xAB, 0xAA, 0xAA, 0x3F}, {true, false, false, false}},
    {"widescreen_sixteen_tenths", 1, 0, 0, 0, 1.6f, 0, 0, "vlmr4.exe",
     {0xAB, 0xAA, 0xAA, 0x3F}, {0xCD, 0xCC, 0xCC, 0x3F}, {true, false, false, false}},
    {"widescreen_pattern_ending_at_last_byte", 1, 0, 0, 0, SIXTEEN_NINTHS, 0, 0, "vlmr4.exe",
     {0x01, 0x02, 0xAB, 0xAA, 0xAA, 0x3F}, {0x01, 0x02, 0x39, 0x8E, 0xE3, 0x3F}, {true, false, false, false}},
    {"widescreen_image_shorter_than_pattern", 1, 0, 0, 0, SIXTEEN_NINTHS, 0, 0, "vlmr4.exe",
     {0xAB, 0xAA, 0xAA}, {0xAB, 0xAA, 0xAA}, {false, false, false, false}},
    {"widescreen_four_thirds_writes_itself_and_counts", 1, 0, 0, 0, 4.0f / 3.0f, 0, 0, "vlmr4.exe",
     {0xAB, 0xAA, 0xAA, 0x3F}, {0xAB, 0xAA, 0xAA, 0x3F}, {true, false, false, false}},
    {"widescreen_toggle_off_does_not_scan", 0, 0, 0, 0, SIXTEEN_NINTHS, 0, 0, "vlmr4.exe",
     {0xAB, 0xAA, 0xAA, 0x3F}, {0xAB, 0xAA, 0xAA, 0x3F}, {false, false, false, false}},
    {"widescreen_zero_aspect_does_not_run", 1, 0, 0, 0, 0.0f, 0, 0, "vlmr4.exe",
     {0xAB, 0xAA, 0xAA, 0x3F}, {0xAB, 0xAA, 0xAA, 0x3F}, {false, false, false, false}},
    {"widescreen_negative_zero_counts_as_zero", 1, 0, 0, 0, -0.0f, 0, 0, "vlmr4.exe",
     {0xAB, 0xAA, 0xAA, 0x3F}, {0xAB, 0xAA, 0xAA, 0x3F}, {false, false, false, false}},
    {"widescreen_nan_passes_the_guard", 1, 0, 0, 0, FloatFromBits(0x7FC00000), 0, 0, "vlmr4.exe",
     {0xAB, 0xAA, 0xAA, 0x3F}, {0x00, 0x00, 0xC0, 0x7F}, {true, false, false, false}},

    {"camera_every_hit_including_nonzero_high_bytes", 0, 1, 0, 0, 0, 2048, 0, "vlmr4.exe",
     {0xC7, 0x05, 1, 2, 3, 4, 0x00, 0x06, 0x00, 0x00,  //
      0xC7, 0x05, 5, 6, 7, 8, 0x00, 0x06, 0x01, 0x00,  //
      0x90, 0xC7, 0x05, 9, 9, 9, 9, 0x00, 0x06},
     {0xC7, 0x05, 1, 2, 3, 4, 0x00, 0x08, 0x00, 0x00,  //
      0xC7, 0x05, 5, 6, 7, 8, 0x00, 0x08, 0x01, 0x00,  //
      0x90, 0xC7, 0x05, 9, 9, 9, 9, 0x00, 0x08},
     {false, true, false, false}},
    {"camera_minus_one_writes_ffff", 0, 1, 0, 0, 0, -1, 0, "vlmr4.exe",
     {0xC7, 0x05, 1, 2, 3, 4, 0x00, 0x06, 0x00, 0x00}, {0xC7, 0x05, 1, 2, 3, 4, 0xFF, 0xFF, 0x00, 0x00},
     {false, true, false, false}},
    {"camera_1536_writes_itself_and_counts", 0, 1, 0, 0, 0, 1536, 0, "vlmr4.exe",
     {0xC7, 0x05, 1, 2, 3, 4, 0x00, 0x06}, {0xC7, 0x05, 1, 2, 3, 4, 0x00, 0x06}, {false, true, false, false}},
    {"camera_low_bytes_differ_is_no_hit", 0, 1, 0, 0, 0, 2048, 0, "vlmr4.exe",
     {0xC7, 0x05, 1, 2, 3, 4, 0x01, 0x06}, {0xC7, 0x05, 1, 2, 3, 4, 0x01, 0x06}, {false, false, false, false}},
    {"camera_toggle_off_does_not_scan", 0, 0, 0, 0, 0, 2048, 0, "vlmr4.exe",
     {0xC7, 0x05, 1, 2, 3, 4, 0x00, 0x06}, {0xC7, 0x05, 1, 2, 3, 4, 0x00, 0x06}, {false, false, false, false}},
    {"camera_written_bytes_make_the_next_hit", 0, 1, 0, 0, 0, 0x05C7, 0, "vlmr4.exe",
     // 0x05C7 is written as C7 05, which starts a new store at offset 6.
     {0xC7, 0x05, 0x11, 0x22, 0x33, 0x44, 0x00, 0x06, 0x55, 0x66, 0x77, 0x88, 0x00, 0x06},
     {0xC7, 0x05, 0x11, 0x22, 0x33, 0x44, 0xC7, 0x05, 0x55, 0x66, 0x77, 0x88, 0xC7, 0x05},
     {false, true, false, false}},

    {"fov_1920_every_hit_keeps_offsets_4_and_5", 0, 0, 1, 0, 0, 0, 1920, "vlmr4.exe",
     {0xA1, 1, 2, 3, 0x00, 0x99, 0x90, 0xA1, 4, 5, 6, 0x07, 0x99},
     {0xB8, 0xA0, 0x05, 0x00, 0x00, 0x99, 0x90, 0xB8, 0xA0, 0x05, 0x00, 0x07, 0x99}, {false, false, true, false}},
    {"fov_1280", 0, 0, 1, 0, 0, 0, 1280, "vlmr4.exe",
     {0xA1, 1, 2, 3, 0x00, 0x99}, {0xB8, 0xC0, 0x03, 0x00, 0x00, 0x99}, {false, false, true, false}},
    {"fov_1366_truncates", 0, 0, 1, 0, 0, 0, 1366, "vlmr4.exe",
     {0xA1, 1, 2, 3, 0x00, 0x99}, {0xB8, 0x00, 0x04, 0x00, 0x00, 0x99}, {false, false, true, false}},
    {"fov_width_1_gives_zero", 0, 0, 1, 0, 0, 0, 1, "vlmr4.exe",
     {0xA1, 1, 2, 3, 0x00, 0x99}, {0xB8, 0x00, 0x00, 0x00, 0x00, 0x99}, {false, false, true, false}},
    {"fov_negative_width", 0, 0, 1, 0, 0, 0, -1280, "vlmr4.exe",
     {0xA1, 1, 2, 3, 0x00, 0x99}, {0xB8, 0x40, 0xFC, 0xFF, 0x00, 0x99}, {false, false, true, false}},
    {"fov_written_bytes_make_the_next_hit", 0, 0, 1, 0, 0, 0, 1922,  "vlmr4.exe",
     // n = 1441 = 0x5A1: the written A1 at offset 1 starts a new hit ending at offset 6.
     {0xA1, 0x11, 0x22, 0x33, 0x44, 0x99, 0x99}, {0xB8, 0xB8, 0xA1, 0x05, 0x00, 0x99, 0x99},
     {false, false, true, false}},
    {"fov_zero_width_does_not_run", 0, 0, 1, 0, 0, 0, 0, "vlmr4.exe",
     {0xA1, 1, 2, 3, 0x00, 0x99}, {0xA1, 1, 2, 3, 0x00, 0x99}, {false, false, false, false}},

    {"fps_first_of_two_hits_only", 0, 0, 0, 1, 0, 0, 0, "Vlmr2.exe",
     {0x8B, 0xF8, 0x83, 0xFF, 0x02, 0x8B, 0xF8, 0x83, 0xFF, 0x02},
     {0x8B, 0xF8, 0x83, 0xFF, 0x00, 0x8B, 0xF8, 0x83, 0xFF, 0x02}, {false, false, false, true}},
    {"fps_allowed_for_vm3plus", 0, 0, 0, 1, 0, 0, 0, "vm3plus.exe",
     {0x8B, 0xF8, 0x83, 0xFF, 0x02}, {0x8B, 0xF8, 0x83, 0xFF, 0x00}, {false, false, false, true}},
    {"fps_never_for_vlmr4", 0, 0, 0, 1, 0, 0, 0, "vlmr4.exe",
     {0x8B, 0xF8, 0x83, 0xFF, 0x02}, {0x8B, 0xF8, 0x83, 0xFF, 0x02}, {false, false, false, false}},
    {"fps_never_for_pcvlmr5", 0, 0, 0, 1, 0, 0, 0, "PCVlmr5.exe",
     {0x8B, 0xF8, 0x83, 0xFF, 0x02}, {0x8B, 0xF8, 0x83, 0xFF, 0x02}, {false, false, false, false}},
    {"fps_game_two_in_any_case", 0, 0, 0, 1, 0, 0, 0, "VLMR2.EXE",
     {0x8B, 0xF8, 0x83, 0xFF, 0x02}, {0x8B, 0xF8, 0x83, 0xFF, 0x00}, {false, false, false, true}},
    {"fps_toggle_off", 0, 0, 0, 0, 0, 0, 0, "Vlmr2.exe",
     {0x8B, 0xF8, 0x83, 0xFF, 0x02}, {0x8B, 0xF8, 0x83, 0xFF, 0x02}, {false, false, false, false}},

    {"widescreen_write_alone", 1, 0, 1, 0, FloatFromBits(0x3FE38EA1), 0, 0, "vlmr4.exe",
     {0xAB, 0xAA, 0xAA, 0x3F, 0x00, 0x99}, {0xA1, 0x8E, 0xE3, 0x3F, 0x00, 0x99}, {true, false, false, false}},
    {"all_four_rules_in_one_image", 1, 1, 1, 1, SIXTEEN_NINTHS, 2048, 1920, "vlmr3.exe",
     {0xAB, 0xAA, 0xAA, 0x3F, 0xC7, 0x05, 1, 2, 3, 4, 0x00, 0x06, 0x00, 0x00,
      0xA1, 1, 2, 3, 0x00, 0x99, 0x8B, 0xF8, 0x83, 0xFF, 0x02},
     {0x39, 0x8E, 0xE3, 0x3F, 0xC7, 0x05, 1, 2, 3, 4, 0x00, 0x08, 0x00, 0x00,
      0xB8, 0xA0, 0x05, 0x00, 0x00, 0x99, 0x8B, 0xF8, 0x83, 0xFF, 0x00},
     {true, true, true, true}},
    {"all_toggles_off_changes_nothing", 0, 0, 0, 0, SIXTEEN_NINTHS, 2048, 1920, "Vlmr2.exe",
     {0xAB, 0xAA, 0xAA, 0x3F, 0xC7, 0x05, 1, 2, 3, 4, 0x00, 0x06, 0xA1, 1, 2, 3, 0x00, 0x99, 0x8B, 0xF8, 0x83,
      0xFF, 0x02},
     {0xAB, 0xAA, 0xAA, 0x3F, 0xC7, 0x05, 1, 2, 3, 4, 0x00, 0x06, 0xA1, 1, 2, 3, 0x00, 0x99, 0x8B, 0xF8, 0x83,
      0xFF, 0x02},
     {false, false, false, false}},
    {"empty_image", 1, 1, 1, 1, SIXTEEN_NINTHS, 2048, 1920, "Vlmr2.exe", {}, {}, {false, false, false, false}},
};

// The widescreen rule's write turns the 4:3 constant into mov eax, [address]; cdq, which the
// FOV rule, running after it over the same image, must find and rewrite.
TEST(PatchRules, LaterRulesSeeEarlierWrites) {
    ToggleScope toggles(true, false, true, false);
    Bytes image = {0xAB, 0xAA, 0xAA, 0x3F, 0x00, 0x99};
    PatchJob job = MakeJob(FloatFromBits(0x3FE38EA1), 0, 1920);
    bool applied[RULE_COUNT] = {};
    job.candidate = CandidateIndexOf("vlmr3.exe");
    ApplyPatchRules(image.data(), static_cast<uint32_t>(image.size()), &job, applied);
    EXPECT_EQ(image, (Bytes{0xB8, 0xA0, 0x05, 0x00, 0x00, 0x99}));
    EXPECT_TRUE(applied[RULE_WIDESCREEN]);
    EXPECT_TRUE(applied[RULE_FOV]);
}

class RuleTable : public ::testing::TestWithParam<std::tuple<RuleCase, ScanKind>> {};

TEST_P(RuleTable, WritesExactBytesAndSuccessTexts) {
    const RuleCase& c = std::get<0>(GetParam());
    const ScanKind kind = std::get<1>(GetParam());
    ToggleScope toggles(c.widescreen, c.camera, c.fov, c.fps);
    PatchJob job = MakeJob(c.aspect, c.cameraDistance, c.fovWidth);
    std::strcpy(job.target_name, c.target);
    job.candidate = CandidateIndexOf(c.target);
    Bytes image = c.before;
    bool applied[RULE_COUNT] = {};

    ApplyPatchRules(image.data(), static_cast<uint32_t>(image.size()), &job, applied, kind);

    EXPECT_EQ(image, c.after);
    const char* const successTexts[RULE_COUNT] = {"Widescreen correction OK", "Camera dist correction OK",
                                                  "FOV correction OK", "60 FPS Unlock OK"};
    for (int rule = 0; rule < RULE_COUNT; ++rule) {
        EXPECT_EQ(applied[rule], c.applied[rule]) << "rule " << rule;
        EXPECT_STREQ(job.status[rule], c.applied[rule] ? successTexts[rule] : "") << "rule " << rule;
    }
}

INSTANTIATE_TEST_SUITE_P(Cases, RuleTable,
                         ::testing::Combine(::testing::ValuesIn(RULE_CASES),
                                            ::testing::Values(SCAN_FAST, SCAN_LITERAL)),
                         [](const ::testing::TestParamInfo<RuleTable::ParamType>& info) {
                             return std::string(std::get<0>(info.param).name) +
                                    (std::get<1>(info.param) == SCAN_FAST ? "_fast" : "_literal");
                         });

TEST(FovConstant, WorkedExamples) {
    const struct {
        int32_t width;
        int32_t constant;
    } cases[] = {{1920, 1440}, {1280, 960}, {1366, 1024}, {1, 0}, {-1280, -960}, {16777215, 12582911}};
    for (const auto& c : cases) EXPECT_EQ(FovConstant(c.width), c.constant) << c.width;
}

// The single-precision quotient, truncated, is three quarters of the width rounded down for
// every width the window accepts. An x87 build that kept the quotient in extended
// precision, or a division in double, breaks this for some widths.
TEST(FovConstant, IsThreeQuartersRoundedDownForEveryAcceptedWidth) {
    int32_t firstWrong = 0;
    for (int32_t width = 1; width <= 16777215; ++width) {
        if (FovConstant(width) != static_cast<int32_t>(3LL * width / 4)) {
            firstWrong = width;
            break;
        }
    }
    EXPECT_EQ(firstWrong, 0);
}

// The 60 FPS rule asks the candidate, which is the game's whatever the case of its name.
TEST(FpsTargets, GamesTwoAndThreeInAnyCase) {
    const struct {
        const char* name;
        bool allowed;
    } cases[] = {{"Vlmr2.exe", true}, {"v2plus.exe", true}, {"vlmr3.exe", true}, {"vm3plus.exe", true},
                 {"vlmr4.exe", false}, {"PCVlmr5.exe", false}, {"VLMR2.EXE", true}, {"VLMR3.EXE", true},
                 {"PCVLMR5.EXE", false}, {"Vlmr2.exe ", false}, {"", false}};
    for (const auto& c : cases) EXPECT_EQ(RuleMayRunOn(RULE_FPS, CandidateIndexOf(c.name)), c.allowed) << c.name;
    for (int rule = 0; rule < RULE_COUNT; ++rule) {
        if (rule == RULE_FPS) continue;
        for (int candidate = 0; candidate < TARGET_CANDIDATE_COUNT; ++candidate) {
            EXPECT_TRUE(RuleMayRunOn(static_cast<PatchRule>(rule), candidate)) << rule << " " << candidate;
        }
    }
}

// What the console patcher lists: why a rule wrote nothing, or each hit with its bytes
// before and after its write.
TEST(RuleReports, ReasonsForEveryGuard) {
    // Holds every pattern once.
    const Bytes image = {0xAB, 0xAA, 0xAA, 0x3F, 0xC7, 0x05, 1, 2, 3, 4, 0x00, 0x06,
                         0xA1, 1, 2, 3, 0x00, 0x99, 0x8B, 0xF8, 0x83, 0xFF, 0x02};
    const struct {
        const char* name;
        bool widescreen, camera, fov, fps;
        struct {
            float aspect;
            int16_t camera;
            int32_t fov;
        } values;
        const char* target;
        Bytes image;
        RuleReason reasons[RULE_COUNT];
    } cases[] = {
        {"all off", 0, 0, 0, 0, {SIXTEEN_NINTHS, 2048, 1920}, "vlmr3.exe", image,
         {RULE_SWITCHED_OFF, RULE_SWITCHED_OFF, RULE_SWITCHED_OFF, RULE_SWITCHED_OFF}},
        {"no values", 1, 1, 1, 1, {0.0f, 0, 0}, "vlmr3.exe", image,
         {RULE_NO_VALUE, RULE_NO_VALUE, RULE_NO_VALUE, RULE_USED}},
        {"game five", 1, 1, 1, 1, {SIXTEEN_NINTHS, 2048, 1920}, "PCVlmr5.exe", image,
         {RULE_USED, RULE_USED, RULE_USED, RULE_NOT_FOR_THIS_GAME}},
        {"game five, 60 FPS off", 0, 0, 0, 0, {SIXTEEN_NINTHS, 2048, 1920}, "PCVlmr5.exe", image,
         {RULE_SWITCHED_OFF, RULE_SWITCHED_OFF, RULE_SWITCHED_OFF, RULE_SWITCHED_OFF}},
        {"no patterns", 1, 1, 1, 1, {SIXTEEN_NINTHS, 2048, 1920}, "vlmr3.exe", Bytes(40, 0x90),
         {RULE_PATTERN_NOT_FOUND, RULE_PATTERN_NOT_FOUND, RULE_PATTERN_NOT_FOUND, RULE_PATTERN_NOT_FOUND}},
    };
    for (const auto& c : cases) {
        for (ScanKind kind : {SCAN_FAST, SCAN_LITERAL}) {
            ToggleScope toggles(c.widescreen, c.camera, c.fov, c.fps);
            Bytes bytes = c.image;
            PatchJob job = MakeJob(c.values.aspect, c.values.camera, c.values.fov);
            std::strcpy(job.target_name, c.target);
            job.candidate = CandidateIndexOf(c.target);
            bool applied[RULE_COUNT] = {};
            RuleReport reports[RULE_COUNT];
            ApplyPatchRules(bytes.data(), static_cast<uint32_t>(bytes.size()), &job, applied, kind, reports);
            for (int rule = 0; rule < RULE_COUNT; ++rule) {
                EXPECT_EQ(reports[rule].reason, c.reasons[rule]) << c.name << " rule " << rule;
                EXPECT_EQ(reports[rule].hits.empty(), c.reasons[rule] != RULE_USED) << c.name << " rule " << rule;
                EXPECT_EQ(applied[rule], c.reasons[rule] == RULE_USED) << c.name << " rule " << rule;
            }
        }
    }
    EXPECT_STREQ(RuleReasonText(RULE_SWITCHED_OFF), "switched off");
    EXPECT_STREQ(RuleReasonText(RULE_NO_VALUE), "no value");
    EXPECT_STREQ(RuleReasonText(RULE_PATTERN_NOT_FOUND), "pattern not found");
    EXPECT_STREQ(RuleReasonText(RULE_NOT_FOR_THIS_GAME), "not for this game");
}

TEST(RuleReports, EveryHitWithItsBytesBeforeAndAfter) {
    ToggleScope toggles(true, true, true, false);
    // Two camera stores, then a FOV load whose address byte is kept.
    Bytes bytes = {0x00, 0xAB, 0xAA, 0xAA, 0x3F, 0xC7, 0x05, 9, 9, 9, 9, 0x00, 0x06, 0x01, 0x00,
                   0xC7, 0x05, 8, 8, 8, 8, 0x00, 0x06, 0xA1, 1, 2, 3, 0x07, 0x99};
    PatchJob job = MakeJob(SIXTEEN_NINTHS, 2048, 1920);
    bool applied[RULE_COUNT] = {};
    RuleReport reports[RULE_COUNT];
    ApplyPatchRules(bytes.data(), static_cast<uint32_t>(bytes.size()), &job, applied, SCAN_FAST, reports);
    struct Hit {
        uint32_t offset;
        Bytes before, after;
    };
    auto hitsOf = [&](PatchRule rule) {
        std::vector<Hit> hits;
        for (const RuleHit& h : reports[rule].hits) {
            hits.push_back({h.offset, Bytes(h.before, h.before + h.length), Bytes(h.after, h.after + h.length)});
        }
        return hits;
    };
    const std::vector<Hit> wide = hitsOf(RULE_WIDESCREEN), camera = hitsOf(RULE_CAMERA), fov = hitsOf(RULE_FOV);
    ASSERT_EQ(wide.size(), 1u);
    EXPECT_EQ(wide[0].offset, 1u);
    EXPECT_EQ(wide[0].before, (Bytes{0xAB, 0xAA, 0xAA, 0x3F}));
    EXPECT_EQ(wide[0].after, (Bytes{0x39, 0x8E, 0xE3, 0x3F}));
    ASSERT_EQ(camera.size(), 2u);
    EXPECT_EQ(camera[0].offset, 5u);
    EXPECT_EQ(camera[0].before, (Bytes{0xC7, 0x05, 9, 9, 9, 9, 0x00, 0x06}));
    EXPECT_EQ(camera[0].after, (Bytes{0xC7, 0x05, 9, 9, 9, 9, 0x00, 0x08}));
    EXPECT_EQ(camera[1].offset, 15u);
    EXPECT_EQ(camera[1].after, (Bytes{0xC7, 0x05, 8, 8, 8, 8, 0x00, 0x08}));
    ASSERT_EQ(fov.size(), 1u);
    EXPECT_EQ(fov[0].offset, 23u);
    EXPECT_EQ(fov[0].before, (Bytes{0xA1, 1, 2, 3, 0x07, 0x99}));
    EXPECT_EQ(fov[0].after, (Bytes{0xB8, 0xA0, 0x05, 0x00, 0x07, 0x99}));
    EXPECT_EQ(reports[RULE_FPS].reason, RULE_SWITCHED_OFF);
}

}  // namespace
