// Where the players of Linux and the other POSIX systems keep games: below the home
// folder, as Steam, the launchers and Wine lay them out, for --find (platform.h).
#ifndef _WIN32

#include "platform.h"

namespace platform {

SearchPlaces UsualPlaces(const std::string& home, const std::string& winePrefix) {
    SearchPlaces places;
    auto add = [&places](PlaceKind kind, const std::string& path) { places.places.push_back({kind, path}); };
    if (!home.empty()) {
        const std::string flatpak = home + "/.var/app/com.valvesoftware.Steam";
        places.steamRoots = {home + "/.steam/steam",        home + "/.local/share/Steam",
                             home + "/.steam/debian-installation", flatpak + "/.local/share/Steam",
                             flatpak + "/data/Steam",      flatpak + "/.steam/steam",
                             home + "/snap/steam/common/.local/share/Steam"};
        // Heroic keeps its own Legendary's list beside its GOG list; a Legendary of its own
        // keeps one in ~/.config/legendary. The Flatpak has its own ~/.config.
        for (const std::string& config : {home + "/.config", home + "/.var/app/com.heroicgameslauncher.hgl/config"}) {
            add(PlaceKind::HEROIC_LIST, config + "/heroic/gog_store/installed.json");
            add(PlaceKind::LEGENDARY_LIST, config + "/heroic/legendaryConfig/legendary/installed.json");
            add(PlaceKind::LEGENDARY_LIST, config + "/legendary/installed.json");
        }
        add(PlaceKind::LUTRIS_DATABASE, home + "/.local/share/lutris/pga.db");
        add(PlaceKind::LUTRIS_DATABASE, home + "/.var/app/net.lutris.Lutris/data/lutris/pga.db");
        add(PlaceKind::PREFIX_COLLECTION, home + "/.local/share/bottles/bottles");
        add(PlaceKind::PREFIX_COLLECTION, home + "/.var/app/com.usebottles.bottles/data/bottles/bottles");
        add(PlaceKind::GAME_COLLECTION, home + "/Games/Heroic");
        add(PlaceKind::GAME_COLLECTION, home + "/Games");
    }
    if (!winePrefix.empty()) add(PlaceKind::WINE_DRIVE, winePrefix + "/drive_c");
    if (!home.empty()) add(PlaceKind::WINE_DRIVE, home + "/.wine/drive_c");
    return places;
}

}  // namespace platform

#endif  // !_WIN32
