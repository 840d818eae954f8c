#include "game_search.h"

#include <algorithm>
#include <cstdio>
#include <map>
#include <utility>

#include "candidate_names.h"
#include "target_file.h"
#include "vdf_text.h"

#include "platform.h"

namespace {

const char SEPARATOR = platform::PATH_SEPARATOR;

// Levels searched below a game folder of a Steam library, below drive_c, below DIR.
const int STEAM_GAME_DEPTH = 2;
const int WINE_DEPTH = 4;
const int BELOW_DEPTH = 4;

std::string Joined(const std::string& folder, const std::string& name) {
    if (folder.empty()) return name;
    const char last = folder.back();
    if (last == '/' || last == SEPARATOR) return folder + name;
    return folder + SEPARATOR + name;
}

bool IsFolder(const std::string& path) {
    const FileFacts facts = g_fileOps.inspect(path.c_str());
    return facts.exists && facts.directory;
}

bool ReadText(const std::string& path, std::string* text) {
    FILE* file = std::fopen(path.c_str(), "rb");
    if (file == nullptr) return false;
    char buffer[4096];
    size_t count;
    text->clear();
    // A library list is a few kilobytes; anything past a megabyte is not one.
    while ((count = std::fread(buffer, 1, sizeof buffer, file)) > 0 && text->size() < (1u << 20)) {
        text->append(buffer, count);
    }
    const bool read = !std::ferror(file);
    std::fclose(file);
    return read;
}

// The names of the folders in `folder`, links to folders included, sorted so that the
// output does not depend on the file system's order.
std::vector<std::string> SubfoldersOf(const std::string& folder) {
    std::vector<std::string> names;
    platform::ListSubfolders(
        folder.c_str(), [](const char* name, void* list) { static_cast<std::vector<std::string>*>(list)->push_back(name); },
        &names);
    std::sort(names.begin(), names.end());
    return names;
}

class Walker {
public:
    explicit Walker(GameSearch* result) : result_(result) {}

    // Searches `folder` and `depth` levels below it.
    void Search(const std::string& folder, int depth) {
        start_ = RealPath(folder);
        Walk(folder, depth);
    }

    // Whether `folder` is one already searched, under this or another name.
    bool Reached(const std::string& folder) const {
        const FileIdentity identity = g_fileOps.identify(folder.c_str());
        return identity.exists && reached_.count(std::make_pair(identity.volume, identity.index)) != 0;
    }

private:
    static std::string RealPath(const std::string& folder) {
        char path[platform::FOLDER_PATH_SIZE];
        return platform::RealPathOf(folder.c_str(), path);
    }

    // A link to the folder the search started in, or to one above it (the root itself),
    // would search the whole tree again from higher up.
    bool LeadsBackUp(const std::string& folder) const {
        const std::string real = RealPath(folder);
        if (real.empty() || start_.empty()) return false;
        if (real == "/" || real == start_) return true;
        return start_.compare(0, real.size(), real) == 0 && start_[real.size()] == '/';
    }

    void Walk(const std::string& folder, int depth) {
        const FileIdentity identity = g_fileOps.identify(folder.c_str());
        if (!identity.exists || identity.regular) return;
        // Seen already from as deep or deeper: a link back up, or a second name. Seen with
        // fewer levels left: only the levels not yet searched are new.
        const std::pair<uint64_t, uint64_t> key(identity.volume, identity.index);
        const auto seen = reached_.find(key);
        if (seen != reached_.end() && seen->second >= depth) return;
        const bool first = seen == reached_.end();
        reached_[key] = depth;
        if (first) Record(folder);
        if (depth == 0) return;
        for (const std::string& name : SubfoldersOf(folder)) {
            const std::string below = Joined(folder, name);
            if (!LeadsBackUp(below)) Walk(below, depth - 1);
        }
    }

    void Record(const std::string& folder) {
        CandidateFiles files;
        ListCandidateNames(folder.c_str(), nullptr, &files);
        // The patcher's choice is the last candidate that is there; every name of it when
        // it is there under names that differ only in case.
        int chosen = -1;
        std::vector<std::string> names;
        for (int i = 0; i < files.count; ++i) {
            const CandidateFile& file = files.files[i];
            // Only a file that is there: a folder that cannot be listed yields the names
            // unseen, and one that cannot be looked into says nothing of them.
            if (!g_fileOps.identify(Joined(folder, file.name).c_str()).regular) continue;
            if (file.candidate != chosen) names.clear();
            chosen = file.candidate;
            names.push_back(file.name);
        }
        for (const std::string& name : names) result_->games.push_back({folder, name});
    }

