// The game launchers' lists as --find reads them, from arbitrary bytes: Heroic's GOG list
// and Legendary's list (JSON), and Lutris' database (SQLite). No crash, no hang, no read
// outside the bytes (each reader gets a block of exactly their size), no empty path, and
// every path of a JSON list a string of the text: in double quotes, with JSON's escapes
// undone. A folder of the database is its bytes, but a value may lie across SQLite's pages,
// so of those only their being there at all is checked.

#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "fuzz_check.h"
#include "launcher_lists.h"

namespace {

void AppendUtf8(unsigned long code, std::string* out) {
    if (code < 0x80) {
        *out += static_cast<char>(code);
    } else if (code < 0x800) {
        *out += static_cast<char>(0xC0 | code >> 6);
        *out += static_cast<char>(0x80 | (code & 0x3F));
    } else if (code < 0x10000) {
        *out += static_cast<char>(0xE0 | code >> 12);
        *out += static_cast<char>(0x80 | (code >> 6 & 0x3F));
        *out += static_cast<char>(0x80 | (code & 0x3F));
    } else {
        *out += static_cast<char>(0xF0 | code >> 18);
        *out += static_cast<char>(0x80 | (code >> 12 & 0x3F));
        *out += static_cast<char>(0x80 | (code >> 6 & 0x3F));
        *out += static_cast<char>(0x80 | (code & 0x3F));
    }
}

bool Hex4(const std::string& text, size_t at, unsigned long* code) {
    if (at + 4 > text.size()) return false;
    *code = 0;
    for (size_t i = at; i < at + 4; ++i) {
        const char c = text[i];
        const int digit = c >= '0' && c <= '9' ? c - '0' : c >= 'a' && c <= 'f' ? c - 'a' + 10 : c >= 'A' && c <= 'F' ? c - 'A' + 10 : -1;
        if (digit < 0) return false;
        *code = *code << 4 | static_cast<unsigned long>(digit);
    }
    return true;
}

// The JSON string that starts after the quote at text[at - 1], its escapes undone, read no
// further than `room` bytes of result; false when it is no string or longer.
bool JsonStringAt(const std::string& text, size_t at, size_t room, std::string* out) {
    out->clear();
    while (at < text.size() && out->size() <= room) {
        const char c = text[at++];
        if (c == '"') return true;
        if (c != '\\') {
            *out += c;
            continue;
        }
        if (at >= text.size()) return false;
        const char e = text[at++];
        switch (e) {
        case '"': case '\\': case '/': *out += e; break;
        case 'b': *out += '\b'; break;
        case 'f': *out += '\f'; break;
        case 'n': *out += '\n'; break;
        case 'r': *out += '\r'; break;
        case 't': *out += '\t'; break;
        case 'u': {
            unsigned long code = 0;
            if (!Hex4(text, at, &code)) return false;
            at += 4;
            unsigned long low = 0;
            if (code >= 0xD800 && code <= 0xDBFF && at + 1 < text.size() && text[at] == '\\' && text[at + 1] == 'u' &&
                Hex4(text, at + 2, &low) && low >= 0xDC00 && low <= 0xDFFF) {
                code = 0x10000 + ((code - 0xD800) << 10) + (low - 0xDC00);
                at += 6;
            }
            AppendUtf8(code, out);
            break;
        }
        default: return false;
        }
    }
    return false;
}

bool IsJsonStringOf(const std::string& text, const std::string& wanted) {
    std::string read;
    for (size_t quote = text.find('"'); quote != std::string::npos; quote = text.find('"', quote + 1)) {
        if (JsonStringAt(text, quote + 1, wanted.size(), &read) && read == wanted) return true;
    }
    return false;
}

void ExpectJsonPaths(const std::string& text, const std::vector<std::string>& paths, const char* list) {
    for (const std::string& path : paths) {
        if (path.empty()) FuzzFailed(std::string("an empty path from ") + list);
        if (!IsJsonStringOf(text, path)) FuzzFailed(std::string("the path \"") + path + "\" from " + list + " is not in the text");
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // A block of exactly the input's length: a read past it is one past the allocation.
    std::unique_ptr<char[]> bytes(new char[size == 0 ? 1 : size]);
    if (size != 0) std::memcpy(bytes.get(), data, size);
    const std::string text(bytes.get(), size);

    ExpectJsonPaths(text, HeroicInstallPaths(bytes.get(), size), "Heroic's list");
    ExpectJsonPaths(text, LegendaryInstallPaths(bytes.get(), size), "Legendary's list");

    const std::vector<std::string> folders = LutrisGameFolders(reinterpret_cast<const unsigned char*>(bytes.get()), size);
    for (const std::string& folder : folders) FuzzExpect(!folder.empty(), "an empty folder from Lutris' database");
    return 0;
}
