// velmora-patch.exe started by a double click gets a console of its own, which would close
// with it before the player read a word: it waits for Enter there, and only there.

#include <windows.h>

#include <string>

#include <gtest/gtest.h>

#include "cli_runner.h"

namespace {

// Presses Enter in the console of another process.
bool PressEnterIn(DWORD process) {
    FreeConsole();
    if (!AttachConsole(process)) return false;
    HANDLE input = CreateFileA("CONIN$", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                               OPEN_EXISTING, 0, nullptr);
    INPUT_RECORD keys[2] = {};
    for (int i = 0; i < 2; ++i) {
        keys[i].EventType = KEY_EVENT;
        keys[i].Event.KeyEvent.bKeyDown = i == 0;
        keys[i].Event.KeyEvent.wRepeatCount = 1;
        keys[i].Event.KeyEvent.wVirtualKeyCode = VK_RETURN;
        keys[i].Event.KeyEvent.uChar.AsciiChar = '\r';
    }
    DWORD written = 0;
    const bool pressed = input != INVALID_HANDLE_VALUE && WriteConsoleInputA(input, keys, 2, &written) && written == 2;
    if (input != INVALID_HANDLE_VALUE) CloseHandle(input);
    FreeConsole();
    return pressed;
}

TEST(CliDoubleClick, InAConsoleOfItsOwnItWaitsForEnter) {
    GameFolder folder;
    folder.Write("vlmr3.exe", FixtureImage());
    std::string commandLine = "\"" + g_programPath + "\"";
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION info = {};
    ASSERT_TRUE(CreateProcessA(g_programPath.c_str(), &commandLine[0], nullptr, nullptr, FALSE, CREATE_NEW_CONSOLE,
                               nullptr, folder.path().string().c_str(), &startup, &info))
        << "error " << GetLastError();
    const DWORD early = WaitForSingleObject(info.hProcess, 4000);
    DWORD code = 99;
    if (early == WAIT_TIMEOUT) {
        // It did its job first, and then waits.
        EXPECT_TRUE(folder.Exists("vlmr3.exe.orig"));
        EXPECT_TRUE(PressEnterIn(info.dwProcessId)) << "error " << GetLastError();
        EXPECT_EQ(WaitForSingleObject(info.hProcess, 10000), WAIT_OBJECT_0) << "Enter did not end it";
    } else {
        ADD_FAILURE() << "it ended without waiting for Enter";
    }
    TerminateProcess(info.hProcess, 98);
    WaitForSingleObject(info.hProcess, INFINITE);
    GetExitCodeProcess(info.hProcess, &code);
    CloseHandle(info.hThread);
    CloseHandle(info.hProcess);
    EXPECT_EQ(code, 0u);
}

}  // namespace
