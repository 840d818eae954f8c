// The POSIX side of the console patcher: the locale's charset, the folders of the process
// and of its user.
#ifndef _WIN32

#include "console_platform.h"

#include <pwd.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>

namespace {

// "en_US.UTF-8", "C.utf8", "de_DE.UTF-8@euro": the charset is what follows the dot.
bool NamesUtf8(const char* locale) {
    const char* dot = std::strchr(locale, '.');
    if (dot == nullptr) return false;
    std::string charset;
    for (const char* c = dot + 1; *c != '\0' && *c != '@'; ++c) {
        if (*c == '-' || *c == '_') continue;
        charset += static_cast<char>(*c >= 'A' && *c <= 'Z' ? *c - 'A' + 'a' : *c);
    }
    return charset == "utf8";
}

}  // namespace

namespace console {

bool LocaleIsUtf8() {
    // The first of these that is set and not empty decides, as setlocale(LC_CTYPE, "") does.
    // Read directly: a static program cannot count on the system's locale files.
    for (const char* name : {"LC_ALL", "LC_CTYPE", "LANG"}) {
        const char* value = std::getenv(name);
        if (value != nullptr && value[0] != '\0') return NamesUtf8(value);
    }
    return false;
}

void StartProcess() {}
void EndProcess() {}

bool EnterFolder(const std::string& dir, std::string* why, bool* missing) {
    why->clear();
    *missing = false;
    if (chdir(dir.c_str()) == 0) return true;
    *missing = errno == ENOENT;
    *why = std::strerror(errno);
    return false;
}

std::string CurrentFolder() {
    char folder[PATH_MAX];
    if (getcwd(folder, sizeof folder) == nullptr) return ".";
    return folder;
}

std::string HomeFolder() {
    const char* variable = std::getenv("HOME");
    std::string home = variable != nullptr ? variable : "";
    if (home.empty()) {
        if (const passwd* user = getpwuid(getuid())) home = user->pw_dir != nullptr ? user->pw_dir : "";
    }
    return home;
}

const char HELP_SPELLING[] = "--help";
const char NAMES_IN_ANY_CASE[] = "  (in capitals or small letters alike).\n";
const char NO_FIND_PLACE[] = "There is no Steam library, no game launcher's folder and no Wine prefix here.\n";

}  // namespace console

#endif  // !_WIN32
