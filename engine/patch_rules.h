#pragma once
// The four search-and-replace rules applied to the game's image in memory.

#include <cstdint>

#include "byte_scan.h"
#include "patch_job.h"

struct RuleReport;

enum PatchRule { RULE_WIDESCREEN, RULE_CAMERA, RULE_FOV, RULE_FPS, RULE_COUNT };

// How a rule walks the image: the fast scan the program uses, or the plain
// position-by-position scan it must always agree with.
enum ScanKind { SCAN_FAST, SCAN_LITERAL };

// Each rule returns true when it found a hit and rewrote it. They only look at the image.
bool PatchWidescreen(uint8_t* image, uint32_t size, float aspect, ScanKind kind = SCAN_FAST);
bool PatchCameraDistance(uint8_t* image, uint32_t size, int16_t distance, ScanKind kind = SCAN_FAST);
bool PatchFieldOfView(uint8_t* image, uint32_t size, int32_t width, ScanKind kind = SCAN_FAST);
bool PatchFps60(uint8_t* image, uint32_t size, ScanKind kind = SCAN_FAST);
// The FOV rule with the constant itself rather than the screen width it comes from, as a
// patched file holds it.
bool PatchFovConstant(uint8_t* image, uint32_t size, int32_t constant, ScanKind kind = SCAN_FAST);

// The immediate the FOV rule loads: width / 1.3333334 in single precision, truncated.
int32_t FovConstant(int32_t width);

// True for the executables of games 2 and 3, the only ones the 60 FPS rule may touch.
bool IsFpsTarget(const char* targetName);

struct RuleValues {
    float aspect;
    int16_t cameraDistance;
    int32_t fovWidth;
};

// Runs the rules in their fixed order under the feature toggles and the values' guards,
// writes each success text into `job` and sets `applied` for each rule that found a hit.
// With `reports` (RULE_COUNT of them) it also says why each rule wrote nothing, or lists
// every hit it rewrote.
void ApplyPatchRules(uint8_t* image, uint32_t size, const RuleValues& values, PatchJob* job,
                     bool applied[RULE_COUNT], ScanKind kind = SCAN_FAST, RuleReport* reports = nullptr);

// The bytes a rule looks for, and which of a hit's bytes it may rewrite.
const BytePattern& RulePattern(PatchRule rule);
struct RuleWriteSpan {
    uint8_t offset;
    uint8_t length;
};
RuleWriteSpan RuleWrites(PatchRule rule);

// The job's result line of `rule`: widescreen_status, camera_status, fov_status or fps_status.
typedef char StatusLine[PATCH_TEXT_SIZE];
StatusLine& RuleStatusLine(PatchJob& job, PatchRule rule);
const StatusLine& RuleStatusLine(const PatchJob& job, PatchRule rule);

// The result line of a rule that found nothing or did not run.
const char* RuleNotUsedText(PatchRule rule);
