// Steam's library files as the KeyValues reader and the library list take them, from
// arbitrary bytes: no crash, no hang, no read outside the text, a reason for every refusal,
// and every key, value and library folder they give back a string of the text: written in
// it as it is, or in double quotes with the escapes \n, \t, \\ and \" undone.

#include <string>
#include <vector>

#include "fuzz_check.h"
#include "game_search.h"
#include "vdf_text.h"

namespace {

// Whether the quoted form read from text[at] on gives `wanted`: a backslash before n, t, a
// backslash or a quote stands for that character, before anything else for itself.
bool ReadsAs(const std::string& text, size_t at, const std::string& wanted) {
    for (size_t i = 0; i < wanted.size(); ++i, ++at) {
        if (at >= text.size()) return false;
        char c = text[at];
        if (c == '\\' && at + 1 < text.size()) {
            const char next = text[at + 1];
            const char meant = next == 'n' ? '\n' : next == 't' ? '\t' : next == '\\' || next == '"' ? next : 0;
            if (meant != 0) {
                c = meant;
                ++at;
            }
        }
        if (c != wanted[i]) return false;
    }
    return true;
}

bool IsStringOf(const std::string& text, const std::string& wanted) {
    if (text.find(wanted) != std::string::npos) return true;
    // A quoted string starts right after its quote.
    for (size_t quote = text.find('"'); quote != std::string::npos; quote = text.find('"', quote + 1)) {
        if (ReadsAs(text, quote + 1, wanted)) return true;
    }
    return false;
}

void ExpectStringsOf(const std::string& text, const VdfNode& node) {
    for (const VdfNode& child : node.children) {
        if (!IsStringOf(text, child.key)) FuzzFailed("the key \"" + child.key + "\" is not in the text");
        if (child.block) {
            FuzzExpect(child.value.empty(), "a block has a value");
            ExpectStringsOf(text, child);
        } else if (!IsStringOf(text, child.value)) {
            FuzzFailed("the value \"" + child.value + "\" is not in the text");
        } else {
            FuzzExpect(child.children.empty(), "a value has children");
        }
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // A copy of exactly the input's length: a read past it is one past the allocation.
    const std::string text(reinterpret_cast<const char*>(data), size);

    VdfNode root;
    std::string error;
    const bool parsed = ParseVdf(text, &root, &error);
    if (parsed) {
        FuzzExpect(root.block, "the root is not a block");
        ExpectStringsOf(text, root);
    } else {
        FuzzExpect(!error.empty(), "a refused text without a reason");
    }

    std::vector<std::string> folders;
    std::string listError;
    if (LibraryFoldersOf(text, &folders, &listError)) {
        FuzzExpect(parsed, "a library list from a text the reader refuses");
        for (const std::string& folder : folders) {
            FuzzExpect(!folder.empty(), "an empty library folder");
            if (!IsStringOf(text, folder)) FuzzFailed("the library folder \"" + folder + "\" is not in the text");
        }
    } else {
        FuzzExpect(!listError.empty(), "a refused library list without a reason");
        FuzzExpect(folders.empty(), "a refused library list with folders");
    }
    return 0;
}
