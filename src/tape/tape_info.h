// What a TAP file is, before anything plays it: its header checked against
// its size, and the tape time of any byte offset, counted the way the player
// counts the buffer time. Pure functions over the file's bytes; no toolkit.
//
// The whole file is passed in (`file`, `size`), header included, so that
// offsets are file offsets as in the IDX file: 20 is the first data byte.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

// What a TAP file begins with: a C64 tape, or one of the C16, C116 and
// Plus/4 (of the same size).
inline constexpr char tape_signature[] = "C64-TAPE-RAW";
inline constexpr char tape_signature_c16[] = "C16-TAPE-RAW";
inline constexpr std::size_t tape_signature_size = sizeof tape_signature - 1;
// The header's size, and so the offset of the first data byte.
inline constexpr std::size_t tape_header_size = 20;
// Clock cycles per second that pulse lengths refer to.
inline constexpr std::uint32_t tape_clock_hz = 985248;

// Writes the header over the first tape_header_size bytes of `tap`: the
// signature, `version` and the length of what follows.
void tape_write_header(std::string &tap, unsigned version);

// The first thing wrong with a file as a TAP file, in this order of
// precedence.
enum class TapeProblem {
    none,
    too_short,           // fewer bytes than the 20-byte header
    no_signature,        // bytes 0-11 are neither "C64-TAPE-RAW" nor "C16-TAPE-RAW"
    unsupported_version, // byte 12 is not 0 or 1 (2 is a C16/+4 tape)
    wrong_length,        // bytes 16-19 do not give the number of bytes after the header
};

struct TapeCheck {
    TapeProblem problem;
    // The rest describes what is there, whatever the problem; a file too
    // short for a header has version 0, length field 0 and no data.
    unsigned version;           // byte 12
    std::uint32_t length_field; // bytes 16-19, little endian
    std::uint64_t data_length;  // the bytes after the header, as the player sends them
    std::uint64_t cycles;       // tape time of those bytes (tape_cycles_at)
};

TapeCheck tape_check(const unsigned char *file, std::size_t size);

// Whether the scanner reads pulses from a file with this check: versions 0
// and 1 with their signature, even with a wrong length field (the player
// sends every byte up to the end of the file, and so does the scan).
bool tape_scannable(const TapeCheck &check);

// Whether the device plays a file with this check: a signature and version
// 0, 1 or 2. A length field that disagrees with the file's size is common
// and does not matter (every byte up to the end of the file is sent).
bool tape_playable(const TapeCheck &check);

// Tape time in clock cycles from the first data byte up to `offset`: the
// sum over the data bytes before it, where a byte b > 0 is 8 * b cycles and
// a zero byte is followed by a 24-bit count, least significant byte first,
// whatever the version (the player's count). A count that `offset` cuts
// off adds nothing. Offsets inside the header are 0 (the player starts at
// the data); offsets past the end of the file (beyond `size`) have no time.
// The sum is not wrapped at 32 bits.
std::optional<std::uint64_t> tape_cycles_at(const unsigned char *file, std::size_t size,
                                            std::size_t offset);

// The same for many offsets in one pass over the file, in the order given.
std::vector<std::optional<std::uint64_t>>
tape_cycles_at_each(const unsigned char *file, std::size_t size,
                    const std::vector<std::size_t> &offsets);

// The pulse count over bytes that come in pieces: a byte b > 0 is 8 * b
// cycles, a zero byte is followed by a 24-bit count, least significant byte
// first. A count split between two pieces adds its exact value once its last
// byte has come.
struct TapePulseCounter {
    std::uint64_t cycles = 0;
    unsigned pending = 0;      // bytes of a 24-bit count still to come
    std::uint32_t partial = 0; // the bytes of that count seen so far

    void add(unsigned char b)
    {
        if (pending == 0) {
            if (b != 0)
                cycles += 8u * b;
            else
                pending = 3;
            return;
        }
        partial |= std::uint32_t(b) << (8 * (3 - pending));
        if (--pending == 0) {
            cycles += partial;
            partial = 0;
        }
    }
    void add(const unsigned char *bytes, std::size_t length)
    {
        for (std::size_t i = 0; i < length; ++i)
            add(bytes[i]);
    }
};

// "m:ss" for whole seconds of `cycles`, minutes not capped ("60:00" for an
// hour), like the buffer time.
std::string tape_time_text(std::uint64_t cycles);
