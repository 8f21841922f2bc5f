// Makes TAP tape images for tests, benchmarks and the demo, so that no
// third-party tape image has to be shipped.
//
// A TAP file is a 20-byte header ("C64-TAPE-RAW", version, three reserved
// bytes, the data length as 32-bit little endian) followed by pulse bytes:
// a byte b other than 0 is a pulse of 8 * b clock cycles, a 0 is followed by
// three bytes that give the pulse length in cycles, least significant first.
#pragma once

#include "tape/tape_info.h"
#include "tape/tape_rom.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

// A valid TAP file (version 1, length field right) of about `seconds` of
// tape with realistic content: pilot tones of short pulses, bytes encoded as
// groups of short/medium/long pulses, and long pauses (zero-byte pulses of
// 0.2 to 1 s) between blocks. The same seed always gives the same file.
std::string tap_make(double seconds, unsigned seed = 1);

// How tap_make_programs writes programs: the ROM loader's layout, and the
// flaws of real tapes.
struct TapProgramsOptions {
    TapRomOptions rom;
    double drift_percent = 0; // every pulse this much longer (negative: shorter)
    unsigned jitter = 1;      // and then off by up to this many units either way
    unsigned noise = 0;       // random pulses (0x10-0xFF) right before each leader
    // The files (by their index) whose header has a wrong checksum in its
    // first copy, and in its repeated copy.
    std::vector<std::size_t> bad_first_copies, bad_repeats;
    unsigned seed = 1;
};

// `files` as the computer's ROM loader saves them (tape/tape_rom.h), with
// the flaws of `options`: for the tape scanner's tests and benchmark, and
// the demo. The same files and options always give the same tape.
TapRomTape tap_make_programs(const std::vector<TapRomFile> &files,
                             const TapProgramsOptions &options = {});

// A TAP file whose pulse data is exactly `data` (header built around it).
std::string tap_wrap(const std::string &data);

// IDX text with a few records for `tap` (CR LF lines): "0x14\t\tTape start"
// and records at the starts of the blocks that follow long pauses (or, for
// data without pauses, one in the middle). Offsets always fall on pulse
// boundaries inside the data.
std::string tap_make_idx(const std::string &tap);

// Total length in clock cycles of the pulse bytes `data` (no header). A
// zero byte whose three count bytes are cut off by the end adds nothing.
std::uint64_t tap_data_cycles(const std::string &data);

// The data length field of a TAP file; 0 for text shorter than a header.
std::uint32_t tap_length_field(const std::string &tap);
