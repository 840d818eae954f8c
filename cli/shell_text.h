#pragma once
// The paths and words that velmora-patch prints for the player to read or to paste: every
// command quotes them here, through the one quoter behind the platform header.

#include <string>

// `text` quoted for the player's shell (platform::QuoteForShell): seen whole, unable to
// move the cursor, and pasted it names that very file and runs nothing.
std::string QuotedPath(const std::string& text);
