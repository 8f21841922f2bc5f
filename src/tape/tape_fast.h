// The fast loader (tape_fast_loader.s), 6502 code of the client's own that
// the build assembles: a boot that a file for the computer's ROM loader
// carries, and that then reads a program at some 466 bytes a second against
// the ROM loader's 52. LOAD at the BASIC prompt ends in JMP ($0302), which
// the boot's data block sets to its own first byte, SEI ($78).
//
// It reads two blocks of bytes, 8 pulses each, most significant bit first,
// 208 cycles for a 0 and 320 for a 1, each behind a pilot of $02 bytes and
// the countdown $09..$01: a header of 192 bytes (ID 1 for a BASIC program
// or 2, the start address, the end address, exclusive) and the data block
// (ID 0, the program's bytes, their XOR).
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
// $0302/$0303 = $83,$A4, the end address in $2D/$2E and $AE/$AF (the start
// address is lost). With CLI as the last instruction before it, it jumps to
// one of the tape_fast_exit_* entries.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

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
