#include "program_driver.h"

#include <cstdio>

namespace {

std::string g_programPath;

struct WindowSearch {
    DWORD processId;
    bool (*accept)(HWND);
    HWND found;
};

BOOL CALLBACK CheckTopLevelWindow(HWND window, LPARAM context) {
    WindowSearch* search = reinterpret_cast<WindowSearch*>(context);
    DWORD owner = 0;
    GetWindowThreadProcessId(window, &owner);
    if (owner != search->processId || !IsWindowVisible(window)) return TRUE;
    if (search->accept != nullptr && !search->accept(window)) return TRUE;
    search->found = window;
    return FALSE;
}

// The program's window once it has been moved to its final size; before that it still has
// the few pixels that its dialog template gives it.
bool IsMainWindow(HWND window) {
    RECT rect;
    GetWindowRect(window, &rect);
    return rect.right - rect.left == 570 && rect.bottom - rect.top == 305 &&
           GetWindow(window, GW_OWNER) == nullptr;
}

void SendMouse(DWORD flags, LONG dx = 0, LONG dy = 0) {
    INPUT input = {};
    input.type = INPUT_MOUSE;
    input.mi.dx = dx;
    input.mi.dy = dy;
    input.mi.dwFlags = flags;
    SendInput(1, &input, sizeof input);
}

void SendKey(WORD virtualKey, bool up) {
    INPUT input = {};
    input.type = INPUT_KEYBOARD;
    input.ki.wVk = virtualKey;
    input.ki.dwFlags = up ? KEYEVENTF_KEYUP : 0;
    SendInput(1, &input, sizeof input);
}

// Lets the program take in what was just sent before the next input arrives.
void Settle() { Sleep(30); }

}  // namespace

const std::string& ProgramPath() { return g_programPath; }
void SetProgramPath(const std::string& path) { g_programPath = path; }

// --- the process --------------------------------------------------------------------------

RunningProgram::~RunningProgram() {
    if (process_ == nullptr) return;
    if (WaitForSingleObject(process_, 0) == WAIT_TIMEOUT) {
        TerminateProcess(process_, 1);
        WaitForSingleObject(process_, EXIT_TIMEOUT_MS);
    }
    CloseHandle(process_);
}

bool RunningProgram::Start(const std::string& program, const std::string& folder,
                           std::string* why) {
    // Full Windows paths, also when given as Unix paths (Wine maps them on the Z: drive).
    char fullProgram[MAX_PATH];
    char fullFolder[MAX_PATH];
    if (GetFullPathNameA(program.c_str(), MAX_PATH, fullProgram, nullptr) == 0 ||
        GetFullPathNameA(folder.c_str(), MAX_PATH, fullFolder, nullptr) == 0) {
        *why = "no full path for " + program + " or " + folder;
        return false;
    }
    std::string commandLine = std::string("\"") + fullProgram + "\"";
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION info = {};
    if (!CreateProcessA(fullProgram, &commandLine[0], nullptr, nullptr, FALSE, 0, nullptr,
                        fullFolder, &startup, &info)) {
        *why = "CreateProcessA failed for " + std::string(fullProgram) + ", error " +
               std::to_string(GetLastError());
        return false;
    }
    CloseHandle(info.hThread);
    process_ = info.hProcess;
    processId_ = info.dwProcessId;

    const bool found = WaitUntil(START_TIMEOUT_MS, [&] {
        window_ = FindTopLevelWindow(processId_, IsMainWindow);
        return window_ != nullptr || WaitForSingleObject(process_, 0) == WAIT_OBJECT_0;
    });
    if (!found || window_ == nullptr) {
        DWORD code = 0;
        GetExitCodeProcess(process_, &code);
        *why = code == STILL_ACTIVE
                   ? "the program showed no 570x305 window"
                   : "the program ended with code " + std::to_string(code) + " before its window";
        return false;
    }
    // Ready for input once its message loop waits for messages.
    WaitForInputIdle(process_, START_TIMEOUT_MS);
    SetForegroundWindow(window_);
    return true;
}

bool RunningProgram::WaitForExit(DWORD timeoutMs, DWORD* code) {
    if (WaitForSingleObject(process_, timeoutMs) != WAIT_OBJECT_0) return false;
    GetExitCodeProcess(process_, code);
    return true;
}

HWND FindTopLevelWindow(DWORD processId, bool (*accept)(HWND)) {
    WindowSearch search = {processId, accept, nullptr};
    EnumWindows(CheckTopLevelWindow, reinterpret_cast<LPARAM>(&search));
    return search.found;
}

// --- the mouse and the keyboard -------------------------------------------------------------

POINT ScreenPointOf(HWND window, int x, int y) {
    POINT point = {x, y};
    ClientToScreen(window, &point);
    return point;
}

void MoveMouseTo(POINT screen) {
    // Absolute input counts the screen in 65536ths; rounding up makes the conversion back,
    // which truncates, land on the wanted pixel.
    const LONG width = GetSystemMetrics(SM_CXSCREEN);
    const LONG height = GetSystemMetrics(SM_CYSCREEN);
    SendMouse(MOUSEEVENTF_MOVE | MOUSEEVENTF_ABSOLUTE, (screen.x * 65536 + width - 1) / width,
              (screen.y * 65536 + height - 1) / height);
    Settle();
}

