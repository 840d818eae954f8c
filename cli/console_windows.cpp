// The Windows side of the console patcher: the console's code page, the DLL search and the
// console of a double click.
#ifdef _WIN32

#include "console_platform.h"

#include <windows.h>

#include <cstdio>
#include <cstdlib>

#include "system_dlls.h"
#include "target_file.h"

namespace {

// Started by a double click, the program has a console of its own, which closes the moment
// it ends: the player would not read a word. Started from a shell, it shares the shell's
// console (two processes or more) and must not wait; with its input not a console (a
// script's pipe or file) there is no one to press Enter either.
bool OwnsItsConsole() {
    DWORD processes[2];
    DWORD mode = 0;
    return GetConsoleProcessList(processes, 2) == 1 && GetConsoleMode(GetStdHandle(STD_INPUT_HANDLE), &mode);
}

void WaitForEnter() {
    std::fputs("\nPress Enter to close this window.", stderr);
    std::fflush(stderr);
    for (int c = std::getchar(); c != EOF && c != '\n'; c = std::getchar()) {
    }
}

}  // namespace

namespace console {

bool LocaleIsUtf8() { return GetConsoleOutputCP() == CP_UTF8; }

void StartProcess() { RestrictDllSearch(); }

void EndProcess() {
    if (OwnsItsConsole()) WaitForEnter();
}

bool EnterFolder(const std::string& dir, std::string* why, bool* missing) {
    why->clear();
    *missing = false;
    if (SetCurrentDirectoryA(dir.c_str()) != 0) return true;
    const DWORD error = GetLastError();
    *missing = error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND;
    char text[PATCH_TEXT_SIZE];
    FormatSystemErrorText(error, text);
    *why = text;
    return false;
}

std::string CurrentFolder() {
    char folder[MAX_PATH + 1];
    const DWORD length = GetCurrentDirectoryA(sizeof folder, folder);
    if (length == 0 || length >= sizeof folder) return ".";
    return folder;
}

std::string HomeFolder() {
    const char* home = std::getenv("HOME");
    return home != nullptr ? home : "";
}

const char HELP_SPELLING[] = "/?";
const char NAMES_IN_ANY_CASE[] = "";
const char NO_FIND_PLACE[] = "There is no Steam library and no GOG game folder here.\n";

}  // namespace console

#endif  // _WIN32
