// The model computer at the far end of the emulated device: a C64-like PAL
// machine that receives the tape's pulses on its cassette read line and runs
// a loader until the loader jumps into the ROM.
//
// Time is counted in cycles of the CPU clock from 0 (`C64::clock`). An access
// the CPU makes in cycle t sees every event of cycles up to and including t.
//
// Memory: 64 KB of RAM, with the I/O area $D000-$DFFF always mapped over it.
// $A000-$BFFF and $E000-$FFFF read and write as RAM, but the run ends as soon
// as the PC reaches an address there: that is where BASIC and the KERNAL have
// their entries (READY, RUN, ?LOAD ERROR...), and a loader ends by jumping to
// one of them. An interrupt through a vector that points there ends it too.
//
// Processor port: $00 is the direction of each bit (1 = output), $01 the
// data. An output bit reads what was written; an input bit reads 1, except
// bit 4, the cassette sense, which reads 0: PLAY is pressed. Bit 5 is the
// cassette motor: on while it reads 0 (so also off while it is an input).
//
// Cassette read line: the pulses come from C64::tape, one at a time, each a
// length in cycles. The first starts when the motor first runs; each ends
// with a falling edge that sets FLAG (bit 4) in CIA1's interrupt flags in
// exactly that cycle, and the next pulse starts there. While the motor is off
// the pulse in progress stands still; it goes on where it stopped when the
// motor runs again. When the source has no pulse the line stays quiet for the
// rest of the run; the next run asks again.
//
// CIA1 at $DC00 and CIA2 at $DD00 (each repeated every 16 bytes up to $DCFF
// and $DDFF). CIA1's interrupt output is the CPU's IRQ, CIA2's its NMI; each
// is asserted while some flag and its mask bit are both set.
// - Timer A ($04/$05) and timer B ($06/$07): a write sets the 16-bit latch, a
//   read gives the counter. Control $0E (A) and $0F (B): bit 0 start, bit 3
//   one-shot, bit 4 force load (a strobe: loads the counter from the latch,
//   reads back 0). A started timer counts down once a cycle from the cycle
//   after the write; the cycle after it reached 0 it underflows: it sets its
//   flag (bit 0 A, bit 1 B) and reloads from the latch, so it underflows every
//   latch + 1 cycles; a one-shot timer stops there. Writing the high latch byte
//   loads the counter while the timer is stopped, and in one-shot mode loads
//   and starts it. Only counting CPU cycles is modelled (input mode: $0E bit 5
//   = 0, $0F bits 5-6 = 0); a timer set to count the CNT pin or timer A's
//   underflows stands still.
// - Interrupt control $0D: a read gives the flags, with bit 7 set when a flag
//   and its mask bit are both set, and clears every flag; a write with bit 7
//   set sets the mask bits written as 1, with bit 7 clear clears them.
// - Ports $00/$01 read 1 on each input pin (nothing connected: no key, no
//   joystick); time of day $08-$0B and serial data $0C read back what was
//   written (the clock does not run).
//
// VIC-II at $D000 (repeated every 64 bytes up to $D3FF): a PAL frame of 312
// lines of 63 cycles, line 0 starting at cycle 0. $D012 reads the raster line,
// $D011 bit 7 its bit 8. While $D011 bit 4 (screen on) is set, each line from
// $30 to $F7 whose low three bits equal $D011 bits 0-2 (vertical scroll) is a
// bad line: it holds the CPU for 40 cycles from cycle 14 of the line (as
// $D011 stands then). The model adds those 40 cycles at the end of the
// instruction in which that cycle falls. There are no raster or sprite
// interrupts; every other VIC register, the SID, colour RAM and $DE00-$DFFF
// read back what was written.
#pragma once

#include "cpu6502.h"

#include <cstdint>

// The PAL machine's clock in cycles per second, to tell cycles in seconds.
constexpr double c64_pal_hz = 985248;

// Where the cassette read line's pulses come from.
struct C64Tape {
    // The next pulse's length in cycles; 0: none (the tape has ended, or has
    // nothing yet).
    std::uint32_t (*next_pulse)(void *ctx);
    void *ctx;
};

// One timer of a CIA.
struct C64Timer {
    std::uint16_t latch = 0xFFFF;   // what it reloads from
    std::uint16_t counter = 0xFFFF; // where it stands
    std::uint8_t control = 0;       // $0E or $0F as written, force load bit 0
};

// One 6526 CIA.
struct C64Cia {
    C64Timer timer_a, timer_b;
    std::uint8_t flags = 0;          // interrupt flags: bit 0 timer A, bit 1 timer B, bit 4 FLAG
    std::uint8_t mask = 0;           // interrupt mask, same bits
    std::uint8_t registers[16] = {}; // ports, directions, time of day, serial data, as written
};

// The machine. A new one (allocate it: it holds 64 KB) is switched on: RAM
// all 0 (so the screen is off), port $00 = $2F and $01 = $37 (motor off),
// both CIAs' timers stopped at $FFFF with no mask set, clock 0, the CPU as
// Cpu6502 starts, no tape. Between runs the caller may set anything but the
// clock and the machine's own fields: RAM (the VIC and other RAM-like
// registers included), the port, the CIAs, the CPU's registers, the tape.
struct C64 {
    Cpu6502 cpu;
    std::uint8_t ram[0x10000] = {};
    std::uint8_t port_direction = 0x2F; // $00
    std::uint8_t port_data = 0x37;      // $01
    C64Cia cia1, cia2;
    C64Tape tape{};

    std::uint64_t clock = 0;  // cycles since start, bad-line cycles included
    std::uint64_t pulses = 0; // pulses whose falling edge has come

    // The machine's own.
    std::uint32_t pulse_left = 0; // cycles of the pulse in progress still to run
    bool tape_empty = false;      // the source answered 0 in this run
    std::uint64_t devices_at = 0; // the cycle up to which timers and tape have run
    std::uint64_t next_bad_line = 0;
    std::uint64_t next_event = 0; // the first cycle at which a device needs a look
};

// Why c64_run() returned.
enum class C64Stop {
    rom_entry,           // the PC is in $A000-$BFFF or $E000-$FFFF (cpu.pc says where)
    undocumented_opcode, // the PC is at one, which did not run
    cycle_limit          // the clock reached the limit
};

// Runs the machine from where it stands until the PC reaches a ROM entry,
// the CPU meets an undocumented opcode, or the clock reaches `cycle_limit`:
// the instruction running then completes, so the clock may end a few cycles
// beyond it (40 more when a bad line's hold falls there). A PC already in ROM
// returns at once. On return the timers, flags and tape are brought up to
// the clock.
C64Stop c64_run(C64 &machine, std::uint64_t cycle_limit);
