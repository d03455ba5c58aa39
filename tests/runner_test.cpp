// End-to-end tests: each case installs an uninstall script at the fixed
// path, runs the program in a fresh working directory with its console sent
// to files (or to a pipe, as a capturing caller gives it), and checks
// log.txt byte for byte, the exit status and what was printed. The suite
// runs only where the fixed path holds no script of an installed
// application (see main).
#include "output_pattern.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <sstream>
#include <string>
#include <tuple>

namespace fs = std::filesystem;

namespace {

// Spelled out again rather than taken from the program, so that a change to
// the program's path is a failure here.
const char* const ScriptPath = "C:\\Program Files\\Tarvik\\Halvern\\uninstall.bat";

const char* const RunnerProgram = "uninstall-runner.exe";
const char* const NoPipeProgram = "uninstall-runner-nopipe.exe";       // CreatePipe fails
const char* const NoThreadProgram = "uninstall-runner-nothread.exe";   // CreateThread fails

// The two ways the program captures: with a reading thread, and on its one
// thread when no reading thread can be started. Both must give the same
// log and neither may hang.
const char* const CapturingPrograms[] = {RunnerProgram, NoThreadProgram};

std::string ProgramName(const ::testing::TestParamInfo<const char*>& info)
{
    return info.param == RunnerProgram ? "Reader" : "NoReaderThread";
}

// A guard against a hang, far beyond any run's time; never a measure of speed.
constexpr DWORD HangGuardMilliseconds = 60000;

fs::path ProgramDirectory()
{
    char path[MAX_PATH];
    GetModuleFileNameA(nullptr, path, MAX_PATH);
    return fs::path(path).parent_path();
}

std::optional<std::string> ReadBytes(const fs::path& path)
{
    std::ifstream file(path, std::ios::binary);
    if (!file)
        return std::nullopt;
    return std::string(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
}

bool WriteBytes(const fs::path& path, const std::string& bytes)
{
    std::ofstream file(path, std::ios::binary | std::ios::trunc);
    file << bytes;
    return file.good();
}

// The run log for a given capture text: every LF written as CR LF, then one
// line end.
std::string LogOf(const std::string& capture)
{
    std::string log;
    for (char c : capture) {
        if (c == '\n')
            log += '\r';
        log += c;
    }
    return log + "\r\n";
}

// The first line of every script the tests write. A script at the fixed path
// without it belongs to an installed application, and the tests leave it
// alone (see main).
const char* const TestScriptMark = "@rem Written by the uninstall-runner tests; safe to delete.";

// Writes the uninstall script (the mark, then the lines, joined with CR LF);
// "{fixture}" stands for the quoted path of the tests' fixture program.
void InstallScript(const std::string& lines)
{
    const std::string fixture = "\"" + (ProgramDirectory() / "runner_fixture.exe").string() + "\"";
    std::string script = std::string(TestScriptMark) + "\r\n";
    std::istringstream input(lines);
    for (std::string line; std::getline(input, line);) {
        for (std::size_t at; (at = line.find("{fixture}")) != std::string::npos;)
            line.replace(at, 9, fixture);
        script += line + "\r\n";
    }
    fs::create_directories(fs::path(ScriptPath).parent_path());
    WriteBytes(ScriptPath, script);
}

void RemoveScript()
{
    std::error_code ignored;
    fs::remove(ScriptPath, ignored);
}

struct RunResult {
    bool ended = false;      // false: the hang guard stopped it
    DWORD exitCode = 0;
    std::string out;          // with a pipe for a console: both streams
    std::string err;
    bool consoleEnded = true; // with a pipe for a console: it reached its end
};

// What the program is given as its standard output and error: files, or one
// pipe that we read to its end, the way a deployment agent or a shell that
// captures its output does.
enum class Console { Files, Pipe };

// Reads a pipe to its end into `text`, on a thread of its own.
struct PipeDrain {
    HANDLE readEnd;
    std::string text;
};

DWORD WINAPI DrainPipe(LPVOID parameter)
{
    PipeDrain& drain = *static_cast<PipeDrain*>(parameter);
    char buffer[4096];
    DWORD got = 0;
    while (ReadFile(drain.readEnd, buffer, sizeof buffer, &got, nullptr))
        drain.text.append(buffer, got);
    return 0;
}

HANDLE OpenInheritable(const fs::path& path, DWORD access, DWORD disposition)
{
    SECURITY_ATTRIBUTES inheritable{sizeof inheritable, nullptr, TRUE};
    return CreateFileA(path.string().c_str(), access, FILE_SHARE_READ | FILE_SHARE_WRITE, &inheritable,
                       disposition, FILE_ATTRIBUTE_NORMAL, nullptr);
}

// Each case gets a directory of its own: `cwd`, where the program runs, and
// beside it the files that stand in for its console.
class RunnerTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
        std::string name = std::string(info->test_suite_name()) + "-" + info->name();
        for (char& c : name)
            if (c == '/')
                c = '-';
        base = fs::temp_directory_path() / "uninstall-runner-tests" / name;
        std::error_code ignored;
        fs::remove_all(base, ignored);
        cwd = base / "cwd";
        fs::create_directories(cwd);
        RemoveScript();

        // Every process of the case runs in this job, so that ending the
        // case ends whatever it left running: a run stopped by the hang
        // guard, the script under it, the background processes it started.
        job = CreateJobObjectA(nullptr, nullptr);
        JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits{};
        limits.BasicLimitInformation.LimitFlags = JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE;
        SetInformationJobObject(job, JobObjectExtendedLimitInformation, &limits, sizeof limits);
    }

