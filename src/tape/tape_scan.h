// Finds the programs on a tape: the header blocks that the computer's ROM
// loader writes in front of every file, and the header blocks of Turbotape
// 250, the fast format many tapes of the era (and the client's fast tapes)
// use, decoded from the TAP file's pulses. Pure functions over the file's
// bytes; no toolkit.
//
// A tape whose programs load through another loader of their own shows only
// the programs that those two formats announce.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

// Header types worth a record: 1 a program loadable anywhere (BASIC),
// 3 a program at a fixed address, 4 a data file, 5 the end-of-tape marker.
struct TapeProgram {
    // File offset of the first pulse of the leader in front of the header's
    // first copy: playing from here lets the computer lock on and find it.
    // Where noise, or a previous block's trailer with no pause between,
    // runs straight into the leader, the offset lies a few pulses (at most
    // about 20) into it, since the border cannot be told exactly.
    std::size_t offset;
    std::uint64_t cycles; // tape time at `offset` (tape_cycles_at)
    unsigned type;
    std::uint16_t start; // load address
    std::uint16_t end;   // the address after the last byte, as the header holds it
    std::string name;    // UTF-8 (tape_name_text)
    // A Turbotape 250 header: `offset` is the first pulse of its pilot and
    // `type` its ID (1 a BASIC program, 2 any other).
    bool turbo = false;
};

// Every program on the tape, in tape order. A ROM header is taken from its first
// copy when that copy reads without a fault (check bits, countdown,
// checksum), else from the repeated copy; a header readable in neither copy
// is left out. The data block of a program exactly 192 bytes long is not
// taken for a header. Pulse classes follow each leader's measured short
// pulse, so motor speeds some 10% off and jitter of a few units read fine.
// The scan covers every byte from the header to the end of the file,
// whatever the length field says, and finds nothing in a file that
// tape_scannable() refuses. A Turbotape 250 header is found after a pilot of
// at least 32 bytes $02 and the sync $09..$01, with its ID 1 or 2 and all
// its 192 bytes in pulses that read as bits (up to $1F a 0, from $21 to $32
// a 1, most significant bit first). Linear in `size`.
std::vector<TapeProgram> tape_scan(const unsigned char *file, std::size_t size);

// A header's 16-byte file name as text: 0x20-0x5B as themselves, 0x5C '£',
// 0x5E '↑', 0x5F '←', 0xC1-0xDA the capital letters, '?' for any other byte
// (graphic and control characters); trailing blanks removed.
std::string tape_name_text(const std::array<unsigned char, 16> &name);
