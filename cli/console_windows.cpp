// The Windows side of the console patcher: the console's code page, the DLL search and the
// console of a double click.
#ifdef _WIN32

#include "console_platform.h"

#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

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

namespace {

// The UTF-16 of `text` in memory of its own, which the caller frees; null when there is
// none to be had. No std::wstring: its code would bring in the exception machinery.
wchar_t* WideOf(const std::string& text, int* length) {
    *length = MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
    wchar_t* wide = static_cast<wchar_t*>(std::malloc((static_cast<size_t>(*length) + 1) * sizeof(wchar_t)));
    if (wide == nullptr) return nullptr;
    MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), wide, *length);
    wide[*length] = L'\0';
    return wide;
}

std::string Utf8Of(const wchar_t* text) {
    const int length = WideCharToMultiByte(CP_UTF8, 0, text, -1, nullptr, 0, nullptr, nullptr);
    if (length <= 1) return "";
    std::string utf8(static_cast<size_t>(length - 1), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text, -1, &utf8[0], length, nullptr, nullptr);
    return utf8;
}

bool IsConsole(HANDLE handle) {
    DWORD mode = 0;
    return handle != INVALID_HANDLE_VALUE && GetConsoleMode(handle, &mode) != 0;
}

}  // namespace

// A console shows every character through WriteConsoleW, whatever its code page; a pipe or
// a file gets UTF-8 where the console's code page is UTF-8, else plain ASCII.
bool LocaleIsUtf8() { return IsConsole(GetStdHandle(STD_OUTPUT_HANDLE)) || GetConsoleOutputCP() == CP_UTF8; }

bool Write(FILE* stream, const std::string& text) {
    HANDLE handle = GetStdHandle(stream == stderr ? STD_ERROR_HANDLE : STD_OUTPUT_HANDLE);
    if (!IsConsole(handle)) return std::fwrite(text.data(), 1, text.size(), stream) == text.size() && std::fflush(stream) == 0;
    std::fflush(stream);
    int length = 0;
    wchar_t* wide = WideOf(text, &length);
    DWORD written = 0;
    const bool done = wide != nullptr && WriteConsoleW(handle, wide, static_cast<DWORD>(length), &written, nullptr) != 0 &&
                      written == static_cast<DWORD>(length);
    std::free(wide);
    return done;
}

std::vector<std::string> Arguments(int argc, const wchar_t* const* argv) {
    std::vector<std::string> arguments;
    for (int i = 0; i < argc; ++i) arguments.push_back(Utf8Of(argv[i]));
    return arguments;
}

void StartProcess() { RestrictDllSearch(); }

void EndProcess() {
    // After Ctrl-C or a closed console no one is there to press Enter.
    if (!StopRequested() && OwnsItsConsole()) WaitForEnter();
}

bool EnterFolder(const std::string& dir, std::string* why, bool* missing) {
    why->clear();
    *missing = false;
    int length = 0;
    wchar_t* wide = WideOf(dir, &length);
    const bool entered = wide != nullptr && SetCurrentDirectoryW(wide) != 0;
    const DWORD error = GetLastError();
    std::free(wide);
    if (entered) return true;
    *missing = error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND;
    char text[PATCH_TEXT_SIZE];
    FormatSystemErrorText(error, text);
    *why = text;
    return false;
}

std::string CurrentFolder() {
    wchar_t folder[MAX_PATH + 1];
    const DWORD length = GetCurrentDirectoryW(MAX_PATH + 1, folder);
    if (length == 0 || length > MAX_PATH) return ".";
    return Utf8Of(folder);
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
