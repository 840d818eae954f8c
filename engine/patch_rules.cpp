#include "patch_rules.h"

#include <cstring>

#include "bounded_text.h"
#include "byte_scan.h"
#include "feature_toggles.h"

namespace {

// Little-endian bytes of 4/3 in single precision, the game's 4:3 constant.
const BytePattern WIDESCREEN_PATTERN = {{0xAB, 0xAA, 0xAA, 0x3F}, {1, 1, 1, 1}, 4};
// mov dword ptr [address], 0x????0600: the store of the default camera distance 1536.
const BytePattern CAMERA_PATTERN = {{0xC7, 0x05, 0, 0, 0, 0, 0x00, 0x06}, {1, 1, 0, 0, 0, 0, 1, 1}, 8};
// mov eax, [address] followed by cdq.
const BytePattern FOV_PATTERN = {{0xA1, 0, 0, 0, 0, 0x99}, {1, 0, 0, 0, 0, 1}, 6};
// mov edi, eax; cmp edi, 2: the frame-rate cap.
const BytePattern FPS_PATTERN = {{0x8B, 0xF8, 0x83, 0xFF, 0x02}, {1, 1, 1, 1, 1}, 5};

const float GAME_ASPECT = 1.3333334f;

void StoreLittleEndian32(uint8_t* at, uint32_t value) {
    at[0] = static_cast<uint8_t>(value);
    at[1] = static_cast<uint8_t>(value >> 8);
    at[2] = static_cast<uint8_t>(value >> 16);
    at[3] = static_cast<uint8_t>(value >> 24);
}

template <class OnHit>
bool Scan(uint8_t* image, uint32_t size, const BytePattern& pattern, ScanKind kind, OnHit onHit) {
    return kind == SCAN_LITERAL ? ScanLiteral(image, size, pattern, onHit)
                                : ScanFast(image, size, pattern, onHit);
}

}  // namespace

bool PatchWidescreen(uint8_t* image, uint32_t size, float aspect, ScanKind kind) {
    uint32_t bits;
    std::memcpy(&bits, &aspect, sizeof bits);
    return Scan(image, size, WIDESCREEN_PATTERN, kind, [bits](uint8_t* at) {
        StoreLittleEndian32(at, bits);
        return false;  // the first hit only
    });
}

bool PatchCameraDistance(uint8_t* image, uint32_t size, int16_t distance, ScanKind kind) {
    const uint16_t bits = static_cast<uint16_t>(distance);
    return Scan(image, size, CAMERA_PATTERN, kind, [bits](uint8_t* at) {
        at[6] = static_cast<uint8_t>(bits);
        at[7] = static_cast<uint8_t>(bits >> 8);
        return true;
    });
}

int32_t FovConstant(int32_t width) {
    // The store forces the quotient to single precision even where the compiler would
    // keep it in a wider register.
    volatile float quotient = static_cast<float>(width) / GAME_ASPECT;
    return static_cast<int32_t>(quotient);
}

bool PatchFieldOfView(uint8_t* image, uint32_t size, int32_t width, ScanKind kind) {
    // mov eax, imm32 with the constant in the low three immediate bytes; the fourth is the
    // kept top byte of the old address.
    const uint32_t value = (static_cast<uint32_t>(FovConstant(width)) << 8) | 0xB8u;
    return Scan(image, size, FOV_PATTERN, kind, [value](uint8_t* at) {
        StoreLittleEndian32(at, value);
        return true;
    });
}

bool PatchFps60(uint8_t* image, uint32_t size, ScanKind kind) {
    return Scan(image, size, FPS_PATTERN, kind, [](uint8_t* at) {
        at[4] = 0x00;  // cmp edi, 0
        return false;
    });
}

bool IsFpsTarget(const char* targetName) {
    for (int i = 0; i < FPS_CANDIDATE_COUNT; ++i) {
        if (std::strncmp(targetName, TARGET_CANDIDATES[i], PATCH_TEXT_SIZE) == 0) return true;
    }
    return false;
}

void ApplyPatchRules(uint8_t* image, uint32_t size, const RuleValues& values, PatchJob* job,
                     bool applied[RULE_COUNT], ScanKind kind) {
    if (g_bWidescreen && values.aspect != 0.0f && PatchWidescreen(image, size, values.aspect, kind)) {
        strcpy_s(job->widescreen_status, "Widescreen correction OK");
        applied[RULE_WIDESCREEN] = true;
    }
    if (g_bCameraDistance && values.cameraDistance != 0 &&
        PatchCameraDistance(image, size, values.cameraDistance, kind)) {
        strcpy_s(job->camera_status, "Camera dist correction OK");
        applied[RULE_CAMERA] = true;
    }
    if (g_bFieldOfView && values.fovWidth != 0 && PatchFieldOfView(image, size, values.fovWidth, kind)) {
        strcpy_s(job->fov_status, "FOV correction OK");
        applied[RULE_FOV] = true;
    }
    if (IsFpsTarget(job->target_name) && g_bFps60 && PatchFps60(image, size, kind)) {
        strcpy_s(job->fps_status, "60 FPS Unlock OK");
        applied[RULE_FPS] = true;
    }
}

const char* RuleNotUsedText(PatchRule rule) {
    switch (rule) {
    case RULE_WIDESCREEN: return "Widescreen correction not used";
    case RULE_CAMERA: return "Camera dist correction not used";
    case RULE_FOV: return "FOV correction not used";
    case RULE_FPS: return "Unlock 60 FPS not used";
    case RULE_COUNT: break;
    }
    return "";
}
