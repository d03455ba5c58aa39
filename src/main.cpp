// Runs the uninstall script and writes the start of what it printed to the
// run log in the current directory.
#include "capture_launch.h"

#include <algorithm>
#include <fstream>

namespace {

constexpr const char* UninstallScriptPath = "C:\\Program Files\\Tarvik\\Halvern\\uninstall.bat";

// Relative on purpose: the log lands in the directory the program is run
// from, not in the one that holds the program.
constexpr const char* LogFileName = "log.txt";

void WriteRunLog(const char (&captureBuffer)[CaptureBufferSize])
{
    // The capture text ends at the first zero byte. A script that printed
    // the whole buffer leaves none, so the search stops at the buffer's end.
    const char* captureEnd = std::find(captureBuffer, captureBuffer + CaptureBufferSize, '\0');

    // Text mode, truncating: every LF is written as CR LF. The runtime opens
    // the file shared, so others may read it while it is being written. A log
    // that cannot be opened leaves the stream failed and the writes inert.
    std::ofstream log(LogFileName);
    log.write(captureBuffer, captureEnd - captureBuffer);
    log << std::endl;
}

} // namespace

int main()
{
    char captureBuffer[CaptureBufferSize];
    RunAndCapture(UninstallScriptPath, captureBuffer);
    WriteRunLog(captureBuffer);
    return 0;
}
