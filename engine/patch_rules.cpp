#include "patch_rules.h"

#include <cstring>

#include "bounded_text.h"
#include "byte_scan.h"
#include "feature_toggles.h"
#include "job_report.h"

namespace {

// Little-endian bytes of 4/3 in single precision, the game's 4:3 constant.
const BytePattern WIDESCREEN_PATTERN = {{0xAB, 0xAA, 0xAA, 0x3F}, {1, 1, 1, 1}, 4};
// mov dword ptr [address], 0x????0600: the store of the default camera distance 1536.
const BytePattern CAMERA_PATTERN = {{0xC7, 0x05, 0, 0, 0, 0, 0x00, 0x06}, {1, 1, 0, 0, 0, 0, 1, 1}, 8};
// mov eax, [address] followed by cdq.
const BytePattern FOV_PATTERN = {{0xA1, 0, 0, 0, 0, 0x99}, {1, 0, 0, 0, 0, 1}, 6};
// mov edi, eax; cmp edi, 2: the frame-rate cap. 8B F8 is a hundred times rarer in code than
// 8B followed by 02 three bytes on (a 64 MiB code sample: 119 against 15,100).
const BytePattern FPS_PATTERN = {{0x8B, 0xF8, 0x83, 0xFF, 0x02}, {BYTE_RARE, BYTE_RARE, 1, 1, 1}, 5};

const float GAME_ASPECT = 1.3333334f;

void StoreLittleEndian32(uint8_t* at, uint32_t value) {
    at[0] = static_cast<uint8_t>(value);
    at[1] = static_cast<uint8_t>(value >> 8);
    at[2] = static_cast<uint8_t>(value >> 16);
    at[3] = static_cast<uint8_t>(value >> 24);
}

// What each rule writes at a hit; the return value says whether its scan goes on. The
// single-rule scans and the sweep of all four share them.
bool WriteAspect(uint8_t* at, const void* bits) {
    StoreLittleEndian32(at, *static_cast<const uint32_t*>(bits));
    return false;  // the first hit only
}

bool WriteCameraDistance(uint8_t* at, const void* bits) {
    const uint16_t distance = *static_cast<const uint16_t*>(bits);
    at[6] = static_cast<uint8_t>(distance);
    at[7] = static_cast<uint8_t>(distance >> 8);
    return true;
}

bool WriteFovImmediate(uint8_t* at, const void* value) {
    StoreLittleEndian32(at, *static_cast<const uint32_t*>(value));
    return true;
}

bool WriteFpsCompare(uint8_t* at, const void*) {
    at[4] = 0x00;  // cmp edi, 0
    return false;
}

uint32_t AspectBits(float aspect) {
    uint32_t bits;
    std::memcpy(&bits, &aspect, sizeof bits);
    return bits;
}

// mov eax, imm32 with the constant in the low three immediate bytes; the fourth is the
// kept top byte of the old address.
uint32_t FovImmediateOf(int32_t constant) { return (static_cast<uint32_t>(constant) << 8) | 0xB8u; }
uint32_t FovImmediate(int32_t width) { return FovImmediateOf(FovConstant(width)); }

bool Scan(uint8_t* image, uint32_t size, const BytePattern& pattern, ScanKind kind, SweepHit write,
          const void* context) {
    auto onHit = [write, context](uint8_t* at) { return write(at, context); };
    return kind == SCAN_LITERAL ? ScanLiteral(image, size, pattern, onHit)
                                : ScanFast(image, size, pattern, onHit);
}

}  // namespace

bool PatchWidescreen(uint8_t* image, uint32_t size, float aspect, ScanKind kind) {
    const uint32_t bits = AspectBits(aspect);
    return Scan(image, size, WIDESCREEN_PATTERN, kind, WriteAspect, &bits);
}

bool PatchCameraDistance(uint8_t* image, uint32_t size, int16_t distance, ScanKind kind) {
    const uint16_t bits = static_cast<uint16_t>(distance);
    return Scan(image, size, CAMERA_PATTERN, kind, WriteCameraDistance, &bits);
}

int32_t FovConstant(int32_t width) {
    // The stores force the width and the quotient to single precision, which the x87 unit
    // of the 32-bit build would otherwise keep in a wider register.
    volatile float w = static_cast<float>(width);
    volatile float quotient = w / GAME_ASPECT;
    return static_cast<int32_t>(quotient);
}

bool PatchFieldOfView(uint8_t* image, uint32_t size, int32_t width, ScanKind kind) {
    const uint32_t value = FovImmediate(width);
    return Scan(image, size, FOV_PATTERN, kind, WriteFovImmediate, &value);
}

bool PatchFovConstant(uint8_t* image, uint32_t size, int32_t constant, ScanKind kind) {
    const uint32_t value = FovImmediateOf(constant);
    return Scan(image, size, FOV_PATTERN, kind, WriteFovImmediate, &value);
}

bool PatchFps60(uint8_t* image, uint32_t size, ScanKind kind) {
    return Scan(image, size, FPS_PATTERN, kind, WriteFpsCompare, nullptr);
}

bool IsFpsTarget(const char* targetName) {
    for (int i = 0; i < FPS_CANDIDATE_COUNT; ++i) {
        if (std::strncmp(targetName, TARGET_CANDIDATES[i], PATCH_TEXT_SIZE) == 0) return true;
    }
    return false;
}

