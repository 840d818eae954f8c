// The exact patched-form check: which targets are a patched form of a copy, byte by byte
// at the edges of what each rule writes, and the values it reads back.

#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "candidate_names.h"
#include "patch_rules.h"
#include "candidate_names.h"
#include "game_model.h"
#include "patch_state.h"
#include "test_folder.h"

namespace {

// A small image with each rule's pattern once, apart from each other:
//   widescreen at 8 (writes 8..11), camera at 16 (writes 22..23),
//   FOV at 32 (writes 32..35), 60 FPS at 48 (writes 52).
enum { WS_AT = 8, CAMERA_AT = 16, FOV_AT = 32, FPS_AT = 48, IMAGE_SIZE = 64 };

Bytes FourRuleImage() {
    Bytes image(IMAGE_SIZE, 0x90);
    const Bytes ws = {0xAB, 0xAA, 0xAA, 0x3F};
    const Bytes camera = {0xC7, 0x05, 0x11, 0x22, 0x33, 0x44, 0x00, 0x06};
    const Bytes fov = {0xA1, 0x55, 0x66, 0x77, 0x88, 0x99};
    const Bytes fps = {0x8B, 0xF8, 0x83, 0xFF, 0x02};
    std::copy(ws.begin(), ws.end(), image.begin() + WS_AT);
    std::copy(camera.begin(), camera.end(), image.begin() + CAMERA_AT);
    std::copy(fov.begin(), fov.end(), image.begin() + FOV_AT);
    std::copy(fps.begin(), fps.end(), image.begin() + FPS_AT);
    return image;
}

using Edits = std::vector<std::pair<int, uint8_t>>;

struct FormCase {
    const char* name;
    Edits edits;  // bytes of the copy changed to make the target
    const char* targetName;
    bool fits;
    uint32_t firstDifference;  // when not fits
    bool on[RULE_COUNT];
};

const uint32_t NONE = 0;

// 16:9 is 3FE38E39; the FOV constant 1440 (width 1920) is 0x0005A0.
const FormCase FORM_CASES[] = {
    {"identical", {}, "vlmr3.exe", true, NONE, {0, 0, 0, 0}},

    // Widescreen: bytes 8..11 are the rule's, 7 and 12 are not.
    {"widescreen_whole_value", {{8, 0x39}, {9, 0x8E}, {10, 0xE3}, {11, 0x3F}}, "vlmr3.exe", true, NONE, {1, 0, 0, 0}},
    {"widescreen_first_byte_of_span", {{8, 0x00}}, "vlmr3.exe", true, NONE, {1, 0, 0, 0}},
    {"widescreen_last_byte_of_span", {{11, 0x40}}, "vlmr3.exe", true, NONE, {1, 0, 0, 0}},
    {"widescreen_byte_before_span", {{7, 0x00}}, "vlmr3.exe", false, 7, {0, 0, 0, 0}},
    {"widescreen_byte_after_span", {{8, 0x39}, {12, 0x00}}, "vlmr3.exe", false, 12, {1, 0, 0, 0}},
    {"widescreen_only_the_byte_after_span", {{12, 0x00}}, "vlmr3.exe", false, 12, {0, 0, 0, 0}},
    {"widescreen_zero_is_no_value", {{8, 0}, {9, 0}, {10, 0}, {11, 0}}, "vlmr3.exe", false, 8, {0, 0, 0, 0}},

    // Camera: bytes 22..23 are the rule's; the address (18..21) and byte 24 are not.
    {"camera_both_bytes", {{22, 0xD0}, {23, 0x07}}, "vlmr3.exe", true, NONE, {0, 1, 0, 0}},
    {"camera_low_byte", {{22, 0x01}}, "vlmr3.exe", true, NONE, {0, 1, 0, 0}},
    {"camera_high_byte", {{23, 0x08}}, "vlmr3.exe", true, NONE, {0, 1, 0, 0}},
    {"camera_address_byte_before_span", {{21, 0x45}}, "vlmr3.exe", false, 21, {0, 0, 0, 0}},
    {"camera_byte_after_span", {{23, 0x08}, {24, 0x00}}, "vlmr3.exe", false, 24, {0, 1, 0, 0}},
    {"camera_only_the_byte_after_span", {{24, 0x01}}, "vlmr3.exe", false, 24, {0, 0, 0, 0}},
    {"camera_zero_is_no_value", {{23, 0}}, "vlmr3.exe", false, 23, {0, 0, 0, 0}},

    // FOV: mov eax, imm32 over bytes 32..35; byte 36 (kept top byte) and 37 (cdq) are not the rule's.
    {"fov_constant_1440", {{32, 0xB8}, {33, 0xA0}, {34, 0x05}, {35, 0x00}}, "vlmr3.exe", true, NONE, {0, 0, 1, 0}},
    {"fov_constant_without_the_opcode", {{33, 0xA0}, {34, 0x05}, {35, 0x00}}, "vlmr3.exe", false, 33, {0, 0, 0, 0}},
    {"fov_another_opcode", {{32, 0xB9}, {33, 0xA0}}, "vlmr3.exe", false, 32, {0, 0, 0, 0}},
    {"fov_byte_before_span", {{31, 0x00}}, "vlmr3.exe", false, 31, {0, 0, 0, 0}},
    {"fov_byte_after_span", {{32, 0xB8}, {33, 0xA0}, {34, 0x05}, {35, 0x00}, {36, 0x00}}, "vlmr3.exe", false, 36,
     {0, 0, 1, 0}},
    // Alone, a byte next to the span does not make the rule count as run.
    {"fov_only_the_byte_after_span", {{36, 0x00}}, "vlmr3.exe", false, 36, {0, 0, 0, 0}},
    {"fov_cdq_changed", {{37, 0x90}}, "vlmr3.exe", false, 37, {0, 0, 0, 0}},

    // 60 FPS: only byte 52, and only to 0, and only on games 2 and 3.
    {"fps_compare_zero", {{52, 0x00}}, "vlmr3.exe", true, NONE, {0, 0, 0, 1}},
    {"fps_compare_one", {{52, 0x01}}, "vlmr3.exe", false, 52, {0, 0, 0, 0}},
    {"fps_byte_before_span", {{51, 0xFE}}, "vlmr3.exe", false, 51, {0, 0, 0, 0}},
    {"fps_byte_after_span", {{52, 0x00}, {53, 0x00}}, "vlmr3.exe", false, 53, {0, 0, 0, 1}},
    {"fps_only_the_byte_after_span", {{53, 0x00}}, "vlmr3.exe", false, 53, {0, 0, 0, 0}},
    {"fps_not_for_game_four", {{52, 0x00}}, "vlmr4.exe", false, 52, {0, 0, 0, 0}},

    {"all_four_rules",
     {{8, 0x39}, {9, 0x8E}, {10, 0xE3}, {22, 0xD0}, {23, 0x07}, {32, 0xB8}, {33, 0xA0}, {34, 0x05}, {35, 0x00},
      {52, 0x00}},
     "v2plus.exe", true, NONE, {1, 1, 1, 1}},
    {"outside_every_pattern", {{0, 0x00}}, "vlmr3.exe", false, 0, {0, 0, 0, 0}},
    {"last_byte", {{IMAGE_SIZE - 1, 0x00}}, "vlmr3.exe", false, IMAGE_SIZE - 1, {0, 0, 0, 0}},
};

class FormTable : public testing::TestWithParam<FormCase> {};

TEST_P(FormTable, FitsExactlyWhereTheRulesWrite) {
    const FormCase& c = GetParam();
    const Bytes copy = FourRuleImage();
    Bytes target = copy;
    for (const auto& edit : c.edits) target[edit.first] = edit.second;
    GameModel form;
    const bool fits = ExplainGame(target.data(), static_cast<uint32_t>(target.size()), copy.data(),
                                  static_cast<uint32_t>(copy.size()), CandidateIndexOf(c.targetName), &form);
    EXPECT_EQ(fits, c.fits);
    EXPECT_EQ(form.fits, c.fits);
    EXPECT_EQ(form.identical, c.edits.empty());
    if (!c.fits) {
        EXPECT_EQ(form.firstUnexplained, c.firstDifference);
    }
    for (int rule = 0; rule < RULE_COUNT; ++rule) {
        EXPECT_EQ(form.Patched(static_cast<PatchRule>(rule)), c.on[rule]) << rule;
    }
}

INSTANTIATE_TEST_SUITE_P(Spans, FormTable, testing::ValuesIn(FORM_CASES),
                         [](const testing::TestParamInfo<FormCase>& info) { return std::string(info.param.name); });

GameModel Check(const Bytes& target, const Bytes& copy, const char* name = "vlmr3.exe") {
    GameModel form;
    ExplainGame(target.data(), static_cast<uint32_t>(target.size()), copy.data(), static_cast<uint32_t>(copy.size()),
                CandidateIndexOf(name), &form);
    return form;
}

// The model's first write of `rule`; a write that is not there fails the test.
RuleWrite WriteOf(const GameModel& model, PatchRule rule) {
    for (const RuleWrite& write : model.writes) {
        if (write.rule == rule) return write;
    }
    ADD_FAILURE() << "no write of rule " << rule;
    return RuleWrite{rule, 0, 0, 0};
}

TEST(PatchedForm, ReadsBackTheValuesTheRulesWrote) {
    const Bytes copy = FourRuleImage();
    Bytes target = copy;
    ToggleScope toggles(true, true, true, true);
    PatchJob job = MakeJob(16.0f / 9.0f, 2000, 1920);
    std::strcpy(job.target_name, "vlmr3.exe");
    job.candidate = CandidateIndexOf(job.target_name);
    bool applied[RULE_COUNT] = {};
    ApplyPatchRules(target.data(), static_cast<uint32_t>(target.size()), &job, applied);
    const GameModel form = Check(target, copy);
    ASSERT_TRUE(form.fits);
    EXPECT_FLOAT_EQ(AspectOfBits(WriteOf(form, RULE_WIDESCREEN).bits), 16.0f / 9.0f);
    EXPECT_EQ(WriteOf(form, RULE_CAMERA).bits, 2000u);
    EXPECT_EQ(static_cast<int32_t>(WriteOf(form, RULE_FOV).bits >> 8), FovConstant(1920));
    EXPECT_TRUE(form.Patched(RULE_FPS));
    EXPECT_EQ(WriteOf(form, RULE_WIDESCREEN).offset, static_cast<uint32_t>(WS_AT));
}

// What a patch run writes, run over several copies and values, must always fit; the check
// and the rules are one.
TEST(PatchedForm, EveryPatchRunFitsItsCopy) {
    Bytes twoOfEach = FourRuleImage();
    const Bytes again = FourRuleImage();
    twoOfEach.insert(twoOfEach.end(), again.begin(), again.end());
    // The widescreen rule's bytes (00 00 C7 05) make a camera store at 10 that is not in the
    // copy; the camera rule, running after it, rewrites that store's distance (16..17).
    Bytes madeByAnEarlierRule(IMAGE_SIZE, 0x90);
    const Bytes ws = {0xAB, 0xAA, 0xAA, 0x3F};
    std::copy(ws.begin(), ws.end(), madeByAnEarlierRule.begin() + WS_AT);
    madeByAnEarlierRule[16] = 0x00;
    madeByAnEarlierRule[17] = 0x06;
    const float madeAspect = AspectOfBits(0x05C70000);
    const struct {
        const char* name;
        Bytes copy;
        float aspect;
        int16_t camera;
        int32_t fov;
        bool toggles[RULE_COUNT];
    } cases[] = {
        {"two_of_each_all_rules", twoOfEach, 1.6f, 3000, 2560, {1, 1, 1, 1}},
        {"two_of_each_camera_and_fov", twoOfEach, 1.6f, -1, 640, {0, 1, 1, 0}},
        {"written_bytes_make_a_later_hit", madeByAnEarlierRule, madeAspect, 2000, 0, {1, 1, 0, 0}},
        {"camera_1536_changes_nothing", FourRuleImage(), 1.0f, 1536, 0, {0, 1, 0, 0}},
    };
    for (const auto& c : cases) {
        ToggleScope toggles(c.toggles[0], c.toggles[1], c.toggles[2], c.toggles[3]);
        PatchJob job = MakeJob(c.aspect, c.camera, c.fov);
        std::strcpy(job.target_name, "vlmr3.exe");
        job.candidate = CandidateIndexOf(job.target_name);
        Bytes target = c.copy;
        bool applied[RULE_COUNT] = {};
        ApplyPatchRules(target.data(), static_cast<uint32_t>(target.size()), &job, applied);
        const GameModel form = Check(target, c.copy);
        EXPECT_TRUE(form.fits) << c.name << " first difference " << form.firstUnexplained;
    }
    // That store is the camera rule's only hit, and the check finds it as the rules do.
    {
        ToggleScope toggles(true, true, false, false);
        PatchJob job = MakeJob(madeAspect, 2000, 0);
        Bytes target = madeByAnEarlierRule;
        bool applied[RULE_COUNT] = {};
        ApplyPatchRules(target.data(), static_cast<uint32_t>(target.size()), &job, applied);
        ASSERT_EQ(target[16], 0xD0);
        const GameModel form = Check(target, madeByAnEarlierRule);
        EXPECT_TRUE(form.Patched(RULE_CAMERA));
        EXPECT_EQ(WriteOf(form, RULE_CAMERA).offset, 10u);
        EXPECT_EQ(WriteOf(form, RULE_CAMERA).bits, 2000u);
    }
}

TEST(PatchedForm, EveryHitOfTheRulesThatRewriteEveryHit) {
    Bytes copy = FourRuleImage();
    const Bytes again = FourRuleImage();
    copy.insert(copy.end(), again.begin(), again.end());
    Bytes target = copy;
    // The camera rule rewrites every store; only the first one changed is no run of it.
    target[22] = 0xD0;
    target[23] = 0x07;
    GameModel form = Check(target, copy);
    EXPECT_FALSE(form.fits);
    EXPECT_EQ(form.firstUnexplained, 22u);
    target[IMAGE_SIZE + 22] = 0xD0;
    target[IMAGE_SIZE + 23] = 0x07;
    EXPECT_TRUE(Check(target, copy).fits);
    EXPECT_EQ(Check(target, copy).occurrences[RULE_CAMERA], 0u);

    // The widescreen rule rewrites the first hit only: the second alone is no run of it.
    Bytes second = copy;
    second[IMAGE_SIZE + WS_AT] = 0x00;
    form = Check(second, copy);
    EXPECT_FALSE(form.fits);
    EXPECT_EQ(form.firstUnexplained, static_cast<uint32_t>(IMAGE_SIZE + WS_AT));
}

TEST(PatchedForm, TargetHoldingAPatternTheCopyLacks) {
    Bytes copy = FourRuleImage();
    for (int i = 0; i < 4; ++i) copy[WS_AT + i] = 0x90;
    for (int i = 0; i < 5; ++i) copy[FPS_AT + i] = 0x90;
    // The target holds the 4:3 constant and the frame-rate cap where the copy has neither:
    // no rule writes them, so nothing explains those bytes.
    Bytes target = FourRuleImage();
    GameModel form = Check(target, copy);
    EXPECT_FALSE(form.fits);
    EXPECT_EQ(form.firstUnexplained, static_cast<uint32_t>(WS_AT));

    // Nor the written form of the 60 FPS rule without its pattern in the copy.
    target = copy;
    const Bytes written = {0x8B, 0xF8, 0x83, 0xFF, 0x00};
    std::copy(written.begin(), written.end(), target.begin() + FPS_AT);
    form = Check(target, copy);
    EXPECT_FALSE(form.fits);
    EXPECT_EQ(form.firstUnexplained, static_cast<uint32_t>(FPS_AT));
}

TEST(PatchedForm, SizesMustBeEqual) {
    const Bytes copy = FourRuleImage();
    Bytes longer = copy;
    longer.push_back(0);
    GameModel form = Check(longer, copy);
    EXPECT_FALSE(form.fits);
    EXPECT_TRUE(form.sizesDiffer);
    EXPECT_EQ(form.firstUnexplained, static_cast<uint32_t>(IMAGE_SIZE));
    form = Check(copy, longer);
    EXPECT_FALSE(form.fits);
    EXPECT_EQ(form.firstUnexplained, static_cast<uint32_t>(IMAGE_SIZE));
    const Bytes empty;
    form = Check(empty, empty);
    EXPECT_TRUE(form.fits);
    EXPECT_TRUE(form.identical);
}

// An update of the game that changes two address bytes of the FOV load: the kept copy of
// the old version must not fit the new one, patched or not.
TEST(PatchedForm, SameSizeUpdateOfAnAddressDoesNotFit) {
    const Bytes v1 = FourRuleImage();
    Bytes v2 = v1;
    v2[FOV_AT + 1] = 0x57;
    v2[FOV_AT + 2] = 0x68;
    EXPECT_FALSE(Check(v2, v1).fits);
    ToggleScope toggles(true, false, false, false);
    PatchJob job = MakeJob(16.0f / 9.0f, 0, 0);
    bool applied[RULE_COUNT] = {};
    ApplyPatchRules(v2.data(), static_cast<uint32_t>(v2.size()), &job, applied);
    const GameModel form = Check(v2, v1);
    EXPECT_FALSE(form.fits);
    // Bytes 33..34 are no FOV constant: the rule would have written B8 before them.
    EXPECT_EQ(form.firstUnexplained, static_cast<uint32_t>(FOV_AT + 1));
}

}  // namespace

