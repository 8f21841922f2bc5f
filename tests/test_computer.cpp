// The model computer by table: the 6502's cycles, arithmetic and interrupts;
// the machine's timers, cassette line, bad lines and the ends of a run.
#include "c64.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <memory>
#include <vector>

namespace
{

constexpr std::uint8_t N = cpu_flag_n, V = cpu_flag_v, D = cpu_flag_d, I = cpu_flag_i,
                       Z = cpu_flag_z, C = cpu_flag_c, B = cpu_flag_b, U = cpu_flag_u;

using Bytes = std::vector<std::uint8_t>;

// Machine code as hex bytes ("A9 01").
void put(std::uint8_t *memory, std::uint16_t at, const char *code)
{
    for (char *end; *code; code = end)
        memory[at++] = std::uint8_t(std::strtoul(code, &end, 16));
}

// The CPU alone on 64 KB of RAM.
struct Ram {
    std::uint8_t bytes[0x10000] = {};
    Cpu6502 cpu;

    Ram(std::uint16_t at, const char *code) { put(bytes, cpu.pc = at, code); }
    unsigned step()
    {
        auto read = [](void *ram, std::uint16_t at, unsigned) {
            return static_cast<Ram *>(ram)->bytes[at];
        };
        auto write = [](void *ram, std::uint16_t at, std::uint8_t v, unsigned) {
            static_cast<Ram *>(ram)->bytes[at] = v;
        };
        return cpu_step(cpu, {read, write, this});
    }
    unsigned stacked16(std::uint8_t s) const { return bytes[0x100 + s] << 8 | bytes[0xFF + s]; }
};

struct CycleCase {
    const char *code;
    unsigned in_page, crossing; // cycles with X and Y $0F, and $10 (to the next page)
    std::uint8_t p;
    std::uint16_t at;
};

// $10/$11 point at $12F0. LDA #, zp, zp,X, abs, abs,X, abs,Y, (zp,X), (zp),Y; LDX abs,Y;
// STA abs,X, (zp),Y; INC zp, zp,X, abs,X; ASL A, abs; ROR abs,X; PHA, PLP, JSR, RTS,
// RTI, BRK, JMP abs, (abs); BNE not taken, taken, to the next page; BEQ to the page
// before; BCC in the page.
const CycleCase cycle_cases[] = {
    {"A9 01", 2, 2, 0, 0x1000},    {"A5 10", 3, 3, 0, 0x1000},    {"B5 10", 4, 4, 0, 0x1000},
    {"AD 34 12", 4, 4, 0, 0x1000}, {"BD F0 12", 4, 5, 0, 0x1000}, {"B9 F0 12", 4, 5, 0, 0x1000},
    {"A1 10", 6, 6, 0, 0x1000},    {"B1 10", 5, 6, 0, 0x1000},    {"BE F0 12", 4, 5, 0, 0x1000},
    {"9D F0 12", 5, 5, 0, 0x1000}, {"91 10", 6, 6, 0, 0x1000},    {"E6 10", 5, 5, 0, 0x1000},
    {"F6 10", 6, 6, 0, 0x1000},    {"FE F0 12", 7, 7, 0, 0x1000}, {"0A", 2, 2, 0, 0x1000},
    {"0E 34 12", 6, 6, 0, 0x1000}, {"7E F0 12", 7, 7, 0, 0x1000}, {"48", 3, 3, 0, 0x1000},
    {"28", 4, 4, 0, 0x1000},       {"20 00 20", 6, 6, 0, 0x1000}, {"60", 6, 6, 0, 0x1000},
    {"40", 6, 6, 0, 0x1000},       {"00", 7, 7, 0, 0x1000},       {"4C 00 20", 3, 3, 0, 0x1000},
    {"6C 10 00", 5, 5, 0, 0x1000}, {"D0 10", 2, 2, Z, 0x1000},    {"D0 10", 3, 3, 0, 0x1000},
    {"D0 10", 4, 4, 0, 0x10F0},    {"F0 F0", 4, 4, Z, 0x1100},    {"90 02", 3, 3, 0, 0x10F0},
};

TEST(Cpu, CyclesByAddressingModePageCrossingAndBranch)
{
    for (const CycleCase &c : cycle_cases) {
        for (unsigned cross : {0, 1}) {
            Ram ram(c.at, c.code);
            ram.bytes[0x10] = 0xF0, ram.bytes[0x11] = 0x12;
            ram.cpu.x = ram.cpu.y = 0x0F + cross, ram.cpu.p = U | c.p;
            EXPECT_EQ(ram.step(), cross ? c.crossing : c.in_page)
                << c.code << " at " << std::hex << c.at << (cross ? " across" : "");
        }
    }
}

struct ArithmeticCase {
    const char *code;                 // ADC # or SBC #
    std::uint8_t p, a, result, flags; // flags: N V Z C after
};

// Decimal as the NMOS part computes it: ADC's N and V before the high digit's
// correction, Z from the binary sum; SBC's flags all binary.
const ArithmeticCase arithmetic_cases[] = {
    {"69 50", 0, 0x50, 0xA0, N | V}, {"69 01", 0, 0xFF, 0x00, Z | C},
    {"69 FF", 0, 0x80, 0x7F, V | C}, {"69 01", C, 0x01, 0x03, 0},
    {"E9 F0", C, 0x50, 0x60, 0},     {"E9 B0", C, 0x50, 0xA0, N | V},
    {"E9 05", C, 0x05, 0x00, Z | C}, {"E9 05", 0, 0x05, 0xFF, N},
    {"69 01", D, 0x09, 0x10, 0},     {"69 34", D, 0x12, 0x46, 0},
    {"69 01", D, 0x99, 0x00, N | C}, {"69 46", D | C, 0x58, 0x05, N | V | C},
    {"E9 01", D | C, 0x00, 0x99, N}, {"E9 12", D | C, 0x46, 0x34, C},
    {"E9 13", D | C, 0x40, 0x27, C}, {"E9 02", D, 0x32, 0x29, C},
};

TEST(Cpu, AddAndSubtractInBinaryAndDecimal)
{
    for (const ArithmeticCase &c : arithmetic_cases) {
        Ram ram(0x1000, c.code);
        ram.cpu.a = c.a, ram.cpu.p = U | c.p;
        ram.step();
        EXPECT_EQ(std::make_pair(+ram.cpu.a, ram.cpu.p & (N | V | Z | C)),
                  std::make_pair(+c.result, +c.flags))
            << c.code << std::hex << " A " << +c.a << " P " << +c.p;
    }
}

TEST(Cpu, StackSubroutinesBreakAndIndirectJump)
{
    Ram ram(0x1000, "20 00 20"); // JSR $2000; there BRK, padding, RTS; RTI at the vector
    put(ram.bytes, 0x2000, "00 FF 60"), put(ram.bytes, 0x3000, "40");
    put(ram.bytes, 0xFFFE, "00 30");
    ram.cpu.p = U | C;
    ram.step();
    EXPECT_EQ(ram.stacked16(0xFD), 0x1002u) << "the return address less 1";
    ram.step();
    EXPECT_EQ(ram.stacked16(0xFB), 0x2002u) << "past BRK's padding byte";
    EXPECT_EQ(ram.bytes[0x1F9], U | B | C) << "BRK pushes B";
    EXPECT_EQ(ram.cpu.pc, 0x3000);
    EXPECT_EQ(ram.cpu.p, U | I | C);
    ram.step(), ram.step();
    EXPECT_EQ(ram.cpu.pc, 0x1003) << "RTI to $2002, RTS from there";
    EXPECT_EQ(ram.cpu.p, U | C);
    EXPECT_EQ(ram.cpu.s, 0xFD);

    Ram wrap(0x10FF, "34"); // JMP ($10FF) at $1000
    put(wrap.bytes, 0x1000, "6C FF 10"), put(wrap.bytes, 0x1100, "56");
    wrap.cpu.pc = 0x1000;
    wrap.step();
    EXPECT_EQ(wrap.cpu.pc, 0x6C34) << "the high byte from $1000, not $1100";
}

TEST(Cpu, InterruptsIrqByLevelAndNmiByEdge)
{
    Ram ram(0x1000, "58 EA EA"); // CLI, NOP, NOP; IRQ handler at $2000, NMI at $3000: NOPs
    put(ram.bytes, 0x2000, "EA"), put(ram.bytes, 0x3000, "EA EA EA");
    put(ram.bytes, 0xFFFA, "00 30"), put(ram.bytes, 0xFFFE, "00 20");
    ram.cpu.irq = true;
    EXPECT_EQ(ram.step(), 2u) << "I is set: CLI runs";
    EXPECT_EQ(ram.step(), 2u) << "one more instruction after CLI";
    EXPECT_EQ(ram.step(), 7u);
    EXPECT_EQ(ram.cpu.pc, 0x2000);
    EXPECT_EQ(ram.stacked16(0xFD), 0x1002u);
    EXPECT_EQ(ram.bytes[0x1FB], U) << "IRQ pushes P without B";
    EXPECT_EQ(ram.step(), 2u) << "I is set now";

    ram.cpu.nmi = true;
    EXPECT_EQ(ram.step(), 7u) << "NMI with I set";
    EXPECT_EQ(ram.cpu.pc, 0x3000);
    EXPECT_EQ(ram.step(), 2u) << "the line still asserted: no second NMI";
    ram.cpu.nmi = false, ram.step(), ram.cpu.nmi = true, ram.step();
    EXPECT_EQ(ram.cpu.pc, 0x3000) << "a new edge, a new NMI";
}

TEST(Cpu, Exactly151DocumentedOpcodesTheOthersStop)
{
    unsigned documented = 0;
    for (unsigned opcode = 0; opcode < 0x100; ++opcode) {
        Ram ram(0x1000, "00 10 20");
        ram.bytes[0x1000] = opcode;
        if (ram.step() != 0)
            ++documented;
        else
            EXPECT_EQ(ram.cpu.pc, 0x1000);
    }
    EXPECT_EQ(documented, 151u);
}

// Pulses for the cassette line from a list.
struct Pulses {
    std::vector<std::uint32_t> lengths;
    std::size_t next = 0;
    static std::uint32_t next_pulse(void *ctx)
    {
        Pulses &p = *static_cast<Pulses *>(ctx);
        return p.next < p.lengths.size() ? p.lengths[p.next++] : 0;
    }
};

std::unique_ptr<C64> machine(const char *code, Pulses *pulses = nullptr)
{
    auto m = std::make_unique<C64>();
    put(m->ram, m->cpu.pc = 0x1000, code);
    if (pulses)
        m->tape = {Pulses::next_pulse, pulses};
    return m;
}

struct FlagCase {
    std::vector<std::uint32_t> pulses;
    Bytes reads; // $DC0D as read in cycles 3 and 10
    std::uint64_t pulses_done;
};

const FlagCase flag_cases[] = {
    {{3, 7}, {0x10, 0x10}, 2}, {{4, 7}, {0x00, 0x10}, 2}, {{3, 8}, {0x10, 0x00}, 2},
    {{2, 1}, {0x10, 0x00}, 2}, {{30}, {0x00, 0x00}, 0},
};

TEST(Machine, FlagOnEachFallingEdgeInItsCycle)
{
    for (const FlagCase &c : flag_cases) {
        Pulses pulses{c.pulses};
        // LDA $DC0D, STA $20, LDA $DC0D, STA $21, JMP $E000 with the motor on.
        auto m = machine("AD 0D DC 85 20 AD 0D DC 85 21 4C 00 E0", &pulses);
        m->port_data = 0x17;
        EXPECT_EQ(c64_run(*m, 1000), C64Stop::rom_entry);
        EXPECT_EQ(Bytes(m->ram + 0x20, m->ram + 0x22), c.reads) << c.pulses[0];
        EXPECT_EQ(m->pulses, c.pulses_done) << c.pulses[0];
    }
}

TEST(Machine, MotorOffPausesThePulses)
{
    Pulses pulses{{100, 100}};
    // $1000: the motor on (LDA #$17, STA $01), JMP *; $1100: off, JMP *.
    auto m = machine("A9 17 85 01 4C 04 10", &pulses);
    put(m->ram, 0x1100, "A9 37 85 01 4C 04 11");
    EXPECT_EQ(c64_run(*m, 150), C64Stop::cycle_limit);
    EXPECT_EQ(m->pulses, 1u) << "the motor on in cycle 4: an edge in cycle 104";
    m->cpu.pc = 0x1100, c64_run(*m, 1000);
    EXPECT_EQ(m->pulses, 1u) << "off in cycle 156, 52 cycles into the second pulse";
    m->cpu.pc = 0x1000, c64_run(*m, 1049);
    EXPECT_EQ(m->pulses, 1u) << "on again in cycle 1004";
    c64_run(*m, 1052);
    EXPECT_EQ(m->pulses, 2u) << "the edge in cycle 1052";
    EXPECT_EQ(m->cia1.flags, 0x10);
    pulses.lengths.push_back(10), c64_run(*m, 1100);
    EXPECT_EQ(m->pulses, 3u) << "a pulse the source has only now: the next run takes it";
}

struct TimerCase {
    std::uint8_t control, latch, mask;
    Bytes reads; // $DC0D as read in cycles 21, 28 and 35, then $DC0E
};

// The counter at $00FF, the latch set, then $DC0E written in cycle 17.
const TimerCase timer_cases[] = {
    {0x19, 3, 0, {0x01, 0, 0, 0x08}},     {0x19, 4, 0, {0, 0x01, 0, 0x08}},
    {0x19, 10, 0, {0, 0x01, 0, 0x08}},    {0x19, 11, 0, {0, 0, 0x01, 0x08}},
    {0x19, 10, 0x01, {0, 0x81, 0, 0x08}}, {0x11, 5, 0, {0, 0x01, 0x01, 0x01}},
    {0x09, 10, 0, {0, 0, 0, 0x09}},
};

TEST(Machine, TimerUnderflowForceLoadAndInterruptFlags)
{
    for (const TimerCase &c : timer_cases) {
        // LDA #0, STA $DC05; LDA #latch, STA $DC04; LDA #control, STA $DC0E;
        // three times LDA $DC0D, STA $20+i; LDA $DC0E, STA $23; JMP $E000.
        auto m = machine("A9 00 8D 05 DC A9 00 8D 04 DC A9 00 8D 0E DC AD 0D DC 85 20"
                         " AD 0D DC 85 21 AD 0D DC 85 22 AD 0E DC 85 23 4C 00 E0");
        m->ram[0x1006] = c.latch, m->ram[0x100B] = c.control, m->cia1.mask = c.mask;
        EXPECT_EQ(c64_run(*m, 1000), C64Stop::rom_entry);
        EXPECT_EQ(Bytes(m->ram + 0x20, m->ram + 0x24), c.reads)
            << "control " << +c.control << " latch " << +c.latch;
    }
}

TEST(Machine, BadLinesCost40CyclesEachWhileTheScreenIsOn)
{
    // $D011 as given; 16 x 256 x (DEX, BNE), DEY, BNE: a frame and a bit;
    // then LDA $D012, STA $20, JMP $E000.
    const std::pair<std::uint8_t, std::uint64_t> cases[] = {
        {0x0B, 0}, {0x1B, 25 * 40}, {0x1F, 25 * 40}, {0x18, 25 * 40}};
    std::uint64_t screen_off = 0;
    for (auto [d011, extra] : cases) {
        auto m = machine("A9 00 8D 11 D0 A0 10 CA D0 FD 88 D0 FA AD 12 D0 85 20 4C 00 E0");
        m->ram[0x1001] = d011;
        EXPECT_EQ(c64_run(*m, 100000), C64Stop::rom_entry);
        screen_off = extra ? screen_off : m->clock;
        EXPECT_EQ(m->clock, screen_off + extra) << +d011;
        EXPECT_EQ(m->ram[0x20], (m->clock - 7) / 63 % 312) << "the raster line in cycle 3 of LDA";
    }
}

struct EndCase {
    const char *code;
    C64Stop stop;
    std::uint16_t pc;
};

const EndCase end_cases[] = {
    {"4C 00 A0", C64Stop::rom_entry, 0xA000},
    {"4C 7B E3", C64Stop::rom_entry, 0xE37B},
    {"A9 01 02", C64Stop::undocumented_opcode, 0x1002},
    {"4C 00 10", C64Stop::cycle_limit, 0x1000},
    // Timer A from $FFFF with its interrupt: CIA1's after CLI is an IRQ, CIA2's an NMI.
    {"A9 81 8D 0D DC A9 11 8D 0E DC 58 4C 0B 10", C64Stop::rom_entry, 0xFF48},
    {"A9 81 8D 0D DD A9 11 8D 0E DD 4C 0A 10", C64Stop::rom_entry, 0xFE43},
};

TEST(Machine, RunEndsInRomAtAnUndocumentedOpcodeOrAtTheLimit)
{
    for (const EndCase &c : end_cases) {
        auto m = machine(c.code);
        put(m->ram, 0xFFFA, "43 FE 00 00 48 FF"); // the KERNAL's NMI and IRQ entries
        EXPECT_EQ(c64_run(*m, 100000), c.stop) << c.code;
        EXPECT_EQ(m->cpu.pc, c.pc) << c.code;
        EXPECT_LT(m->clock, 100003u) << c.code;
    }
}

} // namespace