namespace {

// Wraps a rule's write so that each hit is recorded with its bytes before and after.
struct HitRecorder {
    SweepHit write;
    const void* context;
    const uint8_t* image;
    uint8_t length;
    RuleReport* report;
};

bool RecordHit(uint8_t* at, const void* recorder) {
    const HitRecorder& r = *static_cast<const HitRecorder*>(recorder);
    RuleHit hit = {};
    hit.offset = static_cast<uint32_t>(at - r.image);
    hit.length = r.length;
    std::memcpy(hit.before, at, r.length);
    const bool goOn = r.write(at, r.context);
    std::memcpy(hit.after, at, r.length);
    r.report->hits.push_back(hit);
    return goOn;
}

}  // namespace

void ApplyPatchRules(uint8_t* image, uint32_t size, const RuleValues& values, PatchJob* job,
                     bool applied[RULE_COUNT], ScanKind kind, RuleReport* reports) {
    const uint32_t aspectBits = AspectBits(values.aspect);
    const uint16_t cameraBits = static_cast<uint16_t>(values.cameraDistance);
    const uint32_t fovValue = values.fovWidth != 0 ? FovImmediate(values.fovWidth) : 0;

    // Each rule's guard, in the words the console patcher prints when it holds the rule back.
    const bool fpsTarget = IsFpsTarget(job->target_name);
    const struct {
        bool switchedOn;
        bool hasValue;
        bool allowed;
        SweepHit write;
        const void* context;
    } guards[RULE_COUNT] = {
        {g_bWidescreen != 0, values.aspect != 0.0f, true, WriteAspect, &aspectBits},
        {g_bCameraDistance != 0, values.cameraDistance != 0, true, WriteCameraDistance, &cameraBits},
        {g_bFieldOfView != 0, values.fovWidth != 0, true, WriteFovImmediate, &fovValue},
        {g_bFps60 != 0, true, fpsTarget, WriteFpsCompare, nullptr},
    };

    // The rules whose guards pass, in their fixed order.
    SweepRule rules[RULE_COUNT];
    HitRecorder recorders[RULE_COUNT];
    PatchRule ruleOf[RULE_COUNT];
    int count = 0;
    for (int rule = 0; rule < RULE_COUNT; ++rule) {
        RuleReport* report = reports != nullptr ? &reports[rule] : nullptr;
        const auto& guard = guards[rule];
        const RuleReason heldBack = !guard.switchedOn ? RULE_SWITCHED_OFF
                                    : !guard.hasValue ? RULE_NO_VALUE
                                    : !guard.allowed  ? RULE_NOT_FOR_THIS_GAME
                                                      : RULE_USED;
        if (report != nullptr) {
            report->reason = heldBack;
            report->hits.clear();
        }
        if (heldBack != RULE_USED) continue;
        const BytePattern& pattern = RulePattern(static_cast<PatchRule>(rule));
        if (report != nullptr) {
            recorders[count] = {guard.write, guard.context, image, static_cast<uint8_t>(pattern.length), report};
            rules[count] = SweepRule{&pattern, RecordHit, &recorders[count], {}};
        } else {
            rules[count] = SweepRule{&pattern, guard.write, guard.context, {}};
        }
        ruleOf[count++] = static_cast<PatchRule>(rule);
    }

    // The fast way runs them all in one sweep over the image, with the same result as
    // running them one after the other, which is what the reference does.
    if (kind == SCAN_FAST) {
        SweepScan(image, size, rules, count);
    } else {
        for (int i = 0; i < count; ++i) {
            rules[i].cursor.found = Scan(image, size, *rules[i].pattern, kind, rules[i].onHit, rules[i].context);
        }
    }

    static const char* const SUCCESS_TEXTS[RULE_COUNT] = {"Widescreen correction OK", "Camera dist correction OK",
                                                          "FOV correction OK", "60 FPS Unlock OK"};
    for (int i = 0; i < count; ++i) {
        if (!rules[i].cursor.found) {
            if (reports != nullptr) reports[ruleOf[i]].reason = RULE_PATTERN_NOT_FOUND;
            continue;
        }
        strcpy_s(RuleStatusLine(*job, ruleOf[i]), SUCCESS_TEXTS[ruleOf[i]]);
        applied[ruleOf[i]] = true;
    }
}

const BytePattern& RulePattern(PatchRule rule) {
    static const BytePattern* const PATTERNS[RULE_COUNT] = {&WIDESCREEN_PATTERN, &CAMERA_PATTERN, &FOV_PATTERN,
                                                            &FPS_PATTERN};
    return *PATTERNS[rule < RULE_COUNT ? rule : RULE_WIDESCREEN];
}

RuleWriteSpan RuleWrites(PatchRule rule) {
    static const RuleWriteSpan SPANS[RULE_COUNT] = {{0, 4}, {6, 2}, {0, 4}, {4, 1}};
    return SPANS[rule < RULE_COUNT ? rule : RULE_WIDESCREEN];
}

const StatusLine& RuleStatusLine(const PatchJob& job, PatchRule rule) {
    switch (rule) {
    case RULE_CAMERA: return job.camera_status;
    case RULE_FOV: return job.fov_status;
    case RULE_FPS: return job.fps_status;
    case RULE_WIDESCREEN:
    case RULE_COUNT: break;
    }
    return job.widescreen_status;
}

StatusLine& RuleStatusLine(PatchJob& job, PatchRule rule) {
    return const_cast<StatusLine&>(RuleStatusLine(static_cast<const PatchJob&>(job), rule));
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
