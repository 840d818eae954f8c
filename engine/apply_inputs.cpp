#include "apply_inputs.h"

#include <climits>
#include <cstdint>
#include <cstring>

#include "bounded_text.h"
#include "rule_table.h"

namespace {

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

// The text without surrounding blanks, as [begin, end).
struct Trimmed {
    const char* begin;
    const char* end;
    bool empty() const { return begin == end; }
};

Trimmed Trim(const char* text) {
    const char* begin = text;
    while (IsBlank(*begin)) ++begin;
    const char* end = begin + std::strlen(begin);
    while (end > begin && IsBlank(end[-1])) --end;
    return {begin, end};
}

// A whole number of digits only, within 1..max.
bool ParseWhole(Trimmed text, uint32_t max, uint32_t* value) {
    if (text.empty()) return false;
    uint64_t result = 0;
    for (const char* c = text.begin; c != text.end; ++c) {
        if (*c < '0' || *c > '9') return false;
        result = result * 10 + static_cast<uint32_t>(*c - '0');
        if (result > max) return false;
    }
    if (result == 0) return false;
    *value = static_cast<uint32_t>(result);
    return true;
}

bool IsUndef(Trimmed text) {
    static const char UNDEF[] = "undef";
    const size_t length = static_cast<size_t>(text.end - text.begin);
    if (length != sizeof UNDEF - 1) return false;
    for (size_t i = 0; i < length; ++i) {
        char c = text.begin[i];
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
        if (c != UNDEF[i]) return false;
    }
    return true;
}

// atoi as the Windows runtime does it, with values beyond the 32-bit range held at the
// nearest limit; used only for the fields of switched-off features, whose rules never run.
int32_t ConvertLikeAtoi(const char* text) {
    while (*text == ' ' || (*text >= '\t' && *text <= '\r')) ++text;
    const bool negative = *text == '-';
    if (*text == '-' || *text == '+') ++text;
    int64_t value = 0;
    for (; *text >= '0' && *text <= '9'; ++text) {
        value = value * 10 + (*text - '0');
        if (value > static_cast<int64_t>(INT32_MAX) + 1) break;
    }
    if (negative) value = -value;
    if (value > INT32_MAX) return INT32_MAX;
    if (value < INT32_MIN) return INT32_MIN;
    return static_cast<int32_t>(value);
}

// The x87 unit of the 32-bit build keeps values in extended precision until they are
// stored: each store through volatile rounds to a true float, so that the operands and the
// quotient are those of single-precision arithmetic on every processor.
float RoundedToFloat(double value) {
    volatile float rounded = static_cast<float>(value);
    return rounded;
}

float AspectOf(uint32_t width, uint32_t height) {
    const float w = RoundedToFloat(static_cast<double>(width));
    const float h = RoundedToFloat(static_cast<double>(height));
    volatile float quotient = w / h;  // a true single-precision quotient
    return quotient;
}

}  // namespace

InputField FillJobValues(const InputTexts& texts, PatchJob* job, char (&message)[PATCH_TEXT_SIZE]) {
    message[0] = '\0';
    const Trimmed width = Trim(texts.displayWidth);
    const Trimmed height = Trim(texts.displayHeight);
    const Trimmed camera = Trim(texts.cameraDistance);
    const Trimmed fov = Trim(texts.fieldOfView);

    const RuleRequest (&requests)[RULE_COUNT] = job->requests;
    float aspect = 0.0f;
    uint32_t w = 0, h = 0;
    if (requests[RULE_WIDESCREEN].on) {
        const uint32_t maximum = RuleOf(RULE_WIDESCREEN).maximum;
        if (!width.empty() && !ParseWhole(width, maximum, &w)) {
            strcpy_s(message, "Display width must be a whole number from 1 upwards.");
            return INPUT_DISPLAY_WIDTH;
        }
        if (!height.empty() && !ParseWhole(height, maximum, &h)) {
            strcpy_s(message, "Display height must be a whole number from 1 upwards.");
            return INPUT_DISPLAY_HEIGHT;
        }
        if (w != 0 && h != 0) aspect = AspectOf(w, h);
    } else if (texts.displayWidth[0] != '\0' && texts.displayHeight[0] != '\0') {
        aspect = AspectOf(static_cast<uint32_t>(ConvertLikeAtoi(texts.displayWidth)),
                          static_cast<uint32_t>(ConvertLikeAtoi(texts.displayHeight)));
    }

    uint32_t distance = 0;
    if (requests[RULE_CAMERA].on) {
        if (!camera.empty() && !ParseWhole(camera, RuleOf(RULE_CAMERA).maximum, &distance)) {
            strcpy_s(message, "Camera distance must be a whole number from 1 to 65535.");
            return INPUT_CAMERA_DISTANCE;
        }
    } else if (texts.cameraDistance[0] != '\0') {
        distance = static_cast<uint32_t>(ConvertLikeAtoi(texts.cameraDistance));
    }

    uint32_t fovWidth = 0;
    if (requests[RULE_FOV].on) {
        if (!fov.empty() && !IsUndef(fov) && !ParseWhole(fov, RuleOf(RULE_FOV).maximum, &fovWidth)) {
            strcpy_s(message, "FOV must be \"undef\" or a whole number from 1 to 16777215.");
            return INPUT_FIELD_OF_VIEW;
        }
    } else if (!IsUndef({texts.fieldOfView, texts.fieldOfView + std::strlen(texts.fieldOfView)})) {
        fovWidth = static_cast<uint32_t>(ConvertLikeAtoi(texts.fieldOfView));
    }

    job->requests[RULE_WIDESCREEN].value.ratio = aspect;
    job->requests[RULE_CAMERA].value.whole = static_cast<int16_t>(static_cast<uint16_t>(distance));
    job->requests[RULE_FOV].value.whole = static_cast<int32_t>(fovWidth);
    return INPUT_OK;
}

PatchRule RuleOfField(InputField field) {
    switch (field) {
    case INPUT_CAMERA_DISTANCE: return RULE_CAMERA;
    case INPUT_FIELD_OF_VIEW: return RULE_FOV;
    case INPUT_OK:
    case INPUT_DISPLAY_WIDTH:
    case INPUT_DISPLAY_HEIGHT: break;
    }
    return RULE_WIDESCREEN;
}
