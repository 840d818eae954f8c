#include "console_text.h"

namespace {

bool g_utf8 = false;

}  // namespace

void SetUtf8Output(bool utf8) { g_utf8 = utf8; }
bool IsUtf8Output() { return g_utf8; }

const char* ArrowText() { return g_utf8 ? "\xE2\x86\x92" : "->"; }
const char* EllipsisText() { return g_utf8 ? "\xE2\x80\xA6" : "..."; }
