// Fast tapes: programs that load through a loader of the client's own
// (tape_fast_loader.s), at some 466 bytes a second against the ROM loader's
// 52: a 40 KB program in under two minutes instead of over thirteen. Needs
// only the standard library; the same files give the same bytes.
//
// Each program is, from its record on:
// - A boot for the ROM loader, as a real SAVE writes it (tape_rom_saved, but
//   for the second of silence after it): a header of type 3 named as the
//   program, whose bytes after the name are the loader's body, and a data
//   block of the loader's boot. LOAD at the BASIC prompt ends in
//   JMP ($0302), which the boot has set to its own first byte, SEI ($78).
// - At once after it, the program for the loader: 8 pulses a byte, most
//   significant bit first, 0x1A (208 cycles) for a 0 and 0x28 (320 cycles)
//   for a 1, and nothing else. Two blocks, each 256 pilot bytes 0x02 and the
//   countdown 0x09..0x01: the header, 192 bytes (ID 1 for a program at
//   $0801, else 2; the start address; the end address, exclusive, 0 for
//   $10000; a 0; the name padded with blanks to 16; blanks), and with
//   nothing between, the data block (ID 0, the program's bytes, their XOR),
//   then 8 pulses 0x1A: the edge that ends the last bit, and a margin.
// - A second of silence.
//
// The loader, until the program is in and checked, calls nothing in ROM. It
// sets the interrupt mask (SEI), blanks the screen ($D011 bit 4 clear),
// starts the motor ($01 bit 5 clear) and clears CIA2's interrupt mask ($7F
// to $DD0D), so that no interrupt of either CIA comes. For each pulse it
// waits for CIA1's FLAG ($DC0D bit 4, an edge on the read line), then reads
// CIA2's timer A flag ($DD0D bit 0) and starts the timer again, one-shot
// from its latch of 259 (CRA $DD0E = $19): a pulse is a 1 when the timer
// started at its first edge ran out before its last, that is from about
// 268 cycles, 52 cycles from either pulse on a PAL machine (208 and 320
// cycles) and on an NTSC one (216 and 332 of its cycles). A pilot byte that
// comes bit by bit puts it in step with the bytes.
//
// Then it leaves what a LOAD leaves: the screen on, the motor off ($01 bit 5
// set, and $C0 not 0, so that the KERNAL's interrupt leaves it off),
// $0302/$0303 = $83,$A4, the end address in $2D/$2E and $AE/$AF (and in
// $AC/$AD, where the start address was). With CLI as the last instruction
// before it, it jumps to one of the tape_fast_exit_* entries.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

// Where the loader leaves the computer: the first ROM address it reaches.
//
// BASIC's RUN statement, entered as for a line that holds RUN alone: Z set
// and the statement loop's entry less one ($A7AD) on the stack to return
// to. A BASIC program (header ID 1) loaded whole with its XOR right.
inline constexpr std::uint16_t tape_fast_exit_run = 0xA871;
// BASIC's READY. prompt: any other program loaded whole with its XOR right.
inline constexpr std::uint16_t tape_fast_exit_ready = 0xA474;
// BASIC's error entry with X = tape_fast_load_error, ?LOAD ERROR: the data
// block's XOR does not hold.
inline constexpr std::uint16_t tape_fast_exit_load_error = 0xA437;
inline constexpr unsigned char tape_fast_load_error = 0x1D;

// The loader as the build assembles it. The body goes where the header
// block leaves the bytes after the name; the boot is the data block, which
// ends with BASIC's vectors: $0300/$0301 = $8B,$E3 as ever, $0302/$0303 =
// tape_fast_boot_start.
inline constexpr std::uint16_t tape_fast_body_start = 0x0351;
inline constexpr std::size_t tape_fast_body_size = 171; // to $03FB
inline constexpr std::uint16_t tape_fast_boot_start = 0x02A7;
inline constexpr std::size_t tape_fast_boot_size = 93; // to $0303
extern const std::array<unsigned char, tape_fast_body_size> tape_fast_body;
extern const std::array<unsigned char, tape_fast_boot_size> tape_fast_boot;

struct TapFastFile {
    std::uint16_t start = 0x0801;
    std::string name; // PETSCII bytes, padded with 0x20 or cut to 16
    std::string data;
};

// Whether the loader carries `size` bytes to `start`: at least one byte, none
// below $0400 (where the loader itself, the zero page and the stack lie), none
// in the I/O area $D000-$DFFF and none past $FFFF.
bool tape_fast_carries(std::uint16_t start, std::size_t size);

struct TapFastTape {
    std::string tap; // the whole file, TAP version 1
    // Each file's record: the first pulse of its first header leader.
    std::vector<std::size_t> leaders;
    // The files (their index, in order) that the loader cannot carry,
    // written as a real SAVE writes them instead, with the same second of
    // silence after them.
    std::vector<std::size_t> rom_only;
};

TapFastTape tape_fast_make(const std::vector<TapFastFile> &files);
