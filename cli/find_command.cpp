#include "find_command.h"

#include <cstdlib>

#include "console_platform.h"
#include "exit_codes.h"
#include "game_search.h"
#include "json_text.h"
#include "no_target_report.h"
#include "patch_state.h"

namespace {

std::string Variable(const char* name) {
    const char* value = std::getenv(name);
    return value != nullptr ? value : "";
}

}  // namespace

int RunFindCommand(const std::string& dir, bool json, std::string* output) {
    GameSearch search;
    if (dir.empty()) {
        SearchUsualPlaces(UsualPlaces(console::HomeFolder(), Variable("WINEPREFIX")), &search);
    } else {
        SearchBelow(dir, &search);
    }
    const int code = search.games.empty() ? EXIT_NO_TARGET : EXIT_DONE;

    std::string& out = *output;
    if (json) {
        out = JsonObjectHead() + "  \"games\": [";
        for (size_t i = 0; i < search.games.size(); ++i) {
            const FoundGame& game = search.games[i];
            const GameState state = StateOfGame(game.folder.c_str(), game.exe.c_str());
            out += (i == 0 ? "\n" : ",\n");
            out += "    {\"folder\": " + JsonString(game.folder) + ", \"exe\": " + JsonString(game.exe) +
                   ", \"state\": \"" + GameStateWord(state) + "\"}";
        }
        out += search.games.empty() ? "],\n" : "\n  ],\n";
        out += "  \"exit_code\": " + std::to_string(code) + "\n}\n";
        return code;
    }

    out.clear();
    for (const FoundGame& game : search.games) {
        const GameState state = StateOfGame(game.folder.c_str(), game.exe.c_str());
        out += QuotedPath(game.folder) + "  " + game.exe + "  " + GameStateWord(state) + "\n";
    }
    if (search.games.empty()) {
        out += "No Velmora 2345 game was found.\n";
        if (search.searched.empty()) {
            out += dir.empty() ? console::NO_FIND_PLACE : "There is no folder " + QuotedPath(dir) + ".\n";
        } else {
            out += "Searched:\n";
            for (const std::string& place : search.searched) out += "  " + QuotedPath(place) + "\n";
        }
    }
    return code;
}
