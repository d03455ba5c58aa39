// Starts the script hidden with standard output and standard error merged
// into one anonymous pipe, and keeps the first CaptureBufferSize bytes of it.
#include "capture_launch.h"

#include <windows.h>

#include <cstdio>
#include <cstring>
#include <initializer_list>

namespace {

// Output past the capture is read in pieces of this size into one buffer and
// dropped, so a script that prints gigabytes costs no more memory than one
// that prints a line. Large reads matter under Wine, where each read is a
// round trip to its server: 256 KiB moved a large output about a quarter
// faster than 64 KiB, and larger reads gained little more.
constexpr DWORD DiscardChunkSize = 256 * 1024;
char discardBuffer[DiscardChunkSize];

// How long the launching thread waits for the reading thread between two
// attempts to cancel its blocked read.
constexpr DWORD CancelRetryMilliseconds = 5;

// Without a reading thread: how long the launching thread waits on the child
// while the pipe is empty, before it looks at the pipe again.
constexpr DWORD EmptyPipeWaitMilliseconds = 1;

// What the launching thread hands to the thread that reads the pipe.
struct PipeReader {
    HANDLE readEnd;
    char* captureBuffer;
    DWORD captured;             // bytes of captureBuffer filled so far
    volatile LONG childEnded;   // set once the child process has ended
};

// One synchronous read of at most `limit` bytes: into the capture while it
// has room, into discardBuffer once it is full.
bool ReadPipeChunk(PipeReader& reader, DWORD limit, DWORD& got)
{
    char* target = discardBuffer;
    const DWORD room = static_cast<DWORD>(CaptureBufferSize) - reader.captured;
    if (room > 0) {
        target = reader.captureBuffer + reader.captured;
        if (limit > room)
            limit = room;
    } else if (limit > DiscardChunkSize) {
        limit = DiscardChunkSize;
    }

    got = 0;
    if (!ReadFile(reader.readEnd, target, limit, &got, nullptr))
        return false;
    if (target != discardBuffer)
        reader.captured += got;
    return true;
}

// Reads what the pipe holds at this moment, and no more. Once the child has
// ended, everything it wrote is already in the pipe, so this takes all of
// it. What a background process writes later, through a write end it
// inherited from the script, is not waited for: it may keep that handle open
// for as long as it likes. We are the pipe's only reader (the read end is
// not inherited), so a read of no more than the count just peeked finds its
// bytes there and does not block. The count is taken afresh before every
// read: bytes of a background writer's write that was still pending count
// too, and leave the pipe again if that write is abandoned, so an older count
// may be more than is there now.
void TakeBufferedOutput(PipeReader& reader)
{
    for (;;) {
        DWORD pending = 0;
        if (!PeekNamedPipe(reader.readEnd, nullptr, 0, nullptr, &pending, nullptr) || pending == 0)
            return;
        DWORD got = 0;
        if (!ReadPipeChunk(reader, pending, got)) {
            // A cancellation meant for the blocked read before us, or for
            // one that waited on bytes that left: peek again.
            if (GetLastError() == ERROR_OPERATION_ABORTED)
                continue;
            return;
        }
        if (got == 0)
            return; // no progress: nothing more is there to take
    }
}

// The capture without a reading thread, on the launching thread: a read only
// ever asks for what the pipe holds, so it never blocks on an empty pipe that
// a background process keeps open; while the pipe is empty, the child is
// waited on briefly instead. The script is thus never left blocked in a
// write to a full pipe, and the loop ends once the child has.
void CaptureOnThisThread(HANDLE childProcess, PipeReader& reader)
{
    for (;;) {
        DWORD pending = 0;
        if (!PeekNamedPipe(reader.readEnd, nullptr, 0, nullptr, &pending, nullptr))
            break; // every writer has gone and everything has been read
        if (pending > 0) {
            DWORD got = 0;
            if (!ReadPipeChunk(reader, pending, got))
                break;
            continue;
        }
        if (WaitForSingleObject(childProcess, EmptyPipeWaitMilliseconds) != WAIT_TIMEOUT)
            break;
    }
    WaitForSingleObject(childProcess, INFINITE);
    TakeBufferedOutput(reader);
}

// The reading thread. It reads while the child runs, so that a script
// printing more than the pipe holds never blocks in its write and never
// stops the child from ending.
DWORD WINAPI ReadWhileChildRuns(LPVOID parameter)
{
    PipeReader& reader = *static_cast<PipeReader*>(parameter);
    for (;;) {
        if (InterlockedCompareExchange(&reader.childEnded, 0, 0) != 0) {
            TakeBufferedOutput(reader);
            return 0;
        }
        DWORD got = 0;
        // A read cancelled by the launching thread comes back with
        // ERROR_OPERATION_ABORTED and nothing consumed; the loop then sees
        // that the child has ended. Any other failure is the broken pipe:
        // every writer has gone and everything has been read.
        if (!ReadPipeChunk(reader, DiscardChunkSize, got) && GetLastError() != ERROR_OPERATION_ABORTED)
            return 0;
    }
}

// Reads the pipe while the child runs and returns once the child has ended
// and its output has been taken.
void CaptureUntilChildEnds(HANDLE childProcess, HANDLE readEnd, char* captureBuffer)
{
    PipeReader reader{};
    reader.readEnd = readEnd;
    reader.captureBuffer = captureBuffer;

    HANDLE readerThread = CreateThread(nullptr, 0, ReadWhileChildRuns, &reader, 0, nullptr);
    if (readerThread == nullptr) {
        CaptureOnThisThread(childProcess, reader);
        return;
    }
    WaitForSingleObject(childProcess, INFINITE);

    // The reading thread may be blocked in ReadFile on an empty pipe that a
    // background process keeps open. Nothing done to the read end from this
    // thread would wake it: on Windows, synchronous calls on one handle are
    // serialized, so a PeekNamedPipe or CloseHandle here would itself wait
    // behind the pending read. Cancel that read instead. A cancellation that
    // lands between two of its reads finds nothing to cancel and is lost, so
    // repeat it until the thread has ended; the thread never touches the
    // pipe again once it has seen childEnded and taken what is buffered.
    InterlockedExchange(&reader.childEnded, 1);
    do {
        CancelSynchronousIo(readerThread);
    } while (WaitForSingleObject(readerThread, CancelRetryMilliseconds) == WAIT_TIMEOUT);
    CloseHandle(readerThread);
}

} // namespace

