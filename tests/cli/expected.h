#pragma once
// What the fixture image turns into, byte for byte, and the report lines that say so.

#include <string>

#include "cli_runner.h"

// The fixture after the defaults (16:9) with --camera 2000 --fov 1920 --fps on vlmr3.exe.
inline Bytes FullyPatched(Bytes image) {
    image = With(image, ASPECT_AT, {0x39, 0x8E, 0xE3, 0x3F});
    image = With(image, CAMERA_AT + 6, {0xD0, 0x07});
    image = With(image, FOV_AT, {0xB8, 0xA0, 0x05, 0x00});
    image = With(image, FPS_AT + 4, {0x00});
    return image;
}

const char FULL_RUN_RESULT[] =
    "Done vlmr3.exe!\n\nWidescreen correction OK\nCamera dist correction OK\nFOV correction OK\n60 FPS Unlock OK";

// The four hits of that run: offset, bytes before and after, as the text lists them.
const char* const FULL_RUN_HIT_LINES[] = {
    "    0x00000100  AB AA AA 3F -> 39 8E E3 3F",
    "    0x00000200  C7 05 10 20 40 00 00 06 -> C7 05 10 20 40 00 D0 07",
    "    0x00000300  A1 18 20 40 00 99 -> B8 A0 05 00 00 99",
    "    0x00000400  8B F8 83 FF 02 -> 8B F8 83 FF 00",
};
