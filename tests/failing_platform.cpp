// The stand-ins that failing_platform.h puts in place of platform calls.
#include "failing_platform.h"

#include <cstdio>

// The stand-ins call the real functions.
#undef CreatePipe
#undef CreateThread
#undef CloseHandle
#undef SetHandleInformation
#undef ReadFile
#undef PeekNamedPipe
#undef CreateProcessA

namespace {

const HANDLE PoisonedHandle = reinterpret_cast<HANDLE>(static_cast<ULONG_PTR>(0x0BADF00C));

// True, after a report on standard error, when `handle` is the poisoned one.
bool IsPoisoned(HANDLE handle, const char* call)
{
    if (handle != PoisonedHandle)
        return false;
    std::fprintf(stderr, "%s was given a handle the program never obtained\n", call);
    SetLastError(ERROR_INVALID_HANDLE);
    return true;
}

} // namespace

BOOL WINAPI FailingCreatePipe(PHANDLE readEnd, PHANDLE writeEnd, LPSECURITY_ATTRIBUTES, DWORD)
{
    *readEnd = PoisonedHandle;
    *writeEnd = PoisonedHandle;
    SetLastError(ERROR_NO_SYSTEM_RESOURCES);
    return FALSE;
}

HANDLE WINAPI FailingCreateThread(LPSECURITY_ATTRIBUTES, SIZE_T, LPTHREAD_START_ROUTINE, LPVOID, DWORD, LPDWORD)
{
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return nullptr;
}

BOOL WINAPI CheckedCloseHandle(HANDLE handle)
{
    return IsPoisoned(handle, "CloseHandle") ? FALSE : CloseHandle(handle);
}

BOOL WINAPI CheckedSetHandleInformation(HANDLE handle, DWORD mask, DWORD flags)
{
    return IsPoisoned(handle, "SetHandleInformation") ? FALSE : SetHandleInformation(handle, mask, flags);
}

BOOL WINAPI CheckedReadFile(HANDLE handle, LPVOID buffer, DWORD size, LPDWORD got, LPOVERLAPPED overlapped)
{
    return IsPoisoned(handle, "ReadFile") ? FALSE : ReadFile(handle, buffer, size, got, overlapped);
}

BOOL WINAPI CheckedPeekNamedPipe(HANDLE handle, LPVOID buffer, DWORD size, LPDWORD got, LPDWORD available,
                                 LPDWORD left)
{
    return IsPoisoned(handle, "PeekNamedPipe") ? FALSE
                                               : PeekNamedPipe(handle, buffer, size, got, available, left);
}

BOOL WINAPI CheckedCreateProcessA(LPCSTR application, LPSTR commandLine, LPSECURITY_ATTRIBUTES processAttributes,
                                  LPSECURITY_ATTRIBUTES threadAttributes, BOOL inherit, DWORD flags,
                                  LPVOID environment, LPCSTR directory, LPSTARTUPINFOA startup,
                                  LPPROCESS_INFORMATION process)
{
    // The poisoned value handed on as one of the child's standard handles
    // is the child acting on it.
    IsPoisoned(startup->hStdInput, "CreateProcessA (standard input)");
    IsPoisoned(startup->hStdOutput, "CreateProcessA (standard output)");
    IsPoisoned(startup->hStdError, "CreateProcessA (standard error)");
    return CreateProcessA(application, commandLine, processAttributes, threadAttributes, inherit, flags,
                          environment, directory, startup, process);
}
