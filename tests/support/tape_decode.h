// A second reading of the client's tapes, written apart from its encoders
// and scanner so that each checks the other: pulse by pulse, with only the
// ideal pulse values and pauses allowed. ROM-loader files (0x30, 0x42, 0x56),
// each of which may be followed by a program for the fast loader (0x1A for
// a 0, 0x28 for a 1).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

struct DecodedProgram {
    std::size_t offset;     // file offset of the header leader's first pulse
    unsigned header_leader; // short pulses before the header's first copy
    unsigned data_leader;   // and before the data block's
    unsigned type;
    unsigned start, end; // as the header holds them
    std::string name;    // all 16 bytes, padding included
    std::string body;    // the header's bytes after the name
    std::string bytes;   // the data block's payload
    // After the data block, for the fast loader: the 192 header bytes, and
    // the data block's bytes between its ID and its XOR (both empty if none).
    std::string fast_header, fast_bytes;
};

struct DecodedTape {
    std::vector<DecodedProgram> programs;
    std::vector<std::uint32_t> pauses; // each pause's cycles, in tape order
    // Anything off: the TAP header (version 1, length field), a pulse of
    // another value, a bit that is no (S, M) or (M, S) pair, an even parity,
    // a countdown, a checksum, copies that differ, a gap other than 79 or a
    // trailer other than 78 short pulses, a header that is not 192 bytes, a
    // block not followed by a pause. For the fast loader: a pulse of another
    // value, a pilot of fewer than 256 bytes 0x02, a countdown other than
    // 0x09..0x01, a data block's ID other than 0, its XOR, no 0x1A after it.
    unsigned errors = 0;
};

// Reads the tape as programs made of a header block, a pause, a data block
// and, after the program for the fast loader if there is one, a pause each.
DecodedTape test_tape_decode(const std::string &tap);
