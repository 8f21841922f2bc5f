// The computer's ROM tape format read back from pulses, as the KERNAL's
// tape routine reads it: for the model computer at the far end of the
// emulated device (--computer). Each block is a leader of short pulses, a
// countdown ($89..$81 for the first copy, $09..$01 for the repeat), the
// payload, a checksum byte (the XOR of the payload) and an end marker.
// Bytes are a marker (long, medium), eight bits least significant first
// (0 = short, medium; 1 = medium, short) and an odd-parity bit. Plain C++.
#pragma once

#include <cstdint>
#include <string>

struct RomBlock {
    bool repeat = false; // the second copy ($09..$01)
    bool sound = false;  // parity and checksum hold
    std::string payload; // without countdown and checksum
};

struct RomBlockReader {
    // Internal: the pulses of the block being read.
    int state = 0;
    std::uint32_t shorts = 0;
    std::uint32_t first = 0; // the first pulse of a pair, 0 when none
    unsigned bits = 0, bit_count = 0;
    bool parity_ok = true;
    std::string bytes;
};

// Takes one pulse of `cycles`; true when it completed a block, which is then
// in *block (the reader starts over). A pulse that fits nowhere in a block
// drops the block being read.
bool rom_blocks_take(RomBlockReader &reader, std::uint32_t cycles, RomBlock *block);
