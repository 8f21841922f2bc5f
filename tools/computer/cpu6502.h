// The processor of the model computer: an NMOS 6502 that runs the 151
// documented opcodes with the cycle counts of the real part.
//
// Timing, cycle by cycle as the NMOS part does it:
// - indexed reads (abs,X abs,Y (zp),Y) take one more cycle when the index
//   carries into the next page; indexed writes and read-modify-writes always
//   take it;
// - a branch takes 2 cycles, 3 when taken, 4 when taken to another page;
// - read-modify-write instructions take 2 cycles more than a read of the
//   same mode (5 zp, 6 zp,X and abs, 7 abs,X);
// - BRK, IRQ and NMI take 7 cycles, RTI and RTS 6, JSR 6, JMP ($nnnn) 5.
// Every cycle that makes a real access goes through the bus with its number
// within the step; the NMOS part's dummy accesses (the extra read of an
// indexed access, the old value a read-modify-write writes back) take their
// cycle but reach no memory.
//
// Also as the NMOS part: JMP ($xxFF) takes the high byte of the target from
// $xx00 of the same page; decimal mode ADC and SBC give the NMOS results and
// flags (ADC: N and V from the sum before the high digit is corrected, Z from
// the binary sum; SBC: N, V and Z from the binary difference), with no extra
// cycle; interrupts do not clear D.
//
// Interrupts are taken between instructions. IRQ is a level: it is taken
// while the line is asserted and I is clear, as I stood when the previous
// instruction polled it (so one more instruction runs after CLI or PLP that
// clears I, and an IRQ already asserted can still come after SEI). NMI is an
// edge: one interrupt each time the line goes from released to asserted.
// The NMOS part's extra instruction before an interrupt after a taken branch
// is not modelled.
//
// The undocumented opcodes stop the processor: cpu_step() reports them and
// changes nothing, so the caller sees the PC at the opcode.
#pragma once

#include <cstdint>

// The processor's way to memory. `cycle` is the cycle of the current step in
// which the access happens, 0 being the opcode fetch: a bus that keeps time
// knows from it exactly when each access falls.
struct CpuBus {
    std::uint8_t (*read)(void *ctx, std::uint16_t address, unsigned cycle);
    void (*write)(void *ctx, std::uint16_t address, std::uint8_t value, unsigned cycle);
    void *ctx;
};

// The bits of the status register P.
constexpr std::uint8_t cpu_flag_c = 0x01; // carry
constexpr std::uint8_t cpu_flag_z = 0x02; // zero
constexpr std::uint8_t cpu_flag_i = 0x04; // IRQ disabled
constexpr std::uint8_t cpu_flag_d = 0x08; // decimal mode
constexpr std::uint8_t cpu_flag_b = 0x10; // only on the stack: set by BRK and PHP
constexpr std::uint8_t cpu_flag_u = 0x20; // always 1
constexpr std::uint8_t cpu_flag_v = 0x40; // overflow
constexpr std::uint8_t cpu_flag_n = 0x80; // negative

// The processor's state. The caller may set any register between steps.
struct Cpu6502 {
    std::uint16_t pc = 0;
    std::uint8_t a = 0, x = 0, y = 0;
    std::uint8_t s = 0xFD;                    // stack pointer: the stack is $0100 + s
    std::uint8_t p = cpu_flag_u | cpu_flag_i; // B reads 0 here, U 1

    // Inputs, set by the owner of the processor.
    bool irq = false; // the IRQ line is asserted (a level)
    bool nmi = false; // the NMI line is asserted (each change to true is one NMI)

    // The processor's own: the NMI level it last saw, and the I flag as the
    // last instruction polled it when that differs from p (CLI, SEI, PLP).
    bool nmi_seen = false;
    std::int8_t polled_i = -1; // -1: as p says; 0 or 1: that value, for one step
};

// Runs one instruction, or enters the interrupt that is due (NMI before IRQ)
// instead. Returns the cycles it took: 2 to 7 for an instruction, 7 for an
// interrupt; 0 when the opcode at the PC is undocumented, in which case
// nothing was read or changed beyond the opcode fetch.
unsigned cpu_step(Cpu6502 &cpu, const CpuBus &bus);
