#include "json_value.h"

#include <cstdlib>

namespace {

struct Reader {
    const std::string& text;
    size_t at = 0;
    std::string error;

    bool Fail(const std::string& what) {
        if (error.empty()) error = what + " at offset " + std::to_string(at);
        return false;
    }
    void SkipBlanks() {
        while (at < text.size() && (text[at] == ' ' || text[at] == '\n' || text[at] == '\r' || text[at] == '\t')) ++at;
    }
    bool Take(const char* word) {
        const std::string w = word;
        if (text.compare(at, w.size(), w) != 0) return false;
        at += w.size();
        return true;
    }

    static void AppendUtf8(std::string* out, unsigned code) {
        if (code < 0x80) {
            *out += static_cast<char>(code);
        } else if (code < 0x800) {
            *out += static_cast<char>(0xC0 | (code >> 6));
            *out += static_cast<char>(0x80 | (code & 0x3F));
        } else {
            *out += static_cast<char>(0xE0 | (code >> 12));
            *out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
            *out += static_cast<char>(0x80 | (code & 0x3F));
        }
    }

    bool String(std::string* out) {
        if (at >= text.size() || text[at] != '"') return Fail("string expected");
        ++at;
        while (at < text.size() && text[at] != '"') {
            const unsigned char c = static_cast<unsigned char>(text[at]);
            if (c < 0x20) return Fail("raw control character in a string");
            if (c != '\\') {
                *out += text[at++];
                continue;
            }
            if (++at >= text.size()) return Fail("cut-off escape");
            const char e = text[at++];
            switch (e) {
                case '"': *out += '"'; break;
                case '\\': *out += '\\'; break;
                case '/': *out += '/'; break;
                case 'b': *out += '\b'; break;
                case 'f': *out += '\f'; break;
                case 'n': *out += '\n'; break;
                case 'r': *out += '\r'; break;
                case 't': *out += '\t'; break;
                case 'u': {
                    if (at + 4 > text.size()) return Fail("cut-off \\u escape");
                    char* end = nullptr;
                    const std::string hex = text.substr(at, 4);
                    const unsigned long code = std::strtoul(hex.c_str(), &end, 16);
                    if (end != hex.c_str() + 4) return Fail("bad \\u escape");
                    AppendUtf8(out, static_cast<unsigned>(code));
                    at += 4;
                    break;
                }
                default: return Fail("unknown escape");
            }
        }
        if (at >= text.size()) return Fail("unterminated string");
        ++at;
        return true;
    }

    bool Number(double* out) {
        const size_t start = at;
        if (at < text.size() && text[at] == '-') ++at;
        if (at >= text.size() || text[at] < '0' || text[at] > '9') return Fail("number expected");
        if (text[at] == '0' && at + 1 < text.size() && text[at + 1] >= '0' && text[at + 1] <= '9') {
            return Fail("leading zero");
        }
        while (at < text.size() && ((text[at] >= '0' && text[at] <= '9') || text[at] == '.' || text[at] == 'e' ||
                                    text[at] == 'E' || text[at] == '+' || text[at] == '-')) {
            ++at;
        }
        const std::string digits = text.substr(start, at - start);
        char* end = nullptr;
        *out = std::strtod(digits.c_str(), &end);
        if (end != digits.c_str() + digits.size()) return Fail("bad number");
        return true;
    }

    bool Value(JsonValue* value, int depth) {
        if (depth > 32) return Fail("nested too deep");
        SkipBlanks();
        if (at >= text.size()) return Fail("value expected");
        const char c = text[at];
        if (c == '{') {
            value->kind = JsonValue::OBJECT;
            ++at;
            SkipBlanks();
            if (at < text.size() && text[at] == '}') return ++at, true;
            for (;;) {
                SkipBlanks();
                std::pair<std::string, JsonValue> member;
                if (!String(&member.first)) return false;
                for (const auto& m : value->members) {
                    if (m.first == member.first) return Fail("duplicate key " + member.first);
                }
                SkipBlanks();
                if (!Take(":")) return Fail("':' expected");
                if (!Value(&member.second, depth + 1)) return false;
                value->members.push_back(std::move(member));
                SkipBlanks();
                if (Take("}")) return true;
                if (!Take(",")) return Fail("',' or '}' expected");
            }
        }
        if (c == '[') {
            value->kind = JsonValue::ARRAY;
            ++at;
            SkipBlanks();
            if (at < text.size() && text[at] == ']') return ++at, true;
            for (;;) {
                JsonValue item;
                if (!Value(&item, depth + 1)) return false;
                value->items.push_back(std::move(item));
                SkipBlanks();
                if (Take("]")) return true;
                if (!Take(",")) return Fail("',' or ']' expected");
            }
        }
        if (c == '"') {
            value->kind = JsonValue::STRING;
            return String(&value->text);
        }
        if (Take("true")) return value->kind = JsonValue::BOOLEAN, value->boolean = true, true;
        if (Take("false")) return value->kind = JsonValue::BOOLEAN, value->boolean = false, true;
        if (Take("null")) return value->kind = JsonValue::NUL, true;
        value->kind = JsonValue::NUMBER;
        return Number(&value->number);
    }
};

}  // namespace

const JsonValue& JsonValue::operator[](const std::string& name) const {
    static const JsonValue NONE;
    for (const auto& m : members) {
        if (m.first == name) return m.second;
    }
    return NONE;
}

bool JsonValue::Has(const std::string& name) const {
    for (const auto& m : members) {
        if (m.first == name) return true;
    }
    return false;
}

bool ParseJson(const std::string& text, JsonValue* value, std::string* error) {
    Reader reader{text, 0, std::string()};
    *value = JsonValue();
    bool ok = reader.Value(value, 0);
    if (ok) {
        reader.SkipBlanks();
        if (reader.at != text.size()) ok = reader.Fail("text after the value");
    }
    if (!ok) *error = reader.error;
    return ok;
}