void LeftButton(bool down) {
    SendMouse(down ? MOUSEEVENTF_LEFTDOWN : MOUSEEVENTF_LEFTUP);
    Settle();
}

void ClickAt(HWND window, int x, int y) {
    MoveMouseTo(ScreenPointOf(window, x, y));
    LeftButton(true);
    LeftButton(false);
}

void PressKey(WORD virtualKey) {
    SendKey(virtualKey, false);
    SendKey(virtualKey, true);
    Settle();
}

void TypeKeys(const char* text) {
    for (const char* c = text; *c != '\0'; ++c) {
        const SHORT scan = VkKeyScanA(*c);
        const WORD key = static_cast<WORD>(scan & 0xFF);
        const bool shift = (scan & 0x100) != 0;
        if (shift) SendKey(VK_SHIFT, false);
        SendKey(key, false);
        SendKey(key, true);
        if (shift) SendKey(VK_SHIFT, true);
        Settle();
    }
}

// --- what the windows say ------------------------------------------------------------------

std::string TextOf(HWND window) {
    char text[1024] = {};
    SendMessageTimeoutA(window, WM_GETTEXT, sizeof text, reinterpret_cast<LPARAM>(text),
                        SMTO_ABORTIFHUNG, SCREEN_TIMEOUT_MS, nullptr);
    return text;
}

std::string CaptionOf(HWND window) {
    char text[256] = {};
    GetWindowTextA(window, text, static_cast<int>(sizeof text));
    return text;
}

HWND ChildAt(HWND parent, int x, int y) {
    const POINT point = {x, y};
    HWND child = ChildWindowFromPointEx(parent, point, CWP_SKIPINVISIBLE);
    return child == parent ? nullptr : child;
}

// --- what the screen shows -----------------------------------------------------------------

COLORREF ScreenPixel(HWND window, int x, int y) {
    const POINT at = ScreenPointOf(window, x, y);
    HDC screen = GetDC(nullptr);
    const COLORREF color = GetPixel(screen, at.x, at.y);
    ReleaseDC(nullptr, screen);
    return color;
}

std::string DescribeColor(COLORREF color) {
    char text[64];
    if (color == CLR_INVALID) {
        std::snprintf(text, sizeof text, "(unreadable)");
    } else {
        std::snprintf(text, sizeof text, "RGB(%d,%d,%d)", GetRValue(color), GetGValue(color),
                      GetBValue(color));
    }
    return text;
}

bool WaitForPixels(HWND window, const std::vector<PixelCheck>& checks, DWORD timeoutMs,
                   std::string* mismatches) {
    std::vector<COLORREF> seen(checks.size());
    const bool all = WaitUntil(timeoutMs, [&] {
        bool match = true;
        for (size_t i = 0; i < checks.size(); ++i) {
            seen[i] = ScreenPixel(window, checks[i].x, checks[i].y);
            match = match && seen[i] == checks[i].color;
        }
        return match;
    });
    mismatches->clear();
    for (size_t i = 0; i < checks.size(); ++i) {
        if (seen[i] == checks[i].color) continue;
        char line[256];
        std::snprintf(line, sizeof line, "%s at (%d,%d): %s, expected %s\n", checks[i].what,
                      checks[i].x, checks[i].y, DescribeColor(seen[i]).c_str(),
                      DescribeColor(checks[i].color).c_str());
        *mismatches += line;
    }
    return all;
}

namespace {

// One copy of the screen area through a memory bitmap: a single read of the screen, so
// the area is seen as it was at one moment.
ScreenArea CopyScreenArea(HWND window, int left, int top, int width, int height) {
    ScreenArea area = {left, top, width, height, {}};
    area.pixels.assign(static_cast<size_t>(width) * height, CLR_INVALID);
    const POINT at = ScreenPointOf(window, left, top);
    HDC screen = GetDC(nullptr);
    HDC memory = CreateCompatibleDC(screen);
    HBITMAP bitmap = CreateCompatibleBitmap(screen, width, height);
    HGDIOBJ old = SelectObject(memory, bitmap);
    BitBlt(memory, 0, 0, width, height, screen, at.x, at.y, SRCCOPY);
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) area.pixels[y * width + x] = GetPixel(memory, x, y);
    }
    SelectObject(memory, old);
    DeleteObject(bitmap);
    DeleteDC(memory);
    ReleaseDC(nullptr, screen);
    return area;
}

}  // namespace

ScreenArea ReadScreenArea(HWND window, int left, int top, int width, int height) {
    ScreenArea area = CopyScreenArea(window, left, top, width, height);
    WaitUntil(SCREEN_TIMEOUT_MS, [&] {
        Sleep(50);
        ScreenArea again = CopyScreenArea(window, left, top, width, height);
        const bool same = again.pixels == area.pixels;
        area = again;
        return same;
    });
    return area;
}
