// A second reading of ROM-loader tapes, written apart from the client's
// encoder and scanner so that each checks the other: pulse by pulse, with
// only the ideal pulse values (0x30, 0x42, 0x56) and pauses allowed.
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
    std::string bytes;   // the data block's payload
};

struct DecodedTape {
    std::vector<DecodedProgram> programs;
    std::vector<std::uint32_t> pauses; // each pause's cycles, in tape order
    // Anything off: the TAP header (version 1, length field), a pulse of
    // another value, a bit that is no (S, M) or (M, S) pair, an even parity,
    // a countdown, a checksum, copies that differ, a gap other than 79 or a
    // trailer other than 78 short pulses, a header that is not 192 bytes with
    // blanks after the name, and a block not followed by a pause.
    unsigned errors = 0;
};

// Reads the tape as programs made of a header block, a pause, a data block
// and a pause each.
DecodedTape test_tape_decode(const std::string &tap);
