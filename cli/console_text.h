#pragma once
// How velmora-patch's text reaches the terminal: in UTF-8 only where the terminal's charset
// is UTF-8, otherwise in plain ASCII; and with names from the disk or the command line
// quoted, so that a control character in one cannot move the cursor or fake a line.

#include <cstddef>
#include <string>


// The charset of everything printed from now on; ASCII until set.
void SetUtf8Output(bool utf8);

// "→" or "->", "…" or "...", as the charset allows.
const char* ArrowText();
const char* EllipsisText();

// The text in double quotes, with \" and \\ for the quote and backslash, \n, \r, \t and
// \xHH for the other control characters, and \xHH for every byte above 0x7F unless the
// output is UTF-8.
std::string Quoted(const std::string& text);

// The length of the well-formed UTF-8 sequence at text[at], with its character in *code;
// 0 when the bytes there are not one.
size_t DecodeUtf8(const std::string& text, size_t at, unsigned long* code);
