// Force-included ahead of the program's own sources in its test builds. It
// renames the platform calls that a build chooses to fail, so that the
// program's code is compiled unchanged and still calls them by their own
// names:
//
//   FAIL_CREATE_PIPE    CreatePipe fails, and leaves a poisoned value in
//                       both handle places, the way garbage would stand in
//                       locals that the call never set. Every call that
//                       takes a handle reports on standard error when it is
//                       given that value.
//   FAIL_CREATE_THREAD  CreateThread fails.
#pragma once

#include <windows.h>

BOOL WINAPI FailingCreatePipe(PHANDLE, PHANDLE, LPSECURITY_ATTRIBUTES, DWORD);
HANDLE WINAPI FailingCreateThread(LPSECURITY_ATTRIBUTES, SIZE_T, LPTHREAD_START_ROUTINE, LPVOID, DWORD, LPDWORD);

BOOL WINAPI CheckedCloseHandle(HANDLE);
BOOL WINAPI CheckedSetHandleInformation(HANDLE, DWORD, DWORD);
BOOL WINAPI CheckedReadFile(HANDLE, LPVOID, DWORD, LPDWORD, LPOVERLAPPED);
BOOL WINAPI CheckedPeekNamedPipe(HANDLE, LPVOID, DWORD, LPDWORD, LPDWORD, LPDWORD);
BOOL WINAPI CheckedCreateProcessA(LPCSTR, LPSTR, LPSECURITY_ATTRIBUTES, LPSECURITY_ATTRIBUTES, BOOL, DWORD, LPVOID,
                                  LPCSTR, LPSTARTUPINFOA, LPPROCESS_INFORMATION);

#if defined(FAIL_CREATE_PIPE)
#define CreatePipe FailingCreatePipe
#define CloseHandle CheckedCloseHandle
#define SetHandleInformation CheckedSetHandleInformation
#define ReadFile CheckedReadFile
#define PeekNamedPipe CheckedPeekNamedPipe
#define CreateProcessA CheckedCreateProcessA
#endif

#if defined(FAIL_CREATE_THREAD)
#define CreateThread FailingCreateThread
#endif