void RunAndCapture(const char* scriptPath, char (&captureBuffer)[CaptureBufferSize])
{
    std::memset(captureBuffer, 0, CaptureBufferSize);

    SECURITY_ATTRIBUTES inheritable{};
    inheritable.nLength = sizeof(SECURITY_ATTRIBUTES);
    inheritable.lpSecurityDescriptor = nullptr;
    inheritable.bInheritHandle = TRUE;

    HANDLE readEnd = nullptr;
    HANDLE writeEnd = nullptr;
    if (!CreatePipe(&readEnd, &writeEnd, &inheritable, 0)) {
        // What a failed call left in the two places is not ours to use.
        readEnd = nullptr;
        writeEnd = nullptr;
        std::printf("Create Pipe fail");
        std::fflush(stdout);
    } else {
        // Only the write end goes to the child. A process holding the read
        // end could read output away from us, and would keep the pipe open
        // for its own writes after we have gone, so that they block forever
        // instead of failing.
        SetHandleInformation(readEnd, HANDLE_FLAG_INHERIT, 0);
    }

    // Our own standard output and error stay ours. A caller that reads them
    // through a pipe waits until every holder of its write end has closed
    // it; handed to cmd, that would include whatever the script leaves
    // running in the background, so the caller would wait for that long after
    // we have gone. The script needs neither: its output goes to our pipe. A
    // handle that is also our standard input is left alone, since the script
    // is given that one.
    const HANDLE ownInput = GetStdHandle(STD_INPUT_HANDLE);
    for (const DWORD stream : {STD_OUTPUT_HANDLE, STD_ERROR_HANDLE}) {
        const HANDLE own = GetStdHandle(stream);
        if (own != nullptr && own != INVALID_HANDLE_VALUE && own != ownInput)
            SetHandleInformation(own, HANDLE_FLAG_INHERIT, 0);
    }

    STARTUPINFOA startup;
    std::memset(&startup, 0, sizeof startup);
    startup.cb = sizeof startup;
    GetStartupInfoA(&startup);
    // The reserved fields carry the C runtime's own hand-over from our
    // parent; CreateProcess requires them empty.
    startup.lpReserved = nullptr;
    startup.cbReserved2 = 0;
    startup.lpReserved2 = nullptr;
    // STARTF_USESTDHANDLES makes all three handles count, so the input
    // handle must be a real one: our own standard input, not whatever the
    // startup information held when our parent set no handles.
    startup.hStdInput = ownInput;
    // With no pipe the child gets no output handles at all: what it prints
    // is lost rather than shown on our console.
    startup.hStdOutput = writeEnd;
    startup.hStdError = writeEnd;
    startup.wShowWindow = SW_HIDE;
    startup.dwFlags = STARTF_USESTDHANDLES | STARTF_USESHOWWINDOW;

    PROCESS_INFORMATION child{};
    const bool started = CreateProcessA(scriptPath, nullptr, nullptr, nullptr, TRUE, 0, nullptr, nullptr,
                                        &startup, &child) != FALSE;

    // Our copy of the write end goes at once: from now on only the child and
    // what it starts hold it, so the pipe reports its end once they have all
    // closed it.
    if (writeEnd != nullptr)
        CloseHandle(writeEnd);

    if (started) {
        CloseHandle(child.hThread);
        if (readEnd != nullptr)
            CaptureUntilChildEnds(child.hProcess, readEnd, captureBuffer);
        else
            WaitForSingleObject(child.hProcess, INFINITE);
        CloseHandle(child.hProcess);
    }

    if (readEnd != nullptr)
        CloseHandle(readEnd);
}
