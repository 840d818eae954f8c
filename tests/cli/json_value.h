#pragma once
// A small strict JSON reader, enough to check that velmora-patch --json prints one well-formed
// object and to read its values back.

#include <string>
#include <utility>
#include <vector>

struct JsonValue {
    enum Kind { NUL, BOOLEAN, NUMBER, STRING, ARRAY, OBJECT } kind = NUL;
    bool boolean = false;
    double number = 0;
    std::string text;
    std::vector<JsonValue> items;                            // ARRAY
    std::vector<std::pair<std::string, JsonValue>> members;  // OBJECT, in their order

    // The member of that name; a NUL value when there is none (check Has first).
    const JsonValue& operator[](const std::string& name) const;
    bool Has(const std::string& name) const;
};

// Parses the whole text as one value, blanks around it allowed. On failure returns false
// and says where.
bool ParseJson(const std::string& text, JsonValue* value, std::string* error);
