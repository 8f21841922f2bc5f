// Tapes as the computer's ROM loader writes them: every file is a header
// block (type, addresses, name) and a data block, each written twice (first
// copy with the countdown 0x89..0x81, a gap of 79 short pulses, the repeat
// with 0x09..0x01, a trailer of 78 short pulses), each after its leader of
// short pulses. Every pulse has its ideal length (short 0x30, medium 0x42,
// long 0x56). Needs only the standard library and the TAP constants of
// tape_info.h; the same files and options give the same bytes.
#pragma once

#include "tape/tape_info.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

struct TapRomFile {
    unsigned char type = 1; // 1 BASIC, 3 fixed address, 4 data file, 5 end of tape
    std::uint16_t start = 0x0801;
    std::string name; // PETSCII bytes, padded with 0x20 or cut to 16
    // The data block (none when empty). The header's end address is
    // start + size, cut to 16 bits: a block that ends at $FFFF gives 0.
    std::string data;
    // The header's bytes after the name (21-191, which a LOAD leaves at
    // $0351-$03FB): these, cut to 171, then blanks (0x20).
    std::string body = {};
};

struct TapRomOptions {
    // Silence before each file (after each with pause_after, so that the
    // first leader starts at the first data byte) of pause_cycles, and
    // between each header and data block when data_pause_cycles is not 0.
    bool pauses = true;
    bool pause_after = false;
    std::uint32_t pause_cycles = tape_clock_hz / 2;
    std::uint32_t data_pause_cycles = 0;
    unsigned version = 1;                 // 0: a pause is one overflow byte 0, whatever its length
    std::uint32_t header_leader = 0x6A00; // short pulses before a header
    std::uint32_t data_leader = 0x1A00;   // short pulses before a data block
};

struct TapRomTape {
    std::string tap; // the whole file, length field right
    // File offset of the first pulse of each file's header leader, and of
    // each data block's leader (a file without data has none).
    std::vector<std::size_t> leaders, data_leaders;
};

TapRomTape tape_rom_make(const std::vector<TapRomFile> &files, const TapRomOptions &options = {});

// Where BASIC programs load.
inline constexpr std::uint16_t tape_rom_basic_start = 0x0801;

// A program as a real SAVE writes it: type 1 when it loads at
// tape_rom_basic_start, else 3.
TapRomFile tape_rom_program(std::uint16_t start, const std::string &name, const std::string &data);

// The layout of a real SAVE: 27136 short pulses before each header, a third
// of a second of silence and 5376 short pulses before each data block, and a
// second of silence after each file.
TapRomOptions tape_rom_saved();

// Plain text as a file name: lower-case letters in capitals, the rest as is.
std::string tape_rom_petscii(const std::string &text);