    void TearDown() override
    {
        TerminateJobObject(job, 1);
        CloseHandle(job);
        RemoveScript();
        std::error_code ignored;
        fs::remove_all(base, ignored);
    }

    // Runs `program` from the build in `cwd`, with `input` as its standard
    // input and `console` as its standard output and error.
    RunResult Run(const char* program, const std::string& arguments = "", const std::string& input = "",
                  Console console = Console::Files)
    {
        WriteBytes(base / "stdin", input);
        HANDLE in = OpenInheritable(base / "stdin", GENERIC_READ, OPEN_EXISTING);
        HANDLE out = nullptr;
        HANDLE err = nullptr;
        PipeDrain drain{};
        if (console == Console::Files) {
            out = OpenInheritable(base / "stdout", GENERIC_WRITE, CREATE_ALWAYS);
            err = OpenInheritable(base / "stderr", GENERIC_WRITE, CREATE_ALWAYS);
        } else {
            SECURITY_ATTRIBUTES inheritable{sizeof inheritable, nullptr, TRUE};
            CreatePipe(&drain.readEnd, &out, &inheritable, 0);
            SetHandleInformation(drain.readEnd, HANDLE_FLAG_INHERIT, 0);
            err = out;
        }

        STARTUPINFOA startup{};
        startup.cb = sizeof startup;
        startup.dwFlags = STARTF_USESTDHANDLES;
        startup.hStdInput = in;
        startup.hStdOutput = out;
        startup.hStdError = err;
        std::string commandLine = "\"" + (ProgramDirectory() / program).string() + "\" " + arguments;
        const std::string directory = cwd.string();

        RunResult result;
        PROCESS_INFORMATION process{};
        const BOOL started = CreateProcessA(nullptr, &commandLine[0], nullptr, nullptr, TRUE, CREATE_SUSPENDED,
                                            nullptr, directory.c_str(), &startup, &process);
        CloseHandle(in);
        CloseHandle(out);
        if (err != out)
            CloseHandle(err);
        if (!started) {
            ADD_FAILURE() << "could not start " << commandLine << ": error " << GetLastError();
            if (drain.readEnd != nullptr)
                CloseHandle(drain.readEnd);
            return result;
        }
        AssignProcessToJobObject(job, process.hProcess);
        HANDLE drainThread = nullptr;
        if (drain.readEnd != nullptr)
            drainThread = CreateThread(nullptr, 0, DrainPipe, &drain, 0, nullptr);
        ResumeThread(process.hThread);
        CloseHandle(process.hThread);
        result.ended = WaitForSingleObject(process.hProcess, HangGuardMilliseconds) == WAIT_OBJECT_0;
        if (!result.ended)
            TerminateJobObject(job, 1);
        if (drainThread != nullptr) {
            // The pipe ends once every holder of its write end has closed
            // it: the program, and whatever it let inherit that end.
            result.consoleEnded = WaitForSingleObject(drainThread, HangGuardMilliseconds) == WAIT_OBJECT_0;
            if (!result.consoleEnded)
                TerminateJobObject(job, 1);
            WaitForSingleObject(drainThread, INFINITE);
            CloseHandle(drainThread);
            CloseHandle(drain.readEnd);
        }
        GetExitCodeProcess(process.hProcess, &result.exitCode);
        CloseHandle(process.hProcess);
        if (console == Console::Files) {
            result.out = ReadBytes(base / "stdout").value_or("");
            result.err = ReadBytes(base / "stderr").value_or("");
        } else {
            result.out = drain.text;
        }
        return result;
    }

