#pragma once
// Valve's KeyValues text format, as Steam writes libraryfolders.vdf: keys and values in
// double quotes (or bare words), backslash escapes inside quotes, nested blocks in braces,
// "//" comments, and platform conditions in square brackets after a key or value, which
// are read and dropped.

#include <string>
#include <vector>

struct VdfNode {
    std::string key;
    std::string value;              // a key with a value
    std::vector<VdfNode> children;  // a key with a block
    bool block = false;

    // The first child whose key is `key`, without regard to ASCII case (Steam's own keys
    // changed case between versions); null when there is none.
    const VdfNode* Child(const char* key) const;
};

// Parses `text` into `root`'s children. On malformed text (an unclosed quote or block, a
// stray brace, a key with nothing after it) returns false and says where in `error`.
bool ParseVdf(const std::string& text, VdfNode* root, std::string* error);
