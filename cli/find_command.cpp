#include "find_command.h"

#include <cstdlib>

#include "console_platform.h"
#include "exit_codes.h"
#include "game_search.h"
#include "json_text.h"
#include "no_target_report.h"
#include "patch_state.h"
#include "shell_text.h"

namespace {

std::string Variable(const char* name) {
    const char* value = std::getenv(name);
    return value != nullptr ? value : "";
}

}  // namespace

int RunFindCommand(const std::string& dir, bool json, std::string* output, std::string* messages) {
    GameSearch search;
    if (dir.empty()) {
        SearchUsualPlaces(UsualPlaces(console::HomeFolder(), Variable("WINEPREFIX")), &search);
    } else {
        SearchBelow(dir, &search);
    }
    const int code = search.games.empty() ? EXIT_NO_TARGET : EXIT_DONE;
    const char NOTHING_FOUND[] = "No Velmora 2345 game was found.";

    std::string& out = *output;
    out.clear();
    messages->clear();
    if (json) {
        out = JsonObjectHead("find") + "  \"games\": [";
        for (size_t i = 0; i < search.games.size(); ++i) {
            const FoundGame& game = search.games[i];
            const GameState state = StateOfGame(game.folder.c_str(), game.exe.c_str());
            out += (i == 0 ? "\n" : ",\n");
            out += "    {\"folder\": " + JsonString(game.folder) + ", \"target\": " + JsonString(game.exe) +
                   ", \"state\": \"" + GameStateWord(state) + "\"}";
        }
        out += search.games.empty() ? "],\n" : "\n  ],\n";
        out += "  \"searched\": [";
        for (size_t i = 0; i < search.searched.size(); ++i) {
            out += (i == 0 ? "" : ", ") + JsonString(search.searched[i]);
        }
        out += "],\n";
        const std::string error = search.games.empty() ? JsonError("no_game", NOTHING_FOUND) : "";
        out += JsonObjectTail(dir, "", error, code);
        return code;
    }

    for (const FoundGame& game : search.games) {
        const GameState state = StateOfGame(game.folder.c_str(), game.exe.c_str());
        out += QuotedPath(game.folder) + "  " + game.exe + "  " + GameStateWord(state) + "\n";
    }
    if (search.games.empty()) {
        std::string& text = *messages;
        text += std::string(NOTHING_FOUND) + "\n";
        if (search.searched.empty()) {
            text += console::NO_FIND_PLACE;
        } else {
            text += "Searched:\n";
            for (const std::string& place : search.searched) text += "  " + QuotedPath(place) + "\n";
        }
    }
    return code;
}
