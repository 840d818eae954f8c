#include "bounded_text.h"
#include "json_text.h"

#include <cstdio>

#include "utf8_text.h"

// ASCII only: every other character as \uXXXX (a pair of them above U+FFFF), and each byte
// that is not part of well-formed UTF-8 as the lone surrogate U+DC00 + byte, as Python's
// "surrogateescape" writes it: the object is valid JSON whatever bytes a name holds, and a
// script gets the name's very bytes back.
std::string JsonString(const std::string& text) {
    std::string quoted = "\"";
    for (size_t at = 0; at < text.size(); ++at) {
        const char c = text[at];
        const unsigned char u = static_cast<unsigned char>(c);
        if (u >= 0x80) {
            unsigned long code = 0xDC00 + u;
            const size_t length = DecodeUtf8(text.data(), text.size(), at, &code);
            if (length != 0) at += length - 1;
            char escaped[32];
            if (code > 0xFFFF) {
                code -= 0x10000;
                sprintf_s(escaped, "\\u%04lX\\u%04lX", 0xD800 + (code >> 10), 0xDC00 + (code & 0x3FF));
            } else {
                sprintf_s(escaped, "\\u%04lX", code);
            }
            quoted += escaped;
        } else if (c == '"' || c == '\\') {
            quoted += '\\';
            quoted += c;
        } else if (c == '\n') {
            quoted += "\\n";
        } else if (u < 0x20 || u == 0x7F) {
            char escaped[8];
            sprintf_s(escaped, "\\u%04X", u);
            quoted += escaped;
        } else {
            quoted += c;
        }
    }
    return quoted + "\"";
}

std::string JsonObjectHead(const char* command) {
    return "{\n  \"schema\": " + std::to_string(JSON_SCHEMA_VERSION) + ",\n  \"command\": " +
           (command != nullptr ? JsonString(command) : std::string("null")) + ",\n";
}

std::string JsonObjectTail(const std::string& folder, const std::string& target, const std::string& error,
                           int exitCode) {
    return "  \"folder\": " + JsonStringOrNull(folder) + ",\n  \"target\": " + JsonStringOrNull(target) +
           ",\n  \"error\": " + (error.empty() ? std::string("null") : error) + ",\n  \"exit_code\": " +
           std::to_string(exitCode) + "\n}\n";
}

std::string JsonError(const std::string& code, const std::string& text) {
    return "{\"code\": " + JsonString(code) + ", \"text\": " + JsonString(text) + "}";
}

std::string JsonStringOrNull(const std::string& text) { return text.empty() ? "null" : JsonString(text); }
