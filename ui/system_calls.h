#pragma once
// The system calls whose failures the window has to cope with. They are reached through
// these pointers, which point at the real functions; the tests point them elsewhere to
// make a control, the font resource or the worker thread go missing and to catch the
// message boxes.

#include <windows.h>

#include <cstdint>

using CreateWindowExAProc = HWND(WINAPI*)(DWORD, LPCSTR, LPCSTR, DWORD, int, int, int, int,
                                          HWND, HMENU, HINSTANCE, LPVOID);
using FindResourceAProc = HRSRC(WINAPI*)(HMODULE, LPCSTR, LPCSTR);
using MessageBoxAProc = int(WINAPI*)(HWND, LPCSTR, LPCSTR, UINT);
using MessageBoxWProc = int(WINAPI*)(HWND, LPCWSTR, LPCWSTR, UINT);
using ThreadStartProc = unsigned(__stdcall*)(void*);
using BeginThreadExProc = uintptr_t(__cdecl*)(void*, unsigned, ThreadStartProc, void*, unsigned,
                                              unsigned*);

extern CreateWindowExAProc g_pfnCreateWindowExA;
extern FindResourceAProc g_pfnFindResourceA;
extern MessageBoxAProc g_pfnMessageBoxA;
extern MessageBoxWProc g_pfnMessageBoxW;
extern BeginThreadExProc g_pfnBeginThreadEx;
