#include "bounded_text.h"
#include "console_text.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

bool g_utf8 = false;


}  // namespace

void SetUtf8Output(bool utf8) { g_utf8 = utf8; }

const char* ArrowText() { return g_utf8 ? "\xE2\x86\x92" : "->"; }
const char* EllipsisText() { return g_utf8 ? "\xE2\x80\xA6" : "..."; }

size_t DecodeUtf8(const std::string& text, size_t at, unsigned long* code) {
    const unsigned char lead = static_cast<unsigned char>(text[at]);
    const size_t length = lead >= 0xF0 && lead <= 0xF4 ? 4 : lead >= 0xE0 && lead < 0xF0 ? 3 : lead >= 0xC2 && lead < 0xE0 ? 2 : 0;
    if (length == 0 || at + length > text.size()) return 0;
    unsigned long value = lead & (0x7Fu >> length);
    for (size_t i = 1; i < length; ++i) {
        const unsigned char next = static_cast<unsigned char>(text[at + i]);
        if ((next & 0xC0) != 0x80) return 0;
        value = value << 6 | (next & 0x3F);
    }
    const unsigned long smallest[] = {0, 0, 0x80, 0x800, 0x10000};
    if (value < smallest[length] || value > 0x10FFFF || (value >= 0xD800 && value <= 0xDFFF)) return 0;
    *code = value;
    return length;
}

std::string Quoted(const std::string& text) {
    std::string quoted = "\"";
    for (size_t at = 0; at < text.size(); ++at) {
        const char c = text[at];
        const unsigned char u = static_cast<unsigned char>(c);
        if (u >= 0x80 && g_utf8) {
            // The C1 controls (U+0080 to U+009F) move terminals too.
            unsigned long code = 0;
            const size_t length = DecodeUtf8(text, at, &code);
            if (length != 0 && code >= 0xA0) {
                quoted.append(text, at, length);
                at += length - 1;
                continue;
            }
        }
        switch (c) {
            case '"': quoted += "\\\""; continue;
            case '\\': quoted += "\\\\"; continue;
            case '\n': quoted += "\\n"; continue;
            case '\r': quoted += "\\r"; continue;
            case '\t': quoted += "\\t"; continue;
            default: break;
        }
        if (u < 0x20 || u >= 0x7F) {
            char escaped[8];
            sprintf_s(escaped, "\\x%02X", u);
            quoted += escaped;
        } else {
            quoted += c;
        }
    }
    return quoted + "\"";
}
