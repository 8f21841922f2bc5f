// The model computer: the 6502's cycles, arithmetic and interrupts by table.
#include "cpu6502.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

namespace
{

using Bytes = std::vector<std::uint8_t>;

// The CPU alone on 64 KB of RAM.
struct Ram {
    std::uint8_t bytes[0x10000] = {};
    Cpu6502 cpu;

    Ram(std::uint16_t at, const Bytes &code)
    {
        std::copy(code.begin(), code.end(), bytes + at);
        cpu.pc = at;
    }
    unsigned step()
    {
        const CpuBus bus{[](void *ctx, std::uint16_t at, unsigned) {
                             return static_cast<Ram *>(ctx)->bytes[at];
                         },
                         [](void *ctx, std::uint16_t at, std::uint8_t v, unsigned) {
                             static_cast<Ram *>(ctx)->bytes[at] = v;
                         },
                         this};
        return cpu_step(cpu, bus);
    }
};

constexpr std::uint8_t N = cpu_flag_n, V = cpu_flag_v, D = cpu_flag_d, I = cpu_flag_i,
                       Z = cpu_flag_z, C = cpu_flag_c, B = cpu_flag_b, U = cpu_flag_u;

struct CycleCase {
    const char *what;
    std::uint16_t at;
    Bytes code;
    std::uint8_t x, y, p;
    unsigned cycles;
};

// $10/$11 point at $12F0.
const CycleCase cycle_cases[] = {
    {"LDA #", 0x1000, {0xA9, 0x01}, 0, 0, 0, 2},
    {"LDA zp", 0x1000, {0xA5, 0x10}, 0, 0, 0, 3},
    {"LDA zp,X", 0x1000, {0xB5, 0x10}, 0, 0, 0, 4},
    {"LDA abs", 0x1000, {0xAD, 0x34, 0x12}, 0, 0, 0, 4},
    {"LDA abs,X in the page", 0x1000, {0xBD, 0xF0, 0x12}, 0x0F, 0, 0, 4},
    {"LDA abs,X to the next page", 0x1000, {0xBD, 0xF0, 0x12}, 0x10, 0, 0, 5},
    {"LDA abs,Y to the next page", 0x1000, {0xB9, 0xF0, 0x12}, 0, 0x10, 0, 5},
    {"LDX abs,Y in the page", 0x1000, {0xBE, 0xF0, 0x12}, 0, 0x0F, 0, 4},
    {"LDA (zp,X)", 0x1000, {0xA1, 0x10}, 0, 0, 0, 6},
    {"LDA (zp),Y in the page", 0x1000, {0xB1, 0x10}, 0, 0x0F, 0, 5},
    {"LDA (zp),Y to the next page", 0x1000, {0xB1, 0x10}, 0, 0x10, 0, 6},
    {"STA abs,X in the page", 0x1000, {0x9D, 0xF0, 0x12}, 0, 0, 0, 5},
    {"STA (zp),Y in the page", 0x1000, {0x91, 0x10}, 0, 0, 0, 6},
    {"INC zp", 0x1000, {0xE6, 0x10}, 0, 0, 0, 5},
    {"INC zp,X", 0x1000, {0xF6, 0x10}, 0, 0, 0, 6},
    {"ASL abs", 0x1000, {0x0E, 0x34, 0x12}, 0, 0, 0, 6},
    {"ROR abs,X in the page", 0x1000, {0x7E, 0x34, 0x12}, 0, 0, 0, 7},
    {"ASL A", 0x1000, {0x0A}, 0, 0, 0, 2},
    {"PHA", 0x1000, {0x48}, 0, 0, 0, 3},
    {"PLA", 0x1000, {0x68}, 0, 0, 0, 4},
    {"PLP", 0x1000, {0x28}, 0, 0, 0, 4},
    {"JSR", 0x1000, {0x20, 0x00, 0x20}, 0, 0, 0, 6},
    {"RTS", 0x1000, {0x60}, 0, 0, 0, 6},
    {"RTI", 0x1000, {0x40}, 0, 0, 0, 6},
    {"BRK", 0x1000, {0x00}, 0, 0, 0, 7},
    {"JMP abs", 0x1000, {0x4C, 0x00, 0x20}, 0, 0, 0, 3},
    {"JMP (abs)", 0x1000, {0x6C, 0x10, 0x00}, 0, 0, 0, 5},
    {"BNE not taken", 0x1000, {0xD0, 0x10}, 0, 0, Z, 2},
    {"BNE taken", 0x1000, {0xD0, 0x10}, 0, 0, 0, 3},
    {"BNE taken to the next page", 0x10F0, {0xD0, 0x10}, 0, 0, 0, 4},
    {"BEQ taken back to the previous page", 0x1100, {0xF0, 0xF0}, 0, 0, Z, 4},
    {"BCC taken in the page", 0x10F0, {0x90, 0x02}, 0, 0, 0, 3},
};

TEST(Cpu, CyclesByAddressingMode)
{
    for (const CycleCase &c : cycle_cases) {
        Ram ram(c.at, c.code);
        ram.bytes[0x10] = 0xF0, ram.bytes[0x11] = 0x12;
        ram.cpu.x = c.x, ram.cpu.y = c.y, ram.cpu.p = U | c.p;
        EXPECT_EQ(ram.step(), c.cycles) << c.what;
    }
}

struct ArithmeticCase {
    std::uint8_t opcode, p, a, operand, result, flags; // flags: N V Z C after
};

// ADC and SBC immediate; decimal cases as the NMOS part computes them.
const ArithmeticCase arithmetic_cases[] = {
    {0x69, 0, 0x50, 0x50, 0xA0, N | V}, {0x69, 0, 0xFF, 0x01, 0x00, Z | C},
    {0x69, 0, 0x80, 0xFF, 0x7F, V | C}, {0x69, C, 0x01, 0x01, 0x03, 0},
    {0xE9, C, 0x50, 0xF0, 0x60, 0},     {0xE9, C, 0x50, 0xB0, 0xA0, N | V},
    {0xE9, C, 0x05, 0x05, 0x00, Z | C}, {0xE9, 0, 0x05, 0x05, 0xFF, N},
    {0x69, D, 0x09, 0x01, 0x10, 0},     {0x69, D, 0x12, 0x34, 0x46, 0},
    {0x69, D, 0x99, 0x01, 0x00, N | C}, {0x69, D | C, 0x58, 0x46, 0x05, N | V | C},
    {0xE9, D | C, 0x00, 0x01, 0x99, N}, {0xE9, D | C, 0x46, 0x12, 0x34, C},
    {0xE9, D | C, 0x40, 0x13, 0x27, C}, {0xE9, D, 0x32, 0x02, 0x29, C},
};

TEST(Cpu, AddAndSubtractInBinaryAndDecimal)
{
    for (const ArithmeticCase &c : arithmetic_cases) {
        Ram ram(0x1000, {c.opcode, c.operand});
        ram.cpu.a = c.a, ram.cpu.p = U | c.p;
        ram.step();
        SCOPED_TRACE(testing::Message() << std::hex << "opcode " << +c.opcode << " A " << +c.a
                                        << " operand " << +c.operand << " P " << +c.p);
        EXPECT_EQ(ram.cpu.a, c.result);
        EXPECT_EQ(ram.cpu.p & (N | V | Z | C), c.flags);
    }
}

TEST(Cpu, StackSubroutinesAndBreak)
{
    // JSR $2000 / at $2000: BRK, padding / at $3000 (the vector): RTI / RTS.
    Ram ram(0x1000, {0x20, 0x00, 0x20});
    ram.bytes[0x2000] = 0x00, ram.bytes[0x2002] = 0x60, ram.bytes[0x3000] = 0x40;
    ram.bytes[0xFFFE] = 0x00, ram.bytes[0xFFFF] = 0x30;
    ram.cpu.p = U | C;
    ram.step();
    EXPECT_EQ(ram.cpu.pc, 0x2000);
    EXPECT_EQ(ram.bytes[0x1FD] << 8 | ram.bytes[0x1FC], 0x1002) << "the return address less 1";
    ram.step();
    EXPECT_EQ(ram.cpu.pc, 0x3000);
    EXPECT_EQ(ram.bytes[0x1FB] << 8 | ram.bytes[0x1FA], 0x2002) << "past BRK's padding byte";
    EXPECT_EQ(ram.bytes[0x1F9], U | B | C) << "BRK pushes B";
    EXPECT_TRUE(ram.cpu.p & I);
    ram.step();
    EXPECT_EQ(ram.cpu.pc, 0x2002);
    EXPECT_EQ(ram.cpu.p, U | C);
    ram.step();
    EXPECT_EQ(ram.cpu.pc, 0x1003);
    EXPECT_EQ(ram.cpu.s, 0xFD);

    Ram wrap(0x1000, {0x6C, 0xFF, 0x10}); // JMP ($10FF)
    wrap.bytes[0x10FF] = 0x34, wrap.bytes[0x1000] = 0x6C, wrap.bytes[0x1100] = 0x56;
    wrap.step();
    EXPECT_EQ(wrap.cpu.pc, 0x6C34) << "the high byte from $1000, not $1100";
}

TEST(Cpu, InterruptsByLevelAndEdge)
{
    // CLI, NOP, NOP with the IRQ line asserted; handler at $2000, NMI at $3000.
    Ram ram(0x1000, {0x58, 0xEA, 0xEA});
    ram.bytes[0xFFFE] = 0x00, ram.bytes[0xFFFF] = 0x20;
    ram.bytes[0xFFFA] = 0x00, ram.bytes[0xFFFB] = 0x30;
    ram.cpu.irq = true;
    EXPECT_EQ(ram.step(), 2u) << "I is set: CLI runs";
    EXPECT_EQ(ram.step(), 2u) << "one more instruction after CLI";
    EXPECT_EQ(ram.cpu.pc, 0x1002);
    EXPECT_EQ(ram.step(), 7u);
    EXPECT_EQ(ram.cpu.pc, 0x2000);
    EXPECT_EQ(ram.bytes[0x1FD] << 8 | ram.bytes[0x1FC], 0x1002);
    EXPECT_EQ(ram.bytes[0x1FB], U) << "IRQ pushes P without B";
    EXPECT_TRUE(ram.cpu.p & I);

    ram.bytes[0x2000] = 0xEA, ram.bytes[0x3000] = 0xEA;
    ram.cpu.nmi = true;
    EXPECT_EQ(ram.step(), 7u) << "NMI even with I set";
    EXPECT_EQ(ram.cpu.pc, 0x3000);
    EXPECT_EQ(ram.step(), 2u) << "the line still asserted: no second NMI";
    ram.cpu.nmi = false;
    ram.step();
    ram.cpu.nmi = true;
    ram.step();
    EXPECT_EQ(ram.cpu.pc, 0x3000) << "a new edge, a new NMI";
}

TEST(Cpu, UndocumentedOpcodesStop)
{
    unsigned documented = 0;
    for (unsigned opcode = 0; opcode < 0x100; ++opcode) {
        Ram ram(0x1000, {std::uint8_t(opcode), 0x10, 0x20});
        if (ram.step() != 0) {
            ++documented;
        } else {
            EXPECT_EQ(ram.cpu.pc, 0x1000);
        }
    }
    EXPECT_EQ(documented, 151u);
}

} // namespace
