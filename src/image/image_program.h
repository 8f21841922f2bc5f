// One program taken from a program or disk image, as the computer's ROM
// loader would save it to tape. No toolkit.
#pragma once

#include <cstdint>
#include <string>

struct ImageProgram {
    // The Commodore name: PETSCII bytes, at most 16, without padding.
    std::string name;
    // Where the program loads; the first two bytes of a PRG file.
    std::uint16_t load = 0;
    // The program's bytes after the load address: at least one, and
    // load + bytes.size() never past 0x10000.
    std::string bytes;
};
