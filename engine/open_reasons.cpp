#include "open_reasons.h"

#include <cstring>

#include "bounded_text.h"
#include "platform.h"

namespace {

struct ReasonRow {
    OpenReason reason;
    const char* text;
    const char* hint;  // "<path>" stands where FormatOpenReasonHint puts the file's path
    const char* code;
};

// The reasons that the player is not told about (OPEN_OK, OPEN_MISSING, OPEN_NOT_A_FILE)
// have no row: their text, hint and code are empty.
const ReasonRow REASONS[] = {
    {OPEN_IN_USE, "in use", "Close the game, then try again.", "in_use"},
    // In the terms of the system's own tools.
    {OPEN_READ_ONLY, "read-only", platform::READ_ONLY_HINT, "read_only"},
    {OPEN_ACCESS_DENIED, "access denied", "Run this tool as administrator.", "access_denied"},
    {OPEN_FAILED, "cannot be opened", "", "cannot_open"},
    {OPEN_IMMUTABLE, "immutable", "Clear it: sudo chattr -i -a <path>", "immutable"},
    {OPEN_READ_ONLY_FS, "read-only file system", "Copy the game to a writable folder, or remount it read-write.",
     "read_only_fs"},
    {OPEN_PERMISSION_DENIED, "permission denied", "Make it yours: sudo chown \"$USER\" <path>",
     "permission_denied"},
};

const ReasonRow* RowOf(OpenReason reason) {
    for (const ReasonRow& row : REASONS) {
        if (row.reason == reason) return &row;
    }
    return nullptr;
}

}  // namespace

const char* OpenReasonText(OpenReason reason) {
    const ReasonRow* row = RowOf(reason);
    return row != nullptr ? row->text : "";
}

const char* OpenReasonHint(OpenReason reason) {
    const ReasonRow* row = RowOf(reason);
    return row != nullptr ? row->hint : "";
}

const char* OpenReasonCode(OpenReason reason) {
    const ReasonRow* row = RowOf(reason);
    return row != nullptr ? row->code : "";
}

void FormatOpenReasonHint(OpenReason reason, const char* path, char (&hint)[PATCH_TEXT_SIZE]) {
    hint[0] = '\0';
    const char* pattern = OpenReasonHint(reason);
    const char* slot = std::strstr(pattern, "<path>");
    if (slot == nullptr) {
        strcpy_s(hint, pattern);
        return;
    }
    char head[PATCH_TEXT_SIZE] = {};
    const size_t headLength = static_cast<size_t>(slot - pattern);
    if (headLength >= sizeof head) return;
    std::memcpy(head, pattern, headLength);
    // Quoted for the shell: a name with a $ or a backtick must not run anything when pasted.
    char quoted[PATCH_TEXT_SIZE];
    if (!platform::QuoteForShell(path, quoted)) return;
    if (strcpy_s(hint, head) != 0 || strcat_s(hint, quoted) != 0 || strcat_s(hint, slot + std::strlen("<path>")) != 0) {
        hint[0] = '\0';
    }
}