    // What holds for every run: it ends, with status 0, and the script's
    // output never reaches the console.
    static void ExpectQuietRun(const RunResult& result, const std::string& console = "")
    {
        EXPECT_TRUE(result.ended) << "still running after " << HangGuardMilliseconds << " ms";
        EXPECT_TRUE(result.consoleEnded) << "its console pipe was still open " << HangGuardMilliseconds
                                         << " ms after the run";
        EXPECT_EQ(result.exitCode, 0u);
        EXPECT_EQ(result.out, console);
        EXPECT_EQ(result.err, "");
    }

    std::optional<std::string> Log() const { return ReadBytes(cwd / "log.txt"); }

    fs::path base;
    fs::path cwd;
    HANDLE job = nullptr;
};

// --- What the script prints, and what the log keeps of it ---------------

struct OutputCase {
    const char* name;
    const char* script;      // nullptr: no script installed
    std::string capture;     // the text the log must hold before its line end
};

std::ostream& operator<<(std::ostream& stream, const OutputCase& c) { return stream << c.name; }

std::string CountingLines(unsigned count)
{
    std::string lines;
    for (unsigned n = 0; n < count; ++n)
        lines += CountingLine(n);
    return lines;
}

const OutputCase OutputCases[] = {
    {"ShortLine", "@echo hello", "hello\r\n"},
    {"NothingPrinted", "@rem prints nothing", ""},
    {"ScriptMissing", nullptr, ""},
    {"NonZeroExitStatus", "@echo failed\n@exit /b 3", "failed\r\n"},
    {"StandardErrorOnly", "@{fixture} err 6f6f7073", "oops"},
    {"BothStreamsInOrder", "@{fixture} out 31\n@{fixture} err 32\n@{fixture} out 33", "123"},
    {"ZeroByteEndsText", "@{fixture} out 4142004344", "AB"},
    {"BytesAbove127", "@{fixture} out c3a9ff80", "\xc3\xa9\xff\x80"},
    {"CrLfLineEnds", "@{fixture} out 610d0a620d0a", "a\r\nb\r\n"},
    {"ExactlyFullBuffer", "@{fixture} fill 4096 4096", CountingBytes(4096)},
    {"LongerThanBuffer", "@{fixture} fill 100000 1000", CountingBytes(4096)},
    {"MoreThanPipeHolds", "@{fixture} fill 4194304 65536", CountingBytes(4096)},
    {"ManyShortWrites", "@{fixture} lines 3000", CountingLines(3000).substr(0, 4096)},
    {"OutputBeforeAndAfterFill", "@echo first\n@{fixture} fill 8000 8000\n@echo last", ("first\r\n" + CountingBytes(8000)).substr(0, 4096)},
};

class Output : public RunnerTest, public ::testing::WithParamInterface<std::tuple<OutputCase, const char*>> {};

