#include "launcher_lists.h"

#ifndef _WIN32

#include <nlohmann/json.hpp>

namespace {

// The list as a JSON value; discarded when it is not JSON (a list cut short by a full disk,
// a name that is not UTF-8). Parsing never throws: the program is built without exceptions.
nlohmann::json Parsed(const char* text, size_t size) {
    if (text == nullptr) return nlohmann::json(nlohmann::json::value_t::discarded);
    return nlohmann::json::parse(text, text + size, nullptr, false);
}

void AddInstallPath(const nlohmann::json& game, std::vector<std::string>* paths) {
    if (!game.is_object()) return;
    const auto path = game.find("install_path");
    if (path == game.end() || !path->is_string()) return;
    const std::string& folder = path->get_ref<const std::string&>();
    if (!folder.empty()) paths->push_back(folder);
}

}  // namespace

std::vector<std::string> HeroicInstallPaths(const char* text, size_t size) {
    std::vector<std::string> paths;
    const nlohmann::json list = Parsed(text, size);
    if (!list.is_object()) return paths;
    const auto installed = list.find("installed");
    if (installed == list.end() || !installed->is_array()) return paths;
    for (const nlohmann::json& game : *installed) AddInstallPath(game, &paths);
    return paths;
}

std::vector<std::string> LegendaryInstallPaths(const char* text, size_t size) {
    std::vector<std::string> paths;
    const nlohmann::json list = Parsed(text, size);
    if (!list.is_object()) return paths;
    for (const nlohmann::json& game : list) AddInstallPath(game, &paths);
    return paths;
}

#endif
