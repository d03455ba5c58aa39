// Output the fixture program prints and the tests expect back. Every piece
// names its own position, so bytes lost, repeated or reordered anywhere
// change what the log holds.
#pragma once

#include <cstdio>
#include <string>

// The first `count` bytes of "0000000 0000001 0000002 ...": no line ends, no
// zero bytes, so the log holds it unchanged.
inline std::string CountingBytes(std::size_t count)
{
    std::string bytes;
    bytes.reserve(count + 8);
    char piece[16];
    for (unsigned n = 0; bytes.size() < count; ++n) {
        std::snprintf(piece, sizeof piece, "%07u ", n);
        bytes += piece;
    }
    bytes.resize(count);
    return bytes;
}

// Line `n` of the fixture's "lines" output, with its LF line end.
inline std::string CountingLine(unsigned n)
{
    char line[24];
    std::snprintf(line, sizeof line, "line %06u\n", n);
    return line;
}