TEST_P(Output, LogHoldsStartOfOutput)
{
    const auto& [output, program] = GetParam();
    if (output.script != nullptr)
        InstallScript(output.script);
    ExpectQuietRun(Run(program));
    EXPECT_EQ(Log(), LogOf(output.capture));
}

INSTANTIATE_TEST_SUITE_P(Scripts, Output,
                         ::testing::Combine(::testing::ValuesIn(OutputCases), ::testing::ValuesIn(CapturingPrograms)),
                         [](const auto& info) {
                             return std::string(std::get<0>(info.param).name) + "_" +
                                    ProgramName({std::get<1>(info.param), info.index});
                         });

// --- The run's surroundings ----------------------------------------------

TEST_F(RunnerTest, ArgumentsAreIgnored)
{
    InstallScript("@echo hello");
    ExpectQuietRun(Run(RunnerProgram, "/? --help \"C:\\some other.bat\""));
    EXPECT_EQ(Log(), LogOf("hello\r\n"));
}

TEST_F(RunnerTest, ReplacesALongerLog)
{
    WriteBytes(cwd / "log.txt", std::string(10000, 'x'));
    InstallScript("@echo hello");
    ExpectQuietRun(Run(RunnerProgram));
    EXPECT_EQ(Log(), LogOf("hello\r\n"));
}

TEST_F(RunnerTest, LogThatCannotBeOpenedIsNotFatal)
{
    fs::create_directory(cwd / "log.txt");
    InstallScript("@echo hello");
    ExpectQuietRun(Run(RunnerProgram));
    EXPECT_TRUE(fs::is_directory(cwd / "log.txt"));
}

TEST_F(RunnerTest, ScriptReadsTheProgramsInput)
{
    InstallScript("@set /p ANSWER=\n@echo got %ANSWER%");
    ExpectQuietRun(Run(RunnerProgram, "", "yes\r\n"));
    EXPECT_EQ(Log(), LogOf("got yes\r\n"));
}

TEST_F(RunnerTest, PipeFailureIsReportedAndTheScriptStillRuns)
{
    // The script outlasts a short sleep and leaves a file behind, so the
    // file shows that the program waited for it.
    InstallScript("@echo not captured\n@{fixture} sleep 500\n@echo done> waited.txt");
    ExpectQuietRun(Run(NoPipeProgram), "Create Pipe fail");
    EXPECT_EQ(Log(), LogOf(""));
    EXPECT_TRUE(fs::exists(cwd / "waited.txt"));
}

// --- Background processes that keep the pipe --------------------------------

// What a fixture in the background wrote about itself: its process id and
// whether its standard output was the pipe.
struct Background {
    DWORD pid = 0;
    bool holdsPipe = false;
};

std::optional<Background> ReadBackground(const fs::path& record)
{
    const auto text = ReadBytes(record);
    if (!text)
        return std::nullopt;
    std::istringstream fields(*text);
    Background background;
    std::string kind;
    fields >> background.pid >> kind;
    background.holdsPipe = kind == "pipe";
    return background;
}

bool IsRunning(DWORD pid)
{
    HANDLE process = OpenProcess(SYNCHRONIZE, FALSE, pid);
    if (process == nullptr)
        return false;
    const bool running = WaitForSingleObject(process, 0) == WAIT_TIMEOUT;
    CloseHandle(process);
    return running;
}

bool WaitForFile(const fs::path& path)
{
    for (DWORD waited = 0; waited < HangGuardMilliseconds; waited += 20) {
        if (fs::exists(path))
            return true;
        Sleep(20);
    }
    return false;
}

class BackgroundHolder : public RunnerTest,
                         public ::testing::WithParamInterface<std::tuple<const char*, Console>> {};

