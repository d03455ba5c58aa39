// The tests' stand-in for what an uninstall script runs: it prints bytes a
// batch file cannot (zero bytes, bytes above 127, megabytes, standard error
// alone) and plays the background processes that uninstallers leave behind.
//
//   runner_fixture out HEX             write the bytes HEX to standard output, in one write
//   runner_fixture err HEX             the same, to standard error
//   runner_fixture fill COUNT CHUNK    write CountingBytes(COUNT) in writes of CHUNK bytes
//   runner_fixture repeat COUNT CHUNK  write COUNT bytes as one CHUNK-byte block over and
//                                      over (for throughput, where content is moot)
//   runner_fixture lines COUNT         write COUNT CountingLine()s, one write each
//   runner_fixture sleep MS            wait MS milliseconds
//   runner_fixture spawn ROLE ARGS     start "runner_fixture ROLE ARGS" in the background with
//                                      our handles, and return once it has written ROLE.txt
//   runner_fixture hold SECONDS        keep the inherited handles open for SECONDS
//   runner_fixture flood               write until writing fails, then write flood-ended.txt
//   runner_fixture stamp FILE          write the time now, in microseconds since 1970, to FILE
//   runner_fixture pipe PROGRAM        run PROGRAM with its output into a pipe, and read the
//                                      pipe to its end, keeping nothing (the benchmark's
//                                      measure of what the pipe alone costs)
//
// hold and flood first write ROLE.txt in the current directory: their
// process id and whether their standard output is a pipe.
#include "output_pattern.h"

#include <windows.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>

namespace {

bool WriteAll(HANDLE handle, const char* data, std::size_t size)
{
    while (size > 0) {
        DWORD written = 0;
        if (!WriteFile(handle, data, static_cast<DWORD>(size), &written, nullptr))
            return false;
        data += written;
        size -= written;
    }
    return true;
}

std::string FromHex(const char* hex)
{
    std::string bytes;
    for (; hex[0] != '\0' && hex[1] != '\0'; hex += 2) {
        const char pair[3] = {hex[0], hex[1], '\0'};
        bytes += static_cast<char>(std::strtoul(pair, nullptr, 16));
    }
    return bytes;
}

bool WriteTextFile(const std::string& path, const std::string& text)
{
    // Written aside and renamed, so a reader never sees half of it.
    const std::string partial = path + ".partial";
    {
        std::ofstream file(partial, std::ios::binary | std::ios::trunc);
        if (!(file << text))
            return false;
    }
    return MoveFileExA(partial.c_str(), path.c_str(), MOVEFILE_REPLACE_EXISTING) != FALSE;
}

void RecordRole(const char* role)
{
    HANDLE out = GetStdHandle(STD_OUTPUT_HANDLE);
    const bool pipe = GetFileType(out) == FILE_TYPE_PIPE;
    WriteTextFile(std::string(role) + ".txt",
                  std::to_string(GetCurrentProcessId()) + (pipe ? " pipe\n" : " other\n"));
}

int Spawn(int argc, char** argv)
{
    char self[MAX_PATH];
    GetModuleFileNameA(nullptr, self, MAX_PATH);
    std::string commandLine = std::string("\"") + self + "\"";
    for (int i = 2; i < argc; ++i)
        commandLine += std::string(" ") + argv[i];

    const std::string record = std::string(argv[2]) + ".txt";
    DeleteFileA(record.c_str());

    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION child{};
    if (!CreateProcessA(nullptr, &commandLine[0], nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup, &child))
        return 2;
    CloseHandle(child.hThread);
    CloseHandle(child.hProcess);

    for (int waited = 0; waited < 20000; waited += 10) {
        if (GetFileAttributesA(record.c_str()) != INVALID_FILE_ATTRIBUTES)
            return 0;
        Sleep(10);
    }
    return 3;
}

int DrainThroughPipe(const char* program)
{
    SECURITY_ATTRIBUTES inheritable{sizeof inheritable, nullptr, TRUE};
    HANDLE readEnd = nullptr;
    HANDLE writeEnd = nullptr;
    if (!CreatePipe(&readEnd, &writeEnd, &inheritable, 0))
        return 2;
    SetHandleInformation(readEnd, HANDLE_FLAG_INHERIT, 0);

    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
    startup.hStdOutput = writeEnd;
    startup.hStdError = writeEnd;
    PROCESS_INFORMATION child{};
    const BOOL started =
        CreateProcessA(program, nullptr, nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup, &child);
    CloseHandle(writeEnd);
    if (!started)
        return 2;

    static char buffer[256 * 1024];
    DWORD got = 0;
    while (ReadFile(readEnd, buffer, sizeof buffer, &got, nullptr)) {
    }
    WaitForSingleObject(child.hProcess, INFINITE);
    return 0;
}

int Flood()
{
    RecordRole("flood");
    HANDLE out = GetStdHandle(STD_OUTPUT_HANDLE);
    const std::string chunk = CountingBytes(64 * 1024);
    while (WriteAll(out, chunk.data(), chunk.size())) {
    }
    const DWORD error = GetLastError();
    WriteTextFile("flood-ended.txt", std::to_string(error) + "\n");
    return 0;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc < 2)
        return 1;
    const std::string command = argv[1];
    HANDLE out = GetStdHandle(STD_OUTPUT_HANDLE);

