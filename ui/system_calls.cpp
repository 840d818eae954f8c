#include "system_calls.h"

#include <process.h>

CreateWindowExAProc g_pfnCreateWindowExA = CreateWindowExA;
FindResourceAProc g_pfnFindResourceA = FindResourceA;
MessageBoxAProc g_pfnMessageBoxA = MessageBoxA;
MessageBoxWProc g_pfnMessageBoxW = MessageBoxW;
BeginThreadExProc g_pfnBeginThreadEx = _beginthreadex;