// An uninstaller that relaunches itself and lets the first copy exit: the
// copy holds the pipe's write end for five minutes, and neither the run nor
// its caller may wait for it. A caller that reads the program's output
// through a pipe (a deployment agent, a shell capturing it) waits for that
// pipe's end, so the program's own output handles must not reach the script.
TEST_P(BackgroundHolder, KeepsNeitherTheRunNorItsCallerWaiting)
{
    const auto& [program, console] = GetParam();
    InstallScript("@echo before\n@{fixture} spawn hold 300");
    const RunResult result = Run(program, "", "", console);
    const auto holder = ReadBackground(cwd / "hold.txt");
    const bool holderOutlivedRun = holder && IsRunning(holder->pid);

    ExpectQuietRun(result);
    EXPECT_EQ(Log(), LogOf("before\r\n"));
    ASSERT_TRUE(holder) << "the background holder never started";
    EXPECT_TRUE(holder->holdsPipe);
    EXPECT_TRUE(holderOutlivedRun) << "the run, or the caller's pipe, waited for the holder to end";
}

INSTANTIATE_TEST_SUITE_P(Programs, BackgroundHolder,
                         ::testing::Combine(::testing::ValuesIn(CapturingPrograms),
                                            ::testing::Values(Console::Files, Console::Pipe)),
                         [](const auto& info) {
                             return ProgramName({std::get<0>(info.param), info.index}) +
                                    (std::get<1>(info.param) == Console::Pipe ? "_CallerReadsAPipe" : "_ConsoleToFiles");
                         });

// A background process that keeps writing after the run has ended must see
// its writes fail, not block forever: nothing but the program itself may
// hold the pipe's read end.
TEST_F(RunnerTest, BackgroundWriterSeesThePipeClose)
{
    InstallScript("@echo before\n@{fixture} spawn flood");
    const RunResult result = Run(RunnerProgram);
    const bool floodEnded = WaitForFile(cwd / "flood-ended.txt");
    const auto flooder = ReadBackground(cwd / "flood.txt");

    ExpectQuietRun(result);
    const std::string logStart = "before\r\r\n";
    EXPECT_EQ(Log().value_or("").substr(0, logStart.size()), logStart);
    ASSERT_TRUE(flooder) << "the background writer never started";
    EXPECT_TRUE(flooder->holdsPipe);
    EXPECT_TRUE(floodEnded) << "the background writer was still blocked in a write";
}

// --- The executable itself -------------------------------------------------

std::string VersionString(const std::string& record, const char* name)
{
    char* value = nullptr;
    UINT size = 0;
    const std::string key = std::string("\\StringFileInfo\\040904B0\\") + name;
    if (!VerQueryValueA(record.data(), key.c_str(), reinterpret_cast<void**>(&value), &size) || size == 0)
        return "(missing)";
    return std::string(value, size - 1);
}

TEST(Executable, VersionRecordMatchesTheProject)
{
    const std::string path = (ProgramDirectory() / RunnerProgram).string();
    DWORD ignored = 0;
    std::string record(GetFileVersionInfoSizeA(path.c_str(), &ignored), '\0');
    ASSERT_FALSE(record.empty()) << "no version record";
    ASSERT_TRUE(GetFileVersionInfoA(path.c_str(), 0, static_cast<DWORD>(record.size()), &record[0]));

    EXPECT_EQ(VersionString(record, "FileVersion"), UNINSTALL_RUNNER_VERSION);
    EXPECT_EQ(VersionString(record, "ProductVersion"), UNINSTALL_RUNNER_VERSION);
    EXPECT_EQ(VersionString(record, "OriginalFilename"), "uninstall-runner.exe");
    EXPECT_NE(VersionString(record, "FileDescription").find("uninstall script"), std::string::npos);

    VS_FIXEDFILEINFO* fixed = nullptr;
    UINT size = 0;
    ASSERT_TRUE(VerQueryValueA(record.data(), "\\", reinterpret_cast<void**>(&fixed), &size));
    const std::string numeric = std::to_string(HIWORD(fixed->dwFileVersionMS)) + "." +
                                std::to_string(LOWORD(fixed->dwFileVersionMS)) + "." +
                                std::to_string(HIWORD(fixed->dwFileVersionLS));
    EXPECT_EQ(numeric, UNINSTALL_RUNNER_VERSION);
    EXPECT_EQ(LOWORD(fixed->dwFileVersionLS), 0u);
}

