#pragma once
// The release both front ends belong to; the window's title shows the same number.

#define VELMORA_PATCH_VERSION "1.7.8"
