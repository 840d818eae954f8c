#pragma once
// How velmora-patch's text reaches the terminal: in UTF-8 only where the terminal's charset
// is UTF-8, otherwise in plain ASCII. Names from the disk or the command line go through
// the one quoter, QuotedPath (shell_text.h).

// The charset of everything printed from now on; ASCII until set.
void SetUtf8Output(bool utf8);
bool IsUtf8Output();

// "→" or "->", "…" or "...", as the charset allows.
const char* ArrowText();
const char* EllipsisText();
