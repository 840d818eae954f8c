#include "ui_harness.h"

#include <process.h>
#include <winternl.h>

#include <cerrno>
#include <cstring>

#include "input_screen.h"
#include "main_window.h"
#include "patch_job.h"
#include "system_calls.h"
#include "ui_globals.h"

std::vector<ShownMessage> g_shownMessages;

// --- messages ---------------------------------------------------------------------------

bool PumpUntilIdle(int quietMs, int* quitCode) {
    bool quit = false;
    for (;;) {
        MSG msg;
        bool any = false;
        while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
            any = true;
            if (msg.message == WM_QUIT) {
                quit = true;
                if (quitCode != nullptr) *quitCode = static_cast<int>(msg.wParam);
                continue;
            }
            TranslateMessage(&msg);
            DispatchMessageA(&msg);
        }
        if (any) continue;
        if (MsgWaitForMultipleObjects(0, nullptr, FALSE, quietMs, QS_ALLINPUT) == WAIT_TIMEOUT) {
            return quit;
        }
    }
}

// --- user input -------------------------------------------------------------------------

namespace {

void SendMouse(DWORD flags) {
    INPUT input = {};
    input.type = INPUT_MOUSE;
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

POINT ToScreen(HWND window, int x, int y) {
    POINT point = {x, y};
    ClientToScreen(window, &point);
    return point;
}

}  // namespace

void MoveMouseTo(int x, int y) {
    // Absolute input counts the screen in 65536ths; round up so that the truncating
    // conversion back lands on the wanted pixel.
    INPUT input = {};
    input.type = INPUT_MOUSE;
    const int width = GetSystemMetrics(SM_CXSCREEN);
    const int height = GetSystemMetrics(SM_CYSCREEN);
    input.mi.dx = static_cast<LONG>((x * 65536 + width - 1) / width);
    input.mi.dy = static_cast<LONG>((y * 65536 + height - 1) / height);
    input.mi.dwFlags = MOUSEEVENTF_MOVE | MOUSEEVENTF_ABSOLUTE;
    SendInput(1, &input, sizeof input);
}

void LeftButton(bool down) { SendMouse(down ? MOUSEEVENTF_LEFTDOWN : MOUSEEVENTF_LEFTUP); }

void ClickAt(HWND window, int x, int y) {
    const POINT at = ToScreen(window, x, y);
    MoveMouseTo(at.x, at.y);
    LeftButton(true);
    LeftButton(false);
    PumpUntilIdle();
}

void DoubleClickAt(HWND window, int x, int y) {
    const POINT at = ToScreen(window, x, y);
    MoveMouseTo(at.x, at.y);
    LeftButton(true);
    LeftButton(false);
    LeftButton(true);
    LeftButton(false);
    PumpUntilIdle();
}

void RightClickAt(HWND window, int x, int y) {
    const POINT at = ToScreen(window, x, y);
    MoveMouseTo(at.x, at.y);
    SendMouse(MOUSEEVENTF_RIGHTDOWN);
    SendMouse(MOUSEEVENTF_RIGHTUP);
    PumpUntilIdle();
}

namespace {

POINT g_dragEnd;

// Runs inside the window's move loop, which serves timers: the motion and the release are
// sent only now, when the loop holds the mouse, as they would come from a hand.
void CALLBACK FinishDrag(HWND, UINT, UINT_PTR timer, DWORD) {
    KillTimer(nullptr, timer);
    POINT now;
    GetCursorPos(&now);
    MoveMouseTo((now.x + g_dragEnd.x) / 2, (now.y + g_dragEnd.y) / 2);
    MoveMouseTo(g_dragEnd.x, g_dragEnd.y);
    LeftButton(false);
}

}  // namespace

void DragBy(HWND window, int x, int y, int dx, int dy) {
    const POINT at = ToScreen(window, x, y);
    g_dragEnd = {at.x + dx, at.y + dy};
    MoveMouseTo(at.x, at.y);
    LeftButton(true);
    SetTimer(nullptr, 0, 100, FinishDrag);
    PumpUntilIdle(200);
}

void PressKey(WORD virtualKey) {
    SendKey(virtualKey, false);
    SendKey(virtualKey, true);
    PumpUntilIdle(30);
}

void TypeText(const char* text) {
    for (const char* c = text; *c != '\0'; ++c) {
        const SHORT scan = VkKeyScanA(*c);
        const bool shift = (scan & 0x100) != 0;
        if (shift) SendKey(VK_SHIFT, false);
        SendKey(static_cast<WORD>(scan & 0xFF), false);
        SendKey(static_cast<WORD>(scan & 0xFF), true);
        if (shift) SendKey(VK_SHIFT, true);
    }
    PumpUntilIdle();
}

// --- looking at the window ----------------------------------------------------------------

COLORREF PixelOf(HWND window, int x, int y) {
    HDC hdc = GetDC(window);
    const COLORREF color = GetPixel(hdc, x, y);
    ReleaseDC(window, hdc);
    return color;
}

COLORREF WindowPixelOf(HWND window, int x, int y) {
    HDC hdc = GetWindowDC(window);
    const COLORREF color = GetPixel(hdc, x, y);
    ReleaseDC(window, hdc);
    return color;
}

RECT RectInParent(HWND child) {
    RECT rect;
    GetWindowRect(child, &rect);
    MapWindowPoints(nullptr, GetParent(child), reinterpret_cast<POINT*>(&rect), 2);
    return rect;
}

POINT CentreOf(HWND child) {
    const RECT rect = RectInParent(child);
    return {(rect.left + rect.right) / 2, (rect.top + rect.bottom) / 2};
}

std::string TextOf(HWND window) {
    char text[1024] = {};
    GetWindowTextA(window, text, static_cast<int>(sizeof text));
    return text;
}

std::string ClassOf(HWND window) {
    char name[256] = {};
    GetClassNameA(window, name, static_cast<int>(sizeof name));
    return name;
}

std::vector<HWND> ChildrenOf(HWND parent) {
    std::vector<HWND> children;
    for (HWND child = GetWindow(parent, GW_CHILD); child != nullptr;
         child = GetWindow(child, GW_HWNDNEXT)) {
        children.push_back(child);
    }
    return children;
}

namespace {

// Wine's GDI handle table, the one Windows keeps for each process too: one 24-byte entry per
// handle, a non-zero type byte at offset 14 for a live object, and bit 7 of the byte at
// offset 12 for the stock objects every process shares.
int CountLiveEntries(const BYTE* table) {
    int live = 0;
    for (int i = 0; i < 0x10000; ++i) {
        const BYTE* entry = table + i * 24;
        if (entry[14] != 0 && (entry[12] & 0x80) == 0) ++live;
    }
    return live;
}

// The table's address from the process environment block, where the GDI of the process's
// own bitness puts it.
const BYTE* GdiTableOfThisBitness() {
#ifdef _WIN64
    const size_t tableOffset = 0xF8;
#else
    const size_t tableOffset = 0x94;
#endif
    using QueryProcess = LONG(NTAPI*)(HANDLE, PROCESSINFOCLASS, PVOID, ULONG, PULONG);
    const QueryProcess query = reinterpret_cast<QueryProcess>(reinterpret_cast<void*>(
        GetProcAddress(GetModuleHandleA("ntdll.dll"), "NtQueryInformationProcess")));
    PROCESS_BASIC_INFORMATION info = {};
    if (query == nullptr ||
        query(GetCurrentProcess(), ProcessBasicInformation, &info, sizeof info, nullptr) != 0) {
        return nullptr;
    }
    const BYTE* peb = reinterpret_cast<const BYTE*>(info.PebBaseAddress);
    return *reinterpret_cast<const BYTE* const*>(peb + tableOffset);
}

// A 32-bit process in a 64-bit Wine prefix has a 64-bit thread block as well, whose address
// its own thread block holds in GdiBatchCount; the 64-bit GDI puts the table's address into
// the 64-bit process block (offset 0xF8) that the 64-bit thread block points to (0x60).
const BYTE* GdiTableOfTheWow64Side() {
#ifdef _WIN64
    return nullptr;
#else
    struct ThreadBasicInformation {
        LONG exitStatus;
        PVOID tebBaseAddress;
        CLIENT_ID clientId;
        KAFFINITY affinityMask;
        LONG priority, basePriority;
    } thread = {};
    using QueryThread = LONG(NTAPI*)(HANDLE, THREADINFOCLASS, PVOID, ULONG, PULONG);
    const QueryThread query = reinterpret_cast<QueryThread>(reinterpret_cast<void*>(
        GetProcAddress(GetModuleHandleA("ntdll.dll"), "NtQueryInformationThread")));
    if (query == nullptr ||
        query(GetCurrentThread(), static_cast<THREADINFOCLASS>(0), &thread, sizeof thread,
              nullptr) != 0) {
        return nullptr;
    }
    const BYTE* teb = static_cast<const BYTE*>(thread.tebBaseAddress);
    const ULONG teb64 = *reinterpret_cast<const ULONG*>(teb + 0xF70);
    if (teb64 == 0) return nullptr;
    const ULONGLONG peb64 = *reinterpret_cast<const ULONGLONG*>(static_cast<ULONG_PTR>(teb64) + 0x60);
    if (peb64 == 0 || peb64 > 0xFFFFFFFFull) return nullptr;
    const ULONGLONG table = *reinterpret_cast<const ULONGLONG*>(static_cast<ULONG_PTR>(peb64) + 0xF8);
    if (table == 0 || table > 0xFFFFFFFFull) return nullptr;
    return reinterpret_cast<const BYTE*>(static_cast<ULONG_PTR>(table));
#endif
}

}  // namespace

int CountGdiObjects(std::string* how) {
    const DWORD counted = GetGuiResources(GetCurrentProcess(), GR_GDIOBJECTS);
    if (counted != 0) {
        if (how != nullptr) *how = "GetGuiResources";
        return static_cast<int>(counted);
    }
    // Wine answers 0 to GetGuiResources, but keeps the handle table.
    if (const BYTE* table = GdiTableOfThisBitness()) {
        if (how != nullptr) *how = "the GDI handle table of the process environment block";
        return CountLiveEntries(table);
    }
    if (const BYTE* table = GdiTableOfTheWow64Side()) {
        if (how != nullptr) *how = "the GDI handle table of the 64-bit process environment block";
        return CountLiveEntries(table);
    }
    if (how != nullptr) {
        *how = "GetGuiResources answers 0 and no GDI handle table was found in the process "
               "environment block";
    }
    return -1;
}

// --- message boxes and system calls --------------------------------------------------------

namespace {

std::string g_failClass;
int g_failId = -1;
int g_failOccurrence = 0;
LPCSTR g_fontName = nullptr;
LPCSTR g_fontType = nullptr;
bool g_fontMissing = false;
bool g_threadFails = false;

int WINAPI CaptureMessageBoxW(HWND owner, LPCWSTR text, LPCWSTR caption, UINT type) {
    g_shownMessages.push_back({owner, text, caption, type});
    return IDOK;
}

int WINAPI CaptureMessageBoxA(HWND owner, LPCSTR text, LPCSTR caption, UINT type) {
    wchar_t wideText[1024] = {};
    wchar_t wideCaption[256] = {};
    MultiByteToWideChar(CP_ACP, 0, text, -1, wideText, 1024);
    MultiByteToWideChar(CP_ACP, 0, caption, -1, wideCaption, 256);
    g_shownMessages.push_back({owner, wideText, wideCaption, type});
    return IDOK;
}

HWND WINAPI CreateWindowExOrFail(DWORD exStyle, LPCSTR className, LPCSTR text, DWORD style,
                                 int x, int y, int width, int height, HWND parent, HMENU menu,
                                 HINSTANCE instance, LPVOID param) {
    if (g_failId >= 0 && static_cast<INT_PTR>(g_failId) == reinterpret_cast<INT_PTR>(menu) &&
        g_failClass == className && --g_failOccurrence == 0) {
        g_failId = -1;
        return nullptr;
    }
    return CreateWindowExA(exStyle, className, text, style, x, y, width, height, parent, menu,
                           instance, param);
}

HRSRC WINAPI FindResourceRedirected(HMODULE module, LPCSTR name, LPCSTR type) {
    if (g_fontMissing) return nullptr;
    if (g_fontName != nullptr) return FindResourceA(module, g_fontName, g_fontType);
    return FindResourceA(module, name, type);
}

uintptr_t __cdecl BeginThreadOrFail(void* security, unsigned stack, ThreadStartProc start,
                                     void* argument, unsigned flags, unsigned* id) {
    if (g_threadFails) {
        g_threadFails = false;
        errno = EAGAIN;
        return 0;
    }
    return _beginthreadex(security, stack, start, argument, flags, id);
}

}  // namespace

void FailControlCreation(const char* className, int id, int occurrence) {
    g_failClass = className;
    g_failId = id;
    g_failOccurrence = occurrence;
}

void MissFontResource() { g_fontMissing = true; }

void FindOtherResourceAsFont(LPCSTR name, LPCSTR type) {
    g_fontName = name;
    g_fontType = type;
}

void FailThreadStart() { g_threadFails = true; }

namespace {

// What the program's own thread start is, taken before the harness first replaces it (the
// first reset runs from main, after every static initialiser).
BeginThreadExProc ProgramThreadStart() {
    static const BeginThreadExProc programs = g_pfnBeginThreadEx;
    return programs;
}

}  // namespace

void UseProgramThreadStart() { g_pfnBeginThreadEx = ProgramThreadStart(); }

// --- messages seen by windows ------------------------------------------------------------

namespace {

HHOOK g_sentHook = nullptr;
HHOOK g_postedHook = nullptr;
std::vector<SeenMessage> g_sent;
std::vector<SeenMessage> g_posted;

LRESULT CALLBACK RecordSent(int code, WPARAM wParam, LPARAM lParam) {
    if (code == HC_ACTION) {
        const CWPRETSTRUCT& seen = *reinterpret_cast<const CWPRETSTRUCT*>(lParam);
        g_sent.push_back({seen.hwnd, seen.message, seen.wParam, seen.lParam, seen.lResult});
    }
    return CallNextHookEx(g_sentHook, code, wParam, lParam);
}

LRESULT CALLBACK RecordPosted(int code, WPARAM wParam, LPARAM lParam) {
    if (code == HC_ACTION && wParam == PM_REMOVE) {
        const MSG& seen = *reinterpret_cast<const MSG*>(lParam);
        g_posted.push_back({seen.hwnd, seen.message, seen.wParam, seen.lParam, 0});
    }
    return CallNextHookEx(g_postedHook, code, wParam, lParam);
}

}  // namespace

MessageSpy::MessageSpy() {
    Clear();
    g_sentHook = SetWindowsHookExA(WH_CALLWNDPROCRET, RecordSent, nullptr, GetCurrentThreadId());
    g_postedHook = SetWindowsHookExA(WH_GETMESSAGE, RecordPosted, nullptr, GetCurrentThreadId());
}

MessageSpy::~MessageSpy() {
    UnhookWindowsHookEx(g_sentHook);
    UnhookWindowsHookEx(g_postedHook);
    g_sentHook = g_postedHook = nullptr;
}

int MessageSpy::Count(HWND window, UINT message) const {
    int count = 0;
    for (const SeenMessage& seen : g_sent) count += seen.window == window && seen.message == message;
    return count;
}

int MessageSpy::CountPosted(HWND window, UINT message) const {
    int count = 0;
    for (const SeenMessage& seen : g_posted) count += seen.window == window && seen.message == message;
    return count;
}

const std::vector<SeenMessage>& MessageSpy::Sent() const { return g_sent; }
const std::vector<SeenMessage>& MessageSpy::Posted() const { return g_posted; }

void MessageSpy::Clear() {
    g_sent.clear();
    g_posted.clear();
}

// --- the program's state -------------------------------------------------------------------

void ResetUiForTest() {
    g_hInstance = nullptr;
    g_hMainWindow = nullptr;
    delete g_pPatchJob;
    g_pPatchJob = nullptr;
    g_screenState = SCREEN_INPUT;
    HWND* const handles[] = {
        &g_hToggleCamera, &g_hToggleFov,  &g_hToggleWidescreen, &g_hToggleFps,
        &g_hLabelCamera,  &g_hLabelFov,   &g_hLabelWidescreen,  &g_hLabelDisplay,
        &g_hLabelFps,     &g_hEditCamera, &g_hEditFov,          &g_hEditDisplayWidth,
        &g_hEditDisplayHeight, &g_hApplyButton, &g_hExitButton, &g_hResultText,
        &g_hTitle,        &g_hCloseButton,
    };
    for (HWND* handle : handles) *handle = nullptr;
    ResetFeatureToggles();

    g_hEmbeddedFont = nullptr;  // the registration itself lives on, as in the program

    g_shownMessages.clear();
    g_failClass.clear();
    g_failId = -1;
    g_fontName = g_fontType = nullptr;
    g_fontMissing = false;
    g_threadFails = false;
    g_pfnMessageBoxA = CaptureMessageBoxA;
    g_pfnMessageBoxW = CaptureMessageBoxW;
    g_pfnCreateWindowExA = CreateWindowExOrFail;
    g_pfnFindResourceA = FindResourceRedirected;
    ProgramThreadStart();
    g_pfnBeginThreadEx = BeginThreadOrFail;
}

void MainWindowTest::SetUp() {
    ResetUiForTest();
    if (OpensWindowInSetUp()) OpenWindow();
}

void MainWindowTest::TearDown() {
    CloseWindow();
    ResetUiForTest();
}

void MainWindowTest::OpenWindow() {
    window_ = CreateMainWindow(GetModuleHandleA(nullptr), SW_SHOWNORMAL);
    ASSERT_NE(window_, nullptr);
    PumpUntilIdle();
}

void MainWindowTest::CloseWindow() {
    if (window_ != nullptr && IsWindow(window_)) DestroyWindow(window_);
    PumpUntilIdle(30);
    window_ = nullptr;
}