TEST(Executable, AsksForNoElevation)
{
    const std::string path = (ProgramDirectory() / RunnerProgram).string();
    HMODULE image = LoadLibraryExA(path.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE);
    ASSERT_NE(image, nullptr);
    HRSRC resource = FindResourceA(image, MAKEINTRESOURCEA(1), MAKEINTRESOURCEA(24)); // RT_MANIFEST
    ASSERT_NE(resource, nullptr) << "no application manifest";
    const char* data = static_cast<const char*>(LockResource(LoadResource(image, resource)));
    const std::string manifest(data, SizeofResource(image, resource));
    FreeLibrary(image);

    EXPECT_NE(manifest.find("<requestedExecutionLevel level=\"asInvoker\" uiAccess=\"false\"/>"),
              std::string::npos)
        << manifest;
}

// --- The tests' own care for the machine -----------------------------------

const char* const TestsProgram = "runner_tests.exe";

// A script at the fixed path that these tests did not write makes the whole
// suite refuse to run, and stays exactly as it was.
TEST_F(RunnerTest, SuiteLeavesAForeignScriptAlone)
{
    const std::string foreign = "@echo off\r\nrem the application's own uninstaller\r\necho removing\r\n";
    fs::create_directories(fs::path(ScriptPath).parent_path());
    ASSERT_TRUE(WriteBytes(ScriptPath, foreign));

    const RunResult result = Run(TestsProgram, "--gtest_filter=Scripts/Output.LogHoldsStartOfOutput/ShortLine_Reader");

    EXPECT_TRUE(result.ended);
    EXPECT_NE(result.exitCode, 0u);
    EXPECT_NE(result.out.find(ScriptPath), std::string::npos) << result.out;
    EXPECT_NE(result.out.find("Move it aside"), std::string::npos) << result.out;
    EXPECT_EQ(result.out.find("[ RUN"), std::string::npos) << "a case ran:\n" << result.out;
    EXPECT_EQ(ReadBytes(ScriptPath), foreign);
}

// What the suite needs of the fixed path before its first case: nothing of
// an installed application there, and the right to write there. Returns the
// reason it cannot run, or nothing. `created` is set to the outermost folder
// on the way to the script that did not exist before, so that it can be
// removed once the suite has ended.
std::optional<std::string> ClaimScriptPath(fs::path& created)
{
    const fs::path script = ScriptPath;
    std::error_code error;
    if (fs::exists(script, error)) {
        const std::string text = ReadBytes(script).value_or("");
        if (text.compare(0, std::strlen(TestScriptMark), TestScriptMark) != 0)
            return std::string(ScriptPath) +
                   " is there and was not written by these tests: it is an installed application's "
                   "uninstall script, which the tests would overwrite. Move it aside while the tests run, "
                   "or run them on a machine without the application.";
    }

    for (fs::path folder = script.parent_path(); !fs::exists(folder, error); folder = folder.parent_path())
        created = folder;
    fs::create_directories(script.parent_path(), error);
    if (error || !WriteBytes(script, std::string(TestScriptMark) + "\r\n")) {
        if (!created.empty())
            fs::remove_all(created, error);
        created.clear();
        return "cannot write " + std::string(ScriptPath) +
               ", where every case puts its script. Run the tests as an administrator "
               "(from a command prompt started with \"Run as administrator\").";
    }
    fs::remove(script, error);
    return std::nullopt;
}

} // namespace

int main(int argc, char** argv)
{
    ::testing::InitGoogleTest(&argc, argv);
    if (GTEST_FLAG_GET(list_tests))
        return RUN_ALL_TESTS();

    fs::path created;
    if (const auto refusal = ClaimScriptPath(created)) {
        std::printf("runner_tests: not run: %s\n", refusal->c_str());
        return 2;
    }
    const int status = RUN_ALL_TESTS();
    std::error_code ignored;
    if (!created.empty())
        fs::remove_all(created, ignored);
    return status;
}
