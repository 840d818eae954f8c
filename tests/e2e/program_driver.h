#pragma once
// Runs the real program as a separate process and uses it as a person would: through the
// system's mouse and keyboard input at screen positions, reading back what the screen
// shows, the texts of its windows and its exit code.

#include <windows.h>

#include <string>
#include <vector>

// Long enough for the emulated 32-bit Wine, where a program start takes seconds; the waits
// end as soon as what they wait for has happened.
enum : DWORD {
    START_TIMEOUT_MS = 90000,
    SCREEN_TIMEOUT_MS = 20000,
    EXIT_TIMEOUT_MS = 30000,
};

// The program file the tests run, given on the command line.
const std::string& ProgramPath();
void SetProgramPath(const std::string& path);

// --- the process --------------------------------------------------------------------------

class RunningProgram {
public:
    RunningProgram() = default;
    ~RunningProgram();  // ends the process if a test left it running
    RunningProgram(const RunningProgram&) = delete;
    RunningProgram& operator=(const RunningProgram&) = delete;

    // Starts `program` with `folder` as its current folder, waits for its main window and
    // brings it to the front. False, with the reason in *why, when any of it fails.
    bool Start(const std::string& program, const std::string& folder, std::string* why);

    HWND Window() const { return window_; }
    DWORD ProcessId() const { return processId_; }

    // Waits for the process to end; true with its exit code in *code when it did.
    bool WaitForExit(DWORD timeoutMs, DWORD* code);

private:
    HANDLE process_ = nullptr;
    DWORD processId_ = 0;
    HWND window_ = nullptr;
};

// A visible top-level window of process `processId` for which `accept` holds, or null.
HWND FindTopLevelWindow(DWORD processId, bool (*accept)(HWND));

// --- the mouse and the keyboard -------------------------------------------------------------

// A point of `window` (client coordinates) on the screen.
POINT ScreenPointOf(HWND window, int x, int y);
void MoveMouseTo(POINT screen);
void LeftButton(bool down);
// Moves to the client point of `window` and clicks the left button there.
void ClickAt(HWND window, int x, int y);
void PressKey(WORD virtualKey);
// Types `text` key by key (digits, letters and spaces), with Shift where a character needs it.
void TypeKeys(const char* text);

// --- what the windows say ------------------------------------------------------------------

// The text of a window as WM_GETTEXT gives it (also across processes).
std::string TextOf(HWND window);
std::string CaptionOf(HWND window);
// The child of `parent` that lies under the client point (x, y) of `parent`, or null.
HWND ChildAt(HWND parent, int x, int y);
// Calls `done` until it returns true or `timeoutMs` have passed; returns its last answer.
template <typename Predicate>
bool WaitUntil(DWORD timeoutMs, Predicate done) {
    const DWORD start = GetTickCount();
    for (;;) {
        if (done()) return true;
        if (GetTickCount() - start >= timeoutMs) return done();
        Sleep(25);
    }
}

// --- what the screen shows -----------------------------------------------------------------

// A colour of the screen at a point of `window` (client coordinates), read with GetPixel
// from the screen's device context, that is as the display shows it.
COLORREF ScreenPixel(HWND window, int x, int y);

struct PixelCheck {
    const char* what;
    int x, y;          // client coordinates of the main window
    COLORREF color;
};

// Waits until every point shows its colour; on time-out returns false and describes each
// point that does not in *mismatches.
bool WaitForPixels(HWND window, const std::vector<PixelCheck>& checks, DWORD timeoutMs,
                   std::string* mismatches);

// EXPECT_SCREEN(window, pixel checks), in a GoogleTest case: the screen comes to show every
// point in its colour.
#define EXPECT_SCREEN(window, ...)                                                           \
    do {                                                                                     \
        std::string mismatches_;                                                             \
        EXPECT_TRUE(WaitForPixels((window), (__VA_ARGS__), SCREEN_TIMEOUT_MS, &mismatches_)) \
            << mismatches_;                                                                  \
    } while (0)

// A rectangle of the screen (client coordinates of `window`), pixel by pixel.
struct ScreenArea {
    int left, top, width, height;
    std::vector<COLORREF> pixels;
    COLORREF At(int x, int y) const { return pixels[(y - top) * width + (x - left)]; }
};
// Reads the area once the screen has stopped changing there (two equal reads in a row).
ScreenArea ReadScreenArea(HWND window, int left, int top, int width, int height);

std::string DescribeColor(COLORREF color);
