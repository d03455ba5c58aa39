// Starting the uninstall script with its output captured.
#pragma once

#include <cstddef>

// The run log keeps at most this many bytes of what the script printed.
constexpr std::size_t CaptureBufferSize = 4096;

// Starts `scriptPath` as a hidden child whose standard output and standard
// error both run into one pipe, and returns once the child has ended and its
// output has been read. `captureBuffer` then holds the first bytes of that
// output, in the order written, followed by zero bytes to its end; when the
// output filled it, no zero byte follows. Nothing is reported to the caller:
// a child that could not be started leaves the buffer all zero.
void RunAndCapture(const char* scriptPath, char (&captureBuffer)[CaptureBufferSize]);
