#include "utf8_text.h"

size_t DecodeUtf8(const char* text, size_t size, size_t at, unsigned long* code) {
    const unsigned char lead = static_cast<unsigned char>(text[at]);
    const size_t length = lead >= 0xF0 && lead <= 0xF4 ? 4 : lead >= 0xE0 && lead < 0xF0 ? 3 : lead >= 0xC2 && lead < 0xE0 ? 2 : 0;
    if (length == 0 || at + length > size) return 0;
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
