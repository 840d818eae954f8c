// From the four typed texts to the job's values: what is accepted, what exact values it
// gives, and what is refused before any file is touched.

#include <cmath>
#include <cstring>
#include <limits>
#include <string>

#include <gtest/gtest.h>

#include "apply_inputs.h"
#include "test_folder.h"

namespace {

uint32_t BitsOf(float value) {
    uint32_t bits;
    std::memcpy(&bits, &value, sizeof bits);
    return bits;
}

struct InputCase {
    const char* name;
    bool widescreen, camera, fov;
    InputTexts texts;
    InputField result;
    uint32_t aspectBits;  // checked when the input is accepted
    int16_t cameraDistance;
    int32_t fovWidth;
};

const InputCase INPUT_CASES[] = {
    // Accepted input, with the exact values the rules get.
    {"defaults", 1, 1, 1, {"16", "9", "1536", "undef"}, INPUT_OK, 0x3FE38E39, 1536, 0},
    {"sixteen_tenths_and_fov", 1, 1, 1, {"16", "10", "2048", "1920"}, INPUT_OK, 0x3FCCCCCD, 2048, 1920},
    {"surrounding_spaces_ignored", 1, 1, 1, {" 16 ", "\t9", "1536 ", " UnDeF "}, INPUT_OK, 0x3FE38E39, 1536, 0},
    {"undef_any_case", 1, 1, 1, {"16", "9", "1536", "UNDEF"}, INPUT_OK, 0x3FE38E39, 1536, 0},
    {"camera_65535_is_all_bits", 1, 1, 1, {"16", "9", "65535", "undef"}, INPUT_OK, 0x3FE38E39, -1, 0},
    {"fov_upper_limit", 1, 1, 1, {"16", "9", "1536", "16777215"}, INPUT_OK, 0x3FE38E39, 1536, 16777215},
    {"empty_fields_mean_not_given", 1, 1, 1, {"", "9", "", ""}, INPUT_OK, 0, 0, 0},
    {"empty_height_means_not_given", 1, 1, 1, {"16", "  ", "1536", "undef"}, INPUT_OK, 0, 1536, 0},
    {"leading_zeros", 1, 1, 1, {"016", "09", "01536", "0001920"}, INPUT_OK, 0x3FE38E39, 1536, 1920},

    // Refused input of switched-on features: each of these used to reach the game as garbage.
    {"height_zero", 1, 0, 0, {"16", "0", "1536", "undef"}, INPUT_DISPLAY_HEIGHT, 0, 0, 0},
    {"height_without_digits", 1, 0, 0, {"16", "x", "1536", "undef"}, INPUT_DISPLAY_HEIGHT, 0, 0, 0},
    {"width_negative", 1, 0, 0, {"-16", "9", "1536", "undef"}, INPUT_DISPLAY_WIDTH, 0, 0, 0},
    {"width_trailing_letters", 1, 0, 0, {"16px", "9", "1536", "undef"}, INPUT_DISPLAY_WIDTH, 0, 0, 0},
    {"width_beyond_32_bits", 1, 0, 0, {"99999999999", "9", "1536", "undef"}, INPUT_DISPLAY_WIDTH, 0, 0, 0},
    {"width_inner_space", 1, 0, 0, {"1 6", "9", "1536", "undef"}, INPUT_DISPLAY_WIDTH, 0, 0, 0},
    {"camera_70000", 0, 1, 0, {"16", "9", "70000", "undef"}, INPUT_CAMERA_DISTANCE, 0, 0, 0},
    {"camera_65536", 0, 1, 0, {"16", "9", "65536", "undef"}, INPUT_CAMERA_DISTANCE, 0, 0, 0},
    {"camera_zero", 0, 1, 0, {"16", "9", "0", "undef"}, INPUT_CAMERA_DISTANCE, 0, 0, 0},
    {"camera_minus_one", 0, 1, 0, {"16", "9", "-1", "undef"}, INPUT_CAMERA_DISTANCE, 0, 0, 0},
    {"camera_trailing_letters", 0, 1, 0, {"16", "9", "1536abc", "undef"}, INPUT_CAMERA_DISTANCE, 0, 0, 0},
    {"fov_negative", 0, 0, 1, {"16", "9", "1536", "-1280"}, INPUT_FIELD_OF_VIEW, 0, 0, 0},
    {"fov_too_large", 0, 0, 1, {"16", "9", "1536", "16777216"}, INPUT_FIELD_OF_VIEW, 0, 0, 0},
    {"fov_zero", 0, 0, 1, {"16", "9", "1536", "0"}, INPUT_FIELD_OF_VIEW, 0, 0, 0},
    {"fov_undefined_misspelt", 0, 0, 1, {"16", "9", "1536", "undefined"}, INPUT_FIELD_OF_VIEW, 0, 0, 0},
    {"first_bad_field_is_named", 1, 1, 1, {"16", "9", "70000", "-5"}, INPUT_CAMERA_DISTANCE, 0, 0, 0},

    // Fields of switched-off features are not checked: their rules do not run.
    {"switched_off_fields_are_not_checked", 0, 0, 0, {"x", "0", "70000", "-5"}, INPUT_OK, 0x7FC00000, 4464, -5},
};

class Inputs : public ::testing::TestWithParam<InputCase> {};

TEST_P(Inputs, AreCheckedForTheSwitchedOnFeatures) {
    const InputCase& c = GetParam();
    ToggleScope toggles(c.widescreen, c.camera, c.fov, false);
    PatchJob job = MakeJob(0, 0, 0);
    job.requests[RULE_WIDESCREEN].value.ratio = 7.0f;  // a refused input must leave the job as it was
    job.requests[RULE_CAMERA].value.whole = 7;
    job.requests[RULE_FOV].value.whole = 7;
    char message[PATCH_TEXT_SIZE];

    const InputField result = FillJobValues(c.texts, &job, message);

    ASSERT_EQ(result, c.result);
    if (result == INPUT_OK) {
        EXPECT_STREQ(message, "");
        if (c.aspectBits == 0x7FC00000) {  // 0 / 0
            EXPECT_TRUE(std::isnan(job.requests[RULE_WIDESCREEN].value.ratio));
        } else {
            EXPECT_EQ(BitsOf(job.requests[RULE_WIDESCREEN].value.ratio), c.aspectBits);
        }
        EXPECT_EQ(job.requests[RULE_CAMERA].value.whole, c.cameraDistance);
        EXPECT_EQ(job.requests[RULE_FOV].value.whole, c.fovWidth);
    } else {
        EXPECT_EQ(job.requests[RULE_WIDESCREEN].value.ratio, 7.0f);
        EXPECT_EQ(job.requests[RULE_CAMERA].value.whole, 7);
        EXPECT_EQ(job.requests[RULE_FOV].value.whole, 7);
    }
}

INSTANTIATE_TEST_SUITE_P(Cases, Inputs, ::testing::ValuesIn(INPUT_CASES),
                         [](const ::testing::TestParamInfo<InputCase>& info) { return info.param.name; });

TEST(InputMessages, NameTheFieldAndTheAcceptedValues) {
    const struct {
        InputTexts texts;
        const char* message;
    } cases[] = {
        {{"0", "9", "1536", "undef"}, "Display width must be a whole number from 1 upwards."},
        {{"16", "0", "1536", "undef"}, "Display height must be a whole number from 1 upwards."},
        {{"16", "9", "70000", "undef"}, "Camera distance must be a whole number from 1 to 65535."},
        {{"16", "9", "1536", "-1"}, "FOV must be \"undef\" or a whole number from 1 to 16777215."},
    };
    ToggleScope toggles(true, true, true, false);
    for (const auto& c : cases) {
        PatchJob job = MakeJob(0, 0, 0);
        char message[PATCH_TEXT_SIZE];
        EXPECT_NE(FillJobValues(c.texts, &job, message), INPUT_OK);
        EXPECT_STREQ(message, c.message);
    }
}

// A huge width over a small height must still be an exact single-precision quotient.
TEST(InputAspect, IsTheSinglePrecisionQuotient) {
    ToggleScope toggles(true, false, false, false);
    const struct {
        const char* width;
        const char* height;
    } cases[] = {{"16", "9"}, {"21", "9"}, {"2147483647", "3"}, {"5", "4"}, {"3440", "1440"}};
    for (const auto& c : cases) {
        PatchJob job = MakeJob(0, 0, 0);
        char message[PATCH_TEXT_SIZE];
        ASSERT_EQ(FillJobValues({c.width, c.height, "", ""}, &job, message), INPUT_OK);
        volatile float w = static_cast<float>(std::stod(c.width));
        volatile float h = static_cast<float>(std::stod(c.height));
        volatile float expected = w / h;
        EXPECT_EQ(BitsOf(job.requests[RULE_WIDESCREEN].value.ratio), BitsOf(expected)) << c.width << "/" << c.height;
    }
}

}  // namespace