namespace {

// The state a folder's game is in, as a search over many folders asks it.
TEST(StateOfGame, FromTheGameAndItsCopies) {
    const Bytes original = FourRuleImage();
    Bytes patched = original;
    patched[WS_AT] = 0x39;
    patched[FPS_AT + 4] = 0x00;
    Bytes fpsWritten = original;  // only the 60 FPS rule's written form tells, without a copy
    fpsWritten[FPS_AT + 4] = 0x00;
    Bytes otherVersion = original;
    otherVersion[0] = 0xCC;
    const struct {
        const char* label;
        Bytes game;
        Bytes orig, bak;  // empty: none
        bool origIsFolder;
        GameState state;
    } cases[] = {
        {"no copy, every pattern there", original, {}, {}, false, GAME_ORIGINAL},
        {"no copy, 60 FPS written", fpsWritten, {}, {}, false, GAME_UNKNOWN},
        {"no copy, a pattern missing", patched, {}, {}, false, GAME_UNKNOWN},
        {"the original's bytes", original, original, original, false, GAME_ORIGINAL},
        {"a patched form of the original", patched, original, original, false, GAME_PATCHED},
        {"a patched form of the backup only", patched, otherVersion, original, false, GAME_PATCHED},
        {"the backup's bytes, no original", original, {}, original, false, GAME_ORIGINAL},
        {"copies of another version", patched, otherVersion, otherVersion, false, GAME_UNKNOWN},
        {"a folder named as the original is no copy", original, {}, {}, true, GAME_ORIGINAL},
        {"a folder named as the original, patched game", patched, {}, {}, true, GAME_UNKNOWN},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.label);
        TestFolder folder;
        std::filesystem::create_directory("game");
        WriteFile("game/vlmr3.exe", c.game);
        if (!c.orig.empty()) WriteFile("game/vlmr3.exe.orig", c.orig);
        if (!c.bak.empty()) WriteFile("game/vlmr3.exe.bak", c.bak);
        if (c.origIsFolder) std::filesystem::create_directory("game/vlmr3.exe.orig");
        EXPECT_STREQ(GameStateWord(StateOfGame("game", "vlmr3.exe")), GameStateWord(c.state));
        EXPECT_EQ(StateOfGame((folder.path() / "game/").string().c_str(), "vlmr3.exe"), c.state);
        EXPECT_EQ(ReadFile("game/vlmr3.exe"), c.game) << "the check wrote to the game";
    }
    TestFolder empty;
    EXPECT_EQ(StateOfGame(".", "vlmr3.exe"), GAME_UNKNOWN);
}

TEST(StateOfGame, ALinkToTheGameIsNoCopy) {
    TestFolder folder;
    // Without a copy, the 60 FPS rule's written form shows this game patched.
    Bytes patched = FourRuleImage();
    patched[FPS_AT + 4] = 0x00;
    WriteFile("vlmr3.exe", patched);
    std::error_code error;
    std::filesystem::create_hard_link("vlmr3.exe", "vlmr3.exe.orig", error);
    if (error) GTEST_SKIP() << "no hard links here: " << error.message();
    // Seen as a copy, the game would hold the original's bytes.
    EXPECT_EQ(StateOfGame(".", "vlmr3.exe"), GAME_UNKNOWN);
}

}  // namespace
