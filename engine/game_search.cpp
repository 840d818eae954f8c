#include "game_search.h"

#include <algorithm>
#include <cstdio>
#include <map>
#include <utility>

#include "candidate_names.h"
#include "launcher_lists.h"
#include "platform.h"
#include "target_file.h"
#include "vdf_text.h"

namespace {

const char SEPARATOR = platform::PATH_SEPARATOR;

// Levels from a collection to its game folders and prefixes (~/Games/Heroic/<game>), and
// from a library's compatdata to its prefixes (compatdata/<app>/pfx).
const int COLLECTION_DEPTH = 2;
const int COMPATDATA_DEPTH = 2;

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

// The whole file, when it is no larger than `limit`: a list cut off would be read wrong.
bool ReadText(const std::string& path, size_t limit, std::string* text) {
    FILE* file = std::fopen(path.c_str(), "rb");
    if (file == nullptr) return false;
    char buffer[4096];
    size_t count;
    text->clear();
    while ((count = std::fread(buffer, 1, sizeof buffer, file)) > 0 && text->size() <= limit) {
        text->append(buffer, count);
    }
    const bool read = !std::ferror(file) && text->size() <= limit;
    std::fclose(file);
    return read;
}

// A Steam library list is a few kilobytes; the launchers' lists grow with the games.
const size_t LIBRARY_LIST_LIMIT = 1u << 20;
const size_t LAUNCHER_LIST_LIMIT = 64u << 20;

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

    // Searches `folder` and `depth` levels below it; a place of its own, listed as searched.
    void Search(const std::string& folder, int depth) {
        if (!IsFolder(folder) || Reached(folder)) return;
        result_->searched.push_back(folder);
        start_ = RealPath(folder);
        Walk(folder, depth);
    }

    // Searches the game folders of the Steam library `library` and its Proton prefixes.
    void SearchLibrary(const std::string& library) {
        const std::string steamapps = Joined(library, "steamapps");
        Search(Joined(steamapps, "common"), 1 + GAME_DEPTH);
        Search(Joined(steamapps, "compatdata"), COMPATDATA_DEPTH);
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
        // A Wine prefix: its games are in drive_c, and its other folders (dosdevices, whose
        // links lead to drive_c and to the root) hold none.
        const std::string drive = Joined(folder, "drive_c");
        if (IsFolder(drive)) {
            Walk(drive, std::max(depth - 1, GAME_DEPTH));
            return;
        }
        // A Steam library, as on a memory card or a second disk, at whatever level.
        if (IsFolder(Joined(folder, "steamapps"))) {
            const std::string steamapps = Joined(folder, "steamapps");
            Walk(Joined(steamapps, "common"), std::max(depth - 2, 1 + GAME_DEPTH));
            Walk(Joined(steamapps, "compatdata"), std::max(depth - 2, COMPATDATA_DEPTH));
            return;
        }
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
        if (!ReadText(Joined(Joined(steamRoot, list), "libraryfolders.vdf"), LIBRARY_LIST_LIMIT, &text)) continue;
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
    return platform::UsualPlaces(home, winePrefix);
}

namespace {

#ifndef _WIN32
// The game folders that a launcher's list names; none when it is not there or not read.
std::vector<std::string> ListedFolders(const SearchPlace& list) {
    std::string text;
    if (!ReadText(list.path, LAUNCHER_LIST_LIMIT, &text)) return {};
    switch (list.kind) {
        case PlaceKind::HEROIC_LIST: return HeroicInstallPaths(text.data(), text.size());
        case PlaceKind::LEGENDARY_LIST: return LegendaryInstallPaths(text.data(), text.size());
        case PlaceKind::LUTRIS_DATABASE:
            return LutrisGameFolders(reinterpret_cast<const unsigned char*>(text.data()), text.size());
        default: return {};
    }
}
#endif

void SearchOne(Walker* walker, const SearchPlace& place) {
    switch (place.kind) {
        case PlaceKind::GAME_FOLDER:
        case PlaceKind::WINE_DRIVE: walker->Search(place.path, GAME_DEPTH); break;
        case PlaceKind::GAME_COLLECTION: walker->Search(place.path, COLLECTION_DEPTH + GAME_DEPTH); break;
        // Each bottle is a prefix: the walk goes on into its drive_c.
        case PlaceKind::PREFIX_COLLECTION: walker->Search(place.path, 1); break;
        default:
#ifndef _WIN32
            for (const std::string& folder : ListedFolders(place)) walker->Search(folder, GAME_DEPTH);
#endif
            break;
    }
}

}  // namespace

void SearchUsualPlaces(const SearchPlaces& places, GameSearch* result) {
    Walker walker(result);
    std::vector<std::string> libraries;
    for (const std::string& root : places.steamRoots) {
        if (!IsFolder(root)) continue;
        for (const std::string& library : LibrariesOf(root)) AddLibrary(&libraries, library);
    }
    // ~/.steam/steam is most often a link to ~/.local/share/Steam: one library, once.
    for (const std::string& library : libraries) walker.SearchLibrary(library);
    for (const SearchPlace& place : places.places) SearchOne(&walker, place);
}

void SearchBelow(const std::string& folder, GameSearch* result, int depth) {
    Walker walker(result);
    walker.Search(folder, depth);
}
