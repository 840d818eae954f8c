// Where Windows' players keep games: the registry's Steam and GOG folders and the GOG
// folders of the installers, for --find (platform.h).
#ifdef _WIN32

#include <windows.h>

#include "platform.h"
#include "system_dlls.h"

// Where the stores' own programs wrote their install folders: Steam's folder
// (HKCU\Software\Valve\Steam) and each GOG game's (HKLM\SOFTWARE\WOW6432Node\GOG.com\Games\<id>).
namespace {

// The registry's functions, from advapi32.dll in the system folder: it is no import of
// the program's, so its import table keeps to the Known DLLs.
struct Registry {
    decltype(&RegOpenKeyExA) open = nullptr;
    decltype(&RegQueryValueExA) query = nullptr;
    decltype(&RegEnumKeyExA) enumerate = nullptr;
    decltype(&RegCloseKey) close = nullptr;

    Registry() {
        const HMODULE advapi32 = LoadSystemDll("advapi32.dll");
        if (advapi32 == nullptr) return;
        open = Function<decltype(open)>(advapi32, "RegOpenKeyExA");
        query = Function<decltype(query)>(advapi32, "RegQueryValueExA");
        enumerate = Function<decltype(enumerate)>(advapi32, "RegEnumKeyExA");
        close = Function<decltype(close)>(advapi32, "RegCloseKey");
    }
    bool Usable() const { return open != nullptr && query != nullptr && enumerate != nullptr && close != nullptr; }

    // The text value `name` of `key` below `root`; empty when it is not there or no text.
    std::string Text(HKEY root, const std::string& key, const char* name) const {
        HKEY opened;
        if (!Usable() || open(root, key.c_str(), 0, KEY_READ, &opened) != ERROR_SUCCESS) return "";
        char value[MAX_PATH * 2];
        DWORD type = 0, size = sizeof value - 1;
        const LONG read = query(opened, name, nullptr, &type, reinterpret_cast<BYTE*>(value), &size);
        close(opened);
        if (read != ERROR_SUCCESS || (type != REG_SZ && type != REG_EXPAND_SZ) || size >= sizeof value) return "";
        // A value need not end in its terminator.
        value[size] = '\0';
        return value;
    }

    // The names of the keys below `key`.
    std::vector<std::string> Subkeys(HKEY root, const char* key) const {
        std::vector<std::string> names;
        HKEY opened;
        if (!Usable() || open(root, key, 0, KEY_READ, &opened) != ERROR_SUCCESS) return names;
        char name[256];
        for (DWORD i = 0;; ++i) {
            DWORD length = sizeof name;
            if (enumerate(opened, i, name, &length, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) break;
            names.emplace_back(name, length);
        }
        close(opened);
        return names;
    }

private:
    template <typename T>
    static T Function(HMODULE module, const char* name) {
        return reinterpret_cast<T>(reinterpret_cast<void*>(GetProcAddress(module, name)));
    }
};

void AddFolder(std::vector<std::string>* folders, std::string folder) {
    for (char& c : folder) {
        if (c == '/') c = '\\';
    }
    if (!folder.empty()) folders->push_back(folder);
}


std::vector<std::string> SteamFoldersInRegistry() {
    const Registry registry;
    std::vector<std::string> folders;
    AddFolder(&folders, registry.Text(HKEY_CURRENT_USER, "Software\\Valve\\Steam", "SteamPath"));
    AddFolder(&folders, registry.Text(HKEY_LOCAL_MACHINE, "SOFTWARE\\WOW6432Node\\Valve\\Steam", "InstallPath"));
    AddFolder(&folders, registry.Text(HKEY_LOCAL_MACHINE, "SOFTWARE\\Valve\\Steam", "InstallPath"));
    return folders;
}

std::vector<std::string> GogGameFoldersInRegistry() {
    const Registry registry;
    std::vector<std::string> folders;
    // The 32-bit key of a 64-bit Windows, and the key of a 32-bit one (where the 32-bit
    // program on a 64-bit Windows is led to the first).
    for (const char* games : {"SOFTWARE\\WOW6432Node\\GOG.com\\Games", "SOFTWARE\\GOG.com\\Games"}) {
        for (const std::string& id : registry.Subkeys(HKEY_LOCAL_MACHINE, games)) {
            AddFolder(&folders, registry.Text(HKEY_LOCAL_MACHINE, std::string(games) + "\\" + id, "path"));
        }
    }
    return folders;
}

std::string Variable(const char* name) {
    char buffer[platform::FOLDER_PATH_SIZE];
    return platform::FolderOfVariable(name, buffer);
}

}  // namespace

namespace platform {

SearchPlaces UsualPlaces(const std::string&, const std::string&) {
    SearchPlaces places;
    places.steamRoots = SteamFoldersInRegistry();
    for (const std::string& folder : GogGameFoldersInRegistry()) places.places.push_back({PlaceKind::GAME_FOLDER, folder});
    // GOG's installers default to <system drive>\GOG Games\<game>, GOG Galaxy to its own
    // Games folder.
    const std::string drive = Variable("SystemDrive");
    places.places.push_back({PlaceKind::GAME_COLLECTION, (drive.empty() ? "C:" : drive) + "\\GOG Games"});
    for (const char* variable : {"ProgramFiles(x86)", "ProgramFiles"}) {
        const std::string programs = Variable(variable);
        if (programs.empty()) continue;
        places.steamRoots.push_back(programs + "\\Steam");
        places.places.push_back({PlaceKind::GAME_COLLECTION, programs + "\\GOG Galaxy\\Games"});
    }
    return places;
}

}  // namespace platform

#endif  // _WIN32
