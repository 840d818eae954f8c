#include "restore.h"

#include <cstring>

#ifdef _WIN32
#include <io.h>
#else
#include <unistd.h>
#endif

#include "bounded_text.h"
#include "byte_scan.h"
#include "patch_rules.h"
#include "patch_worker.h"
#include "result_text.h"

namespace {

// A whole file in memory, released with the table's own release.
struct Image {
    uint8_t* bytes = nullptr;
    size_t size = 0;
    Image() = default;
    Image(const Image&) = delete;
    Image& operator=(const Image&) = delete;
    ~Image() {
        if (bytes != nullptr) g_fileOps.release(bytes);
    }
};

bool ReadWhole(FILE* file, Image* image) {
    uint8_t* bytes = nullptr;
    uint32_t size = 0;
    if (ReadWholeFile(file, &bytes, &size) != READ_WHOLE) return false;
    image->bytes = bytes;
    image->size = size;
    return true;
}

bool IsFile(const char* name) {
    const FileFacts facts = g_fileOps.inspect(name);
    return facts.exists && !facts.directory;
}

// The copy to put back: the original as first found, or else the last run's backup.
bool ChooseCopy(const char* target, char (&copy)[PATCH_TEXT_SIZE]) {
    static const char* const SUFFIXES[] = {".orig", ".bak"};
    for (const char* suffix : SUFFIXES) {
        strcpy_s(copy, target);
        strcat_s(copy, suffix);
        if (copy[0] != '\0' && IsFile(copy)) return true;
    }
    copy[0] = '\0';
    return false;
}

// Reads the copy with no write access: it is only ever read here, and stays as it is.
bool ReadCopy(const char* name, Image* image) {
    FILE* file = std::fopen(name, "rb");
    if (file == nullptr) return false;
    const bool read = ReadWhole(file, image);
    g_fileOps.close(file);
    return read;
}

// A shorter copy leaves the target's tail behind its end, which must go too.
bool CutTo(FILE* file, size_t size) {
    if (g_fileOps.flush(file) != 0) return false;
#ifdef _WIN32
    return _chsize_s(_fileno(file), static_cast<long long>(size)) == 0;
#else
    return ftruncate(fileno(file), static_cast<off_t>(size)) == 0;
#endif
}

// Whether the byte at `at` lies in what `rule` writes at some occurrence of its pattern in
// either image. Only the few positions whose writes can reach `at` are looked at.
bool RuleMayHaveWritten(PatchRule rule, size_t at, const uint8_t* target, const uint8_t* copy, size_t size) {
    const BytePattern& pattern = RulePattern(rule);
    const RuleWriteSpan span = RuleWrites(rule);
    if (pattern.length == 0 || size < pattern.length) return false;
    const size_t lastStart = size - pattern.length;
    for (size_t k = span.offset; k < static_cast<size_t>(span.offset) + span.length; ++k) {
        if (at < k) break;
        const size_t start = at - k;
        if (start > lastStart) continue;
        if (MatchesAt(copy + start, pattern) || MatchesAt(target + start, pattern)) return true;
    }
    return false;
}

void Fail(RestoreResult* result, RestoreOutcome outcome) { result->outcome = outcome; }

}  // namespace

bool IsPatchedFormOf(const uint8_t* target, size_t targetSize, const uint8_t* copy, size_t copySize,
                     size_t* firstForeign) {
    if (targetSize != copySize) {
        if (firstForeign != nullptr) *firstForeign = targetSize < copySize ? targetSize : copySize;
        return false;
    }
    for (size_t at = 0; at < targetSize; ++at) {
        if (target[at] == copy[at]) continue;
        bool explained = false;
        for (int rule = 0; rule < RULE_COUNT && !explained; ++rule) {
            explained = RuleMayHaveWritten(static_cast<PatchRule>(rule), at, target, copy, targetSize);
        }
        if (!explained) {
            if (firstForeign != nullptr) *firstForeign = at;
            return false;
        }
    }
    return true;
}

