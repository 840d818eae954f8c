#include "shell_text.h"

#include <vector>

#include "bounded_text.h"
#include "console_text.h"
#include "platform.h"

std::string QuotedPath(const std::string& text) {
    // A byte takes at most 9 bytes quoted, the quotes around it 2 more.
    std::vector<char> quoted(text.size() * 9 + 3);
    // Never the text unquoted: that is what must not be pasted.
    if (!platform::QuoteForShell(text.c_str(), quoted.data(), quoted.size())) return std::string();
    // A terminal that is not UTF-8 gets ASCII only. In single quotes (the POSIX form) every
    // byte above ASCII stands inside a quoted part: it leaves the quotes as $'\xHH', which
    // the shell turns back into the byte, so the pasted path still names the file.
    if (IsUtf8Output() || quoted[0] != '\'') return quoted.data();
    std::string ascii;
    for (const char* c = quoted.data(); *c != '\0'; ++c) {
        const unsigned char byte = static_cast<unsigned char>(*c);
        if (byte < 0x80) {
            ascii += *c;
            continue;
        }
        char escaped[16];
        sprintf_s(escaped, "'$'\\x%02X''", byte);
        ascii += escaped;
    }
    return ascii;
}
