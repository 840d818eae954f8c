#include "apply_defaults.h"

#include <windows.h>

#include <cstdio>

#include "program_driver.h"
#include "velmora_window.h"

namespace {

enum : DWORD { PAUSE_TIMEOUT_MS = 120000 };

// Tells whoever watches that the screen stands, and waits until they are done with it.
bool Pause(const std::string& pauseFolder, const char* name) {
    if (pauseFolder.empty()) return true;
    const std::string marker = pauseFolder + "\\" + name;
    FILE* file = std::fopen(marker.c_str(), "w");
    if (file == nullptr) {
        std::fprintf(stderr, "cannot write %s\n", marker.c_str());
        return false;
    }
    std::fclose(file);
    return WaitUntil(PAUSE_TIMEOUT_MS, [&] {
        return GetFileAttributesA(marker.c_str()) == INVALID_FILE_ATTRIBUTES;
    });
}

bool ScreenStands(HWND window, const std::vector<PixelCheck>& face, const char* which) {
    std::string mismatches;
    if (WaitForPixels(window, face, SCREEN_TIMEOUT_MS, &mismatches)) return true;
    std::fprintf(stderr, "the %s screen does not look as it should:\n%s", which,
                 mismatches.c_str());
    return false;
}

// The result text as lines for a terminal.
std::string WithoutCarriageReturns(const std::string& text) {
    std::string lines;
    for (char c : text) {
        if (c != '\r') lines += c;
    }
    return lines;
}

}  // namespace

int ApplyDefaults(const std::string& program, const std::string& gameFolder,
                  const std::string& pauseFolder) {
    RunningProgram running;
    std::string why;
    if (!running.Start(program, gameFolder, &why)) {
        std::fprintf(stderr, "%s\n", why.c_str());
        return 1;
    }
    HWND window = running.Window();
    if (!ScreenStands(window, InputScreenFace() + PlateButtonLook(false), "input") ||
        !Pause(pauseFolder, "input.ready")) {
        return 1;
    }

    ClickBox(window, PLATE_BUTTON);
    const std::string result = WaitForResultText(window);
    if (result.empty()) {
        std::fprintf(stderr, "no result screen after Apply\n");
        return 1;
    }
    std::printf("%s\n", WithoutCarriageReturns(result).c_str());
    std::fflush(stdout);
    if (!ScreenStands(window, ResultScreenFace() + PlateButtonLook(false), "result") ||
        !Pause(pauseFolder, "result.ready")) {
        return 1;
    }

    ClickBox(window, PLATE_BUTTON);  // Exit
    DWORD code = 1;
    if (!running.WaitForExit(EXIT_TIMEOUT_MS, &code)) {
        std::fprintf(stderr, "the program did not end after Exit\n");
        return 1;
    }
    return static_cast<int>(code);
}
