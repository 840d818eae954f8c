#pragma once
// The one JSON writer of every command: its strings and the head of its objects.

#include <string>

// The "schema" of every JSON object; it changes only when a key changes its meaning or
// goes away (docs/velmora-patch.schema.json).
enum { JSON_SCHEMA_VERSION = 1 };

// The text as a JSON string, quotes included.
std::string JsonString(const std::string& text);

// "{", a line end and the "schema" member with its comma: how every object begins.
std::string JsonObjectHead();
