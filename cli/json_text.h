#pragma once
// The one JSON writer of every command: its strings and the head of its objects.

#include <string>

// The "schema" of every JSON object; it changes only when a key changes its meaning or
// goes away (docs/velmora-patch.schema.json).
enum { JSON_SCHEMA_VERSION = 2 };

// The text as a JSON string, quotes included.
std::string JsonString(const std::string& text);

// How every object begins: "{", the "schema" and the "command" ("patch", "restore",
// "status", "find", "help", "version"; null for a line refused before it named one).
std::string JsonObjectHead(const char* command);

// How every object ends: the members every command has, the folder it worked in (null:
// none), its target (null: none), `error` (null, or what JsonError gives) and the exit code.
std::string JsonObjectTail(const std::string& folder, const std::string& target, const std::string& error,
                           int exitCode);

// The error object, {"code": ..., "text": ...}; its code is stable, its text for people.
std::string JsonError(const std::string& code, const std::string& text);

// The text as a JSON string, or null when it is empty.
std::string JsonStringOrNull(const std::string& text);
