#pragma once
// What the console patcher does its own way on each system, declared once:
// console_windows.cpp for Windows, console_posix.cpp for Linux and the other POSIX systems.

#include <string>

namespace console {

// Whether the locale the program runs in has UTF-8 as its charset. Natively: LC_ALL, else
// LC_CTYPE, else LANG, as the C library picks them; on Windows: the console's code page.
bool LocaleIsUtf8();

// What a process does before anything else: on Windows, DLLs only from the system folder.
void StartProcess();
// What it does last: on Windows, a console of its own (a double click) waits for Enter, so
// that the player can read it.
void EndProcess();

// Makes `dir` the current folder; false, with the system's words for why, when it cannot,
// and `missing` set when the reason is that no such folder is there.
bool EnterFolder(const std::string& dir, std::string* why, bool* missing);

// The current folder as a full path; "." when it cannot be told.
std::string CurrentFolder();

// The user's home folder: $HOME, natively else the user's entry in the password file.
std::string HomeFolder();

// The no-target report's line after the names looked for: natively, that their case does
// not matter; empty on Windows, whose file system ignores case anyway.
extern const char NAMES_IN_ANY_CASE[];

// What --find says when none of the system's usual places is there (its own names for
// them: no Wine prefix on Windows).
extern const char NO_FIND_PLACE[];

// The system's own way of asking a program for its help: "/?" on Windows; natively
// "--help" itself.
extern const char HELP_SPELLING[];

}  // namespace console