    if ((command == "out" || command == "err") && argc == 3) {
        const std::string bytes = FromHex(argv[2]);
        HANDLE target = command == "out" ? out : GetStdHandle(STD_ERROR_HANDLE);
        return WriteAll(target, bytes.data(), bytes.size()) ? 0 : 2;
    }
    if (command == "fill" && argc == 4) {
        const std::string bytes = CountingBytes(std::strtoul(argv[2], nullptr, 10));
        const std::size_t chunk = std::strtoul(argv[3], nullptr, 10);
        for (std::size_t at = 0; at < bytes.size(); at += chunk) {
            if (!WriteAll(out, bytes.data() + at, std::min(chunk, bytes.size() - at)))
                return 2;
        }
        return 0;
    }
    if (command == "repeat" && argc == 4) {
        unsigned long long left = std::strtoull(argv[2], nullptr, 10);
        const std::string block = CountingBytes(std::strtoul(argv[3], nullptr, 10));
        while (left > 0) {
            const std::size_t size = static_cast<std::size_t>(std::min<unsigned long long>(left, block.size()));
            if (!WriteAll(out, block.data(), size))
                return 2;
            left -= size;
        }
        return 0;
    }
    if (command == "lines" && argc == 3) {
        const unsigned long count = std::strtoul(argv[2], nullptr, 10);
        for (unsigned n = 0; n < count; ++n) {
            const std::string line = CountingLine(n);
            if (!WriteAll(out, line.data(), line.size()))
                return 2;
        }
        return 0;
    }
    if (command == "sleep" && argc == 3) {
        Sleep(std::strtoul(argv[2], nullptr, 10));
        return 0;
    }
    if (command == "spawn" && argc >= 3)
        return Spawn(argc, argv);
    if (command == "hold" && argc == 3) {
        RecordRole("hold");
        Sleep(std::strtoul(argv[2], nullptr, 10) * 1000);
        return 0;
    }
    if (command == "flood" && argc == 2)
        return Flood();
    if (command == "pipe" && argc == 3)
        return DrainThroughPipe(argv[2]);
    if (command == "stamp" && argc == 3) {
        FILETIME now;
        GetSystemTimeAsFileTime(&now);
        const ULONGLONG ticks = (static_cast<ULONGLONG>(now.dwHighDateTime) << 32) | now.dwLowDateTime;
        const ULONGLONG UnixEpochTicks = 116444736000000000ULL; // 1970-01-01 in 100 ns since 1601
        return WriteTextFile(argv[2], std::to_string((ticks - UnixEpochTicks) / 10) + "\n") ? 0 : 2;
    }
    return 1;
}
