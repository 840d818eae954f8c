#include "rule_table.h"

#include <cstring>

namespace {

// Bits of TARGET_CANDIDATES: every game, or Vlmr2.exe, v2plus.exe, vlmr3.exe and
// vm3plus.exe, the executables of games 2 and 3.
const unsigned EVERY_GAME = ~0u;
const unsigned GAMES_2_AND_3 = 0x0Fu;

const float GAME_ASPECT = 1.3333334f;

// Every rule's writer: the value's bits, least significant byte first, over the span.
void StoreInSpan(uint8_t* at, const RuleRow& row, uint32_t bits) {
    for (unsigned i = 0; i < row.span.length; ++i) at[row.span.offset + i] = static_cast<uint8_t>(bits >> (8 * i));
}

bool EncodeAspect(const RuleValue& value, uint32_t* bits) {
    std::memcpy(bits, &value.ratio, sizeof *bits);
    return value.ratio != 0.0f;  // -0.0 too
}

bool ReadAspect(uint32_t held, RuleValue* shown, uint32_t* bits) {
    std::memcpy(&shown->ratio, &held, sizeof held);
    *bits = held;
    return shown->ratio != 0.0f;
}

bool EncodeCameraDistance(const RuleValue& value, uint32_t* bits) {
    *bits = static_cast<uint16_t>(value.whole);
    return *bits != 0;
}

bool ReadCameraDistance(uint32_t held, RuleValue* shown, uint32_t* bits) {
    shown->whole = static_cast<int32_t>(held);
    *bits = held;
    return held != 0;
}

// mov eax, imm32 over mov eax, [address]: the opcode, then the constant in the low three
// immediate bytes; the fourth is the kept top byte of the old address.
bool EncodeFovWidth(const RuleValue& value, uint32_t* bits) {
    *bits = (static_cast<uint32_t>(FovConstant(value.whole)) << 8) | 0xB8u;
    return value.whole != 0;
}

// The constant after the opcode; what is there in place of the opcode is left to the
// exact check to find different.
bool ReadFovConstant(uint32_t held, RuleValue* shown, uint32_t* bits) {
    shown->whole = static_cast<int32_t>(held >> 8);
    *bits = (held & ~0xFFu) | 0xB8u;
    return true;
}

// cmp edi, 2 becomes cmp edi, 0.
bool EncodeFps(const RuleValue&, uint32_t* bits) {
    *bits = 0;
    return true;
}

bool ReadFps(uint32_t, RuleValue*, uint32_t* bits) { return EncodeFps(RuleValue(), bits); }

}  // namespace

const RuleRow RULE_TABLE[RULE_COUNT] = {
    {
        "widescreen",
        // Little-endian bytes of 4/3 in single precision, the game's 4:3 constant.
        {{0xAB, 0xAA, 0xAA, 0x3F}, {1, 1, 1, 1}, 4},
        {0, 4},
        true,
        VALUE_RATIO,
        2147483647u,
        EncodeAspect,
        StoreInSpan,
        ReadAspect,
        EVERY_GAME,
        true,
        "16:9",
        "Widescreen correction OK",
        "Widescreen correction not used",
        "aspect ratio",
        "--aspect",
        "W:H or WxH, two whole numbers from 1 up",
        "W:H",
        "display width and height, also as WxH (default 16:9)",
        "--no-widescreen",
        "leave the game's 4:3 aspect ratio alone",
    },
    {
        "camera",
        // mov dword ptr [address], 0x????0600: the store of the default camera distance 1536.
        {{0xC7, 0x05, 0, 0, 0, 0, 0x00, 0x06}, {1, 1, 0, 0, 0, 0, 1, 1}, 8},
        {6, 2},
        false,
        VALUE_WHOLE,
        65535u,
        EncodeCameraDistance,
        StoreInSpan,
        ReadCameraDistance,
        EVERY_GAME,
        false,
        "1536",
        "Camera dist correction OK",
        "Camera dist correction not used",
        "camera distance",
        "--camera",
        "a whole number from 1 to 65535",
        "N",
        "camera distance from Siona, 1 to 65535 (the game's is 1536)",
        nullptr,
        nullptr,
    },
    {
        "fov",
        // mov eax, [address] followed by cdq.
        {{0xA1, 0, 0, 0, 0, 0x99}, {1, 0, 0, 0, 0, 1}, 6},
        {0, 4},
        false,
        VALUE_WHOLE,
        16777215u,  // the constant must fit the immediate's three bytes
        EncodeFovWidth,
        StoreInSpan,
        ReadFovConstant,
        EVERY_GAME,
        false,
        "undef",
        "FOV correction OK",
        "FOV correction not used",
        "FOV constant",
        "--fov",
        "undef or a whole number from 1 to 16777215",
        "WIDTH",
        "the screen width set in the game's setup, 1 to 16777215;\nundef leaves the field of view alone",
        nullptr,
        nullptr,
    },
    {
        "fps",
        // mov edi, eax; cmp edi, 2: the frame-rate cap. 8B F8 is a hundred times rarer in
        // code than 8B followed by 02 three bytes on (a 64 MiB code sample: 119 against 15,100).
        {{0x8B, 0xF8, 0x83, 0xFF, 0x02}, {BYTE_RARE, BYTE_RARE, 1, 1, 1}, 5},
        {4, 1},
        true,
        VALUE_NONE,
        0u,
        EncodeFps,
        StoreInSpan,
        ReadFps,
        GAMES_2_AND_3,
        false,
        nullptr,
        "60 FPS Unlock OK",
        "Unlock 60 FPS not used",
        "60 FPS on",
        "--fps",
        nullptr,
        nullptr,
        "unlock 60 FPS (games 2 and 3 only)",
        nullptr,
        nullptr,
    },
};

bool RuleMayRunOn(PatchRule rule, int candidate) {
    const unsigned candidates = RuleOf(rule).candidates;
    if (candidates == EVERY_GAME) return true;
    return candidate >= 0 && candidate < 32 && (candidates & (1u << candidate)) != 0;
}

uint32_t ReadSpan(const uint8_t* at, const RuleRow& row) {
    uint32_t bits = 0;
    for (unsigned i = row.span.length; i-- > 0;) bits = (bits << 8) | at[row.span.offset + i];
    return bits;
}

int32_t FovConstant(int32_t width) {
    // The stores force the width and the quotient to single precision, which the x87 unit
    // of the 32-bit build would otherwise keep in a wider register.
    volatile float w = static_cast<float>(width);
    volatile float quotient = w / GAME_ASPECT;
    return static_cast<int32_t>(quotient);
}
