#include "shell_text.h"

#include <vector>

#include "platform.h"

std::string QuotedPath(const std::string& text) {
    // A byte takes at most 9 bytes quoted, the quotes around it 2 more.
    std::vector<char> quoted(text.size() * 9 + 3);
    // Never the text unquoted: that is what must not be pasted.
    if (!platform::QuoteForShell(text.c_str(), quoted.data(), quoted.size())) return std::string();
    return quoted.data();
}
