#pragma once
// The release both front ends belong to; the window's title shows the same number.

#define VELMORA_PATCH_VERSION "1.7.8"

// The licence lines of --version.
#define VELMORA_LICENCE                                                                   \
    "Copyright (c) 2026 The Widescreen Velmora 2345 authors.\n"                           \
    "MIT License: you may use, copy, change and pass it on, as the LICENSE file says.\n" \
    "There is NO WARRANTY, to the extent permitted by law."