void RunRestore(bool force, RestoreResult* result, const char* exe) {
    *result = RestoreResult();
    ProbeCandidates(exe, result->target_name, result->candidates, &result->files);
    const char* name = result->target_name;
    if (name[0] == '\0') {
        FormatNoTargetText(result->candidates, result->text);
        return Fail(result, RESTORE_NO_TARGET);
    }

    if (!ChooseCopy(name, result->copy_name)) {
        sprintf_s(result->text, "Nothing was changed!\r\n\r\n%s has no copy to\r\nrestore: no %s.orig\r\nand no %s.bak.",
                  name, name, name);
        return Fail(result, RESTORE_NO_COPY);
    }
    const char* copyName = result->copy_name;

    OpenReason reason = OPEN_FAILED;
    FILE* target = OpenForUpdate(name, &reason);
    if (target == nullptr) {
        sprintf_s(result->text, "Nothing was changed!\r\n\r\n%s could not be\r\nopened again: %s.", name,
                  OpenReasonText(reason)[0] != '\0' ? OpenReasonText(reason) : "cannot be opened");
        return Fail(result, RESTORE_NOT_READ);
    }
    Image current, copy;
    if (!ReadWhole(target, &current)) {
        g_fileOps.close(target);
        sprintf_s(result->text, "Nothing was changed!\r\n\r\n%s could not\r\nbe read whole.", name);
        return Fail(result, RESTORE_NOT_READ);
    }
    if (!ReadCopy(copyName, &copy)) {
        g_fileOps.close(target);
        sprintf_s(result->text, "Nothing was changed!\r\n\r\n%s could not\r\nbe read whole.", copyName);
        return Fail(result, RESTORE_NOT_READ);
    }

    size_t foreign = 0;
    if (!force && !IsPatchedFormOf(current.bytes, current.size, copy.bytes, copy.size, &foreign)) {
        g_fileOps.close(target);
        // Both images are under 4 GiB (ReadWhole refuses more), so sizes and offsets fit an
        // unsigned long on every build: the msvcrt of Windows XP formats no %ll.
        if (current.size != copy.size) {
            sprintf_s(result->text,
                      "Nothing was changed!\r\n\r\n%s is not a patched\r\nform of %s:\r\nthe sizes differ (%lu and %lu bytes).",
                      name, copyName, static_cast<unsigned long>(current.size), static_cast<unsigned long>(copy.size));
        } else {
            sprintf_s(result->text,
                      "Nothing was changed!\r\n\r\n%s is not a patched\r\nform of %s:\r\nbyte 0x%lX differs outside the patches.",
                      name, copyName, static_cast<unsigned long>(foreign));
        }
        return Fail(result, RESTORE_REFUSED);
    }

    if (current.size == copy.size && (copy.size == 0 || std::memcmp(current.bytes, copy.bytes, copy.size) == 0)) {
        // Already the copy's bytes: writing them again would only change the file's time.
        g_fileOps.close(target);
        sprintf_s(result->text, "Restored %s\r\nfrom %s.\r\n\r\nIt held those bytes already.", name, copyName);
        result->outcome = RESTORE_DONE;
        return;
    }

    bool written = g_fileOps.rewind(target) && WriteWhole(target, copy.bytes, copy.size);
    if (written && copy.size < current.size) written = CutTo(target, copy.size);
    written = written && CommitFile(target);
    written = (g_fileOps.close(target) == 0) && written;
    if (!written) {
        sprintf_s(result->text, "Writing %s failed!\r\n\r\n%s is kept:\r\nrestore again, or copy it\r\nover %s.", name,
                  copyName, name);
        return Fail(result, RESTORE_WRITE_FAILED);
    }
    sprintf_s(result->text, "Restored %s\r\nfrom %s.\r\n\r\n%s is kept.", name, copyName, copyName);
    result->outcome = RESTORE_DONE;
}