    GameSearch* result_;
    std::string start_;  // where the current search started, links resolved
    std::map<std::pair<uint64_t, uint64_t>, int> reached_;
};

void AddLibrary(std::vector<std::string>* libraries, const std::string& folder) {
    if (folder.empty()) return;
    if (std::find(libraries->begin(), libraries->end(), folder) == libraries->end()) libraries->push_back(folder);
}

// The Steam folder itself is a library even where its list leaves it out (the old form did).
std::vector<std::string> LibrariesOf(const std::string& steamRoot) {
    std::vector<std::string> libraries;
    AddLibrary(&libraries, steamRoot);
    for (const char* list : {"steamapps", "config"}) {
        std::string text, error;
        std::vector<std::string> folders;
        if (!ReadText(Joined(Joined(steamRoot, list), "libraryfolders.vdf"), &text)) continue;
        if (!LibraryFoldersOf(text, &folders, &error)) continue;
        for (const std::string& folder : folders) AddLibrary(&libraries, folder);
    }
    return libraries;
}

bool IsNumber(const std::string& text) {
    if (text.empty()) return false;
    for (const char c : text) {
        if (c < '0' || c > '9') return false;
    }
    return true;
}

}  // namespace

bool LibraryFoldersOf(const std::string& vdfText, std::vector<std::string>* folders, std::string* error) {
    folders->clear();
    VdfNode root;
    if (!ParseVdf(vdfText, &root, error)) return false;
    const VdfNode* list = root.Child("libraryfolders");
    if (list == nullptr || !list->block) {
        *error = "no libraryfolders block";
        return false;
    }
    // Libraries are the numbered entries; the others (contentstatsid, TimeNextStatsReport)
    // are Steam's bookkeeping.
    for (const VdfNode& entry : list->children) {
        if (!IsNumber(entry.key)) continue;
        if (!entry.block) {
            if (!entry.value.empty()) folders->push_back(entry.value);
            continue;
        }
        const VdfNode* path = entry.Child("path");
        if (path != nullptr && !path->block && !path->value.empty()) folders->push_back(path->value);
    }
    return true;
}

SearchPlaces UsualPlaces(const std::string& home, const std::string& winePrefix) {
    SearchPlaces places;
#ifdef _WIN32
    (void)home;
    (void)winePrefix;
    for (const char* variable : {"ProgramFiles(x86)", "ProgramFiles"}) {
        char buffer[platform::FOLDER_PATH_SIZE];
        const std::string folder = platform::FolderOfVariable(variable, buffer);
        if (!folder.empty()) places.steamRoots.push_back(Joined(folder, "Steam"));
    }
#else
    if (!home.empty()) {
        const std::string flatpak = Joined(home, ".var/app/com.valvesoftware.Steam");
        for (const std::string& root :
             {Joined(home, ".steam/steam"), Joined(home, ".local/share/Steam"), Joined(home, ".steam/debian-installation"),
              Joined(flatpak, ".local/share/Steam"), Joined(flatpak, "data/Steam"), Joined(flatpak, ".steam/steam")}) {
            places.steamRoots.push_back(root);
        }
    }
    if (!winePrefix.empty()) places.wineDrives.push_back(Joined(winePrefix, "drive_c"));
    if (!home.empty()) places.wineDrives.push_back(Joined(home, ".wine/drive_c"));
#endif
    return places;
}

void SearchUsualPlaces(const SearchPlaces& places, GameSearch* result) {
    Walker walker(result);
    std::vector<std::string> libraries;
    for (const std::string& root : places.steamRoots) {
        if (!IsFolder(root)) continue;
        for (const std::string& library : LibrariesOf(root)) AddLibrary(&libraries, library);
    }
    for (const std::string& library : libraries) {
        const std::string common = Joined(Joined(library, "steamapps"), "common");
        // ~/.steam/steam is most often a link to ~/.local/share/Steam: one library, once.
        if (!IsFolder(common) || walker.Reached(common)) continue;
        result->searched.push_back(common);
        walker.Search(common, STEAM_GAME_DEPTH + 1);
    }
    for (const std::string& drive : places.wineDrives) {
        if (!IsFolder(drive) || walker.Reached(drive)) continue;
        result->searched.push_back(drive);
        walker.Search(drive, WINE_DEPTH);
    }
}

void SearchBelow(const std::string& folder, GameSearch* result) {
    Walker walker(result);
    if (!IsFolder(folder)) return;
    result->searched.push_back(folder);
    walker.Search(folder, BELOW_DEPTH);
}
