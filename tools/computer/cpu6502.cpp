#include "cpu6502.h"

namespace
{

constexpr std::uint8_t N = cpu_flag_n, V = cpu_flag_v, U = cpu_flag_u, B = cpu_flag_b,
                       D = cpu_flag_d, I = cpu_flag_i, Z = cpu_flag_z, C = cpu_flag_c;

constexpr std::uint16_t nmi_vector = 0xFFFA, irq_vector = 0xFFFE;

// Whether an indexed access reads (the page-cross cycle only when the index
// carries) or writes (the cycle always).
enum Access { reading, writing };

// One step: the registers in locals, so that they stay out of memory while
// the bus is called, and the cycle count that numbers the accesses.
struct Step {
    const CpuBus &bus;
    std::uint16_t pc;
    std::uint8_t a, x, y, s, p;
    unsigned cycle = 0;
    std::int8_t polled_i = -1; // set by the instructions that change I after the poll

    std::uint8_t read(std::uint16_t at) { return bus.read(bus.ctx, at, cycle++); }
    void write(std::uint16_t at, std::uint8_t v) { bus.write(bus.ctx, at, v, cycle++); }
    void idle() { ++cycle; }
    std::uint8_t fetch() { return read(pc++); }
    std::uint16_t fetch16()
    {
        std::uint16_t lo = fetch();
        return lo | fetch() << 8;
    }
    std::uint16_t read16(std::uint16_t at, std::uint16_t at_high)
    {
        std::uint16_t lo = read(at);
        return lo | read(at_high) << 8;
    }
    void push(std::uint8_t v) { write(0x100 | s--, v); }
    std::uint8_t pull() { return read(0x100 | ++s); }

    // Effective addresses.
    std::uint16_t zp() { return fetch(); }
    std::uint16_t zp_i(std::uint8_t index)
    {
        std::uint8_t base = fetch();
        idle();
        return std::uint8_t(base + index);
    }
    std::uint16_t abs() { return fetch16(); }
    std::uint16_t indexed(std::uint16_t base, std::uint8_t index, Access access)
    {
        std::uint16_t at = base + index;
        if (access == writing || ((base ^ at) & 0xFF00))
            idle();
        return at;
    }
    std::uint16_t abs_i(std::uint8_t index, Access access) { return indexed(abs(), index, access); }
    std::uint16_t ind_x()
    {
        std::uint8_t at = zp_i(x);
        return read16(at, std::uint8_t(at + 1));
    }
    std::uint16_t ind_y(Access access)
    {
        std::uint8_t at = fetch();
        return indexed(read16(at, std::uint8_t(at + 1)), y, access);
    }

    // Operations.
    std::uint8_t nz(std::uint8_t v)
    {
        p = (p & ~(N | Z)) | (v & N) | (v ? 0 : Z);
        return v;
    }
    void flag(std::uint8_t bit, bool on) { p = on ? p | bit : p & ~bit; }
    void adc(std::uint8_t v);
    void sbc(std::uint8_t v);
    void compare(std::uint8_t reg, std::uint8_t v)
    {
        flag(C, reg >= v);
        nz(reg - v);
    }
    void bit(std::uint8_t v) { p = (p & ~(N | V | Z)) | (v & (N | V)) | ((a & v) ? 0 : Z); }
    std::uint8_t asl(std::uint8_t v)
    {
        flag(C, v & 0x80);
        return nz(v << 1);
    }
    std::uint8_t lsr(std::uint8_t v)
    {
        flag(C, v & 0x01);
        return nz(v >> 1);
    }
    std::uint8_t rol(std::uint8_t v)
    {
        std::uint8_t in = p & C;
        flag(C, v & 0x80);
        return nz(v << 1 | in);
    }
    std::uint8_t ror(std::uint8_t v)
    {
        std::uint8_t in = (p & C) << 7;
        flag(C, v & 0x01);
        return nz(v >> 1 | in);
    }
    std::uint8_t inc(std::uint8_t v) { return nz(v + 1); }
    std::uint8_t dec(std::uint8_t v) { return nz(v - 1); }
    template <std::uint8_t (Step::*op)(std::uint8_t)> void modify(std::uint16_t at)
    {
        std::uint8_t v = read(at);
        idle(); // the NMOS part writes the old value back here
        write(at, (this->*op)(v));
    }
    template <std::uint8_t (Step::*op)(std::uint8_t)> void modify_a()
    {
        idle();
        a = (this->*op)(a);
    }
    void implied() { idle(); }
    void branch(bool taken)
    {
        std::int8_t offset = std::int8_t(fetch());
        if (!taken)
            return;
        idle();
        std::uint16_t to = pc + offset;
        if ((to ^ pc) & 0xFF00)
            idle();
        pc = to;
    }
    void interrupt(std::uint16_t vector, std::uint8_t pushed_p)
    {
        push(pc >> 8);
        push(pc & 0xFF);
        push(pushed_p);
        p |= I;
        pc = read16(vector, vector + 1);
    }
    bool execute(std::uint8_t opcode);
};

// Decimal mode as the NMOS part adds: the low digit corrected first, N and V
// taken from the sum before the high digit is corrected, Z from the binary
// sum.
void Step::adc(std::uint8_t v)
{
    unsigned carry = p & C;
    unsigned binary = a + v + carry;
    if (!(p & D)) {
        flag(V, ~(a ^ v) & (a ^ binary) & 0x80);
        flag(C, binary > 0xFF);
        a = nz(binary);
        return;
    }
    unsigned low = (a & 0x0F) + (v & 0x0F) + carry;
    if (low >= 0x0A)
        low = ((low + 0x06) & 0x0F) + 0x10;
    unsigned sum = (a & 0xF0) + (v & 0xF0) + low;
    int signed_sum = std::int8_t(a & 0xF0) + std::int8_t(v & 0xF0) + int(low);
    flag(N, sum & 0x80);
    flag(V, signed_sum < -128 || signed_sum > 127);
    flag(Z, !(binary & 0xFF));
    if (sum >= 0xA0)
        sum += 0x60;
    flag(C, sum > 0xFF);
    a = sum;
}

// Decimal mode as the NMOS part subtracts: the flags all from the binary
// difference, the result corrected digit by digit.
void Step::sbc(std::uint8_t v)
{
    unsigned borrow = ~p & C;
    unsigned binary = a - v - borrow;
    flag(V, (a ^ v) & (a ^ binary) & 0x80);
    flag(C, binary < 0x100);
    std::uint8_t result = binary;
    if (p & D) {
        int low = (a & 0x0F) - (v & 0x0F) - int(borrow);
        if (low < 0)
            low = ((low - 0x06) & 0x0F) - 0x10;
        int difference = (a & 0xF0) - (v & 0xF0) + low;
        if (difference < 0)
            difference -= 0x60;
        result = std::uint8_t(difference);
    }
    nz(binary);
    a = result;
}

// The documented opcodes, by mnemonic. False for any other.
bool Step::execute(std::uint8_t opcode)
{
    switch (opcode) {
    // Loads and stores.
    case 0xA9:
        a = nz(fetch());
        break;
    case 0xA5:
        a = nz(read(zp()));
        break;
    case 0xB5:
        a = nz(read(zp_i(x)));
        break;
    case 0xAD:
        a = nz(read(abs()));
        break;
    case 0xBD:
        a = nz(read(abs_i(x, reading)));
        break;
    case 0xB9:
        a = nz(read(abs_i(y, reading)));
        break;
    case 0xA1:
        a = nz(read(ind_x()));
        break;
    case 0xB1:
        a = nz(read(ind_y(reading)));
        break;
    case 0xA2:
        x = nz(fetch());
        break;
    case 0xA6:
        x = nz(read(zp()));
        break;
    case 0xB6:
        x = nz(read(zp_i(y)));
        break;
    case 0xAE:
        x = nz(read(abs()));
        break;
    case 0xBE:
        x = nz(read(abs_i(y, reading)));
        break;
    case 0xA0:
        y = nz(fetch());
        break;
    case 0xA4:
        y = nz(read(zp()));
        break;
    case 0xB4:
        y = nz(read(zp_i(x)));
        break;
    case 0xAC:
        y = nz(read(abs()));
        break;
    case 0xBC:
        y = nz(read(abs_i(x, reading)));
        break;
    case 0x85:
        write(zp(), a);
        break;
    case 0x95:
        write(zp_i(x), a);
        break;
    case 0x8D:
        write(abs(), a);
        break;
    case 0x9D:
        write(abs_i(x, writing), a);
        break;
    case 0x99:
        write(abs_i(y, writing), a);
        break;
    case 0x81:
        write(ind_x(), a);
        break;
    case 0x91:
        write(ind_y(writing), a);
        break;
    case 0x86:
        write(zp(), x);
        break;
    case 0x96:
        write(zp_i(y), x);
        break;
    case 0x8E:
        write(abs(), x);
        break;
    case 0x84:
        write(zp(), y);
        break;
    case 0x94:
        write(zp_i(x), y);
        break;
    case 0x8C:
        write(abs(), y);
        break;
    // Transfers and the stack.
    case 0xAA:
        implied(), x = nz(a);
        break;
    case 0xA8:
        implied(), y = nz(a);
        break;
    case 0xBA:
        implied(), x = nz(s);
        break;
    case 0x8A:
        implied(), a = nz(x);
        break;
    case 0x9A:
        implied(), s = x;
        break;
    case 0x98:
        implied(), a = nz(y);
        break;
    case 0x48:
        implied(), push(a);
        break;
    case 0x08:
        implied(), push(p | B | U);
        break;
    case 0x68:
        implied(), idle(), a = nz(pull());
        break;
    case 0x28:
        implied(), idle(), polled_i = (p & I) != 0, p = (pull() & ~B) | U;
        break;
    // Logic and arithmetic.
    case 0x09:
        a = nz(a | fetch());
        break;
    case 0x05:
        a = nz(a | read(zp()));
        break;
    case 0x15:
        a = nz(a | read(zp_i(x)));
        break;
    case 0x0D:
        a = nz(a | read(abs()));
        break;
    case 0x1D:
        a = nz(a | read(abs_i(x, reading)));
        break;
    case 0x19:
        a = nz(a | read(abs_i(y, reading)));
        break;
    case 0x01:
        a = nz(a | read(ind_x()));
        break;
    case 0x11:
        a = nz(a | read(ind_y(reading)));
        break;
    case 0x29:
        a = nz(a & fetch());
        break;
    case 0x25:
        a = nz(a & read(zp()));
        break;
    case 0x35:
        a = nz(a & read(zp_i(x)));
        break;
    case 0x2D:
        a = nz(a & read(abs()));
        break;
    case 0x3D:
        a = nz(a & read(abs_i(x, reading)));
        break;
    case 0x39:
        a = nz(a & read(abs_i(y, reading)));
        break;
    case 0x21:
        a = nz(a & read(ind_x()));
        break;
    case 0x31:
        a = nz(a & read(ind_y(reading)));
        break;
    case 0x49:
        a = nz(a ^ fetch());
        break;
    case 0x45:
        a = nz(a ^ read(zp()));
        break;
    case 0x55:
        a = nz(a ^ read(zp_i(x)));
        break;
    case 0x4D:
        a = nz(a ^ read(abs()));
        break;
    case 0x5D:
        a = nz(a ^ read(abs_i(x, reading)));
        break;
    case 0x59:
        a = nz(a ^ read(abs_i(y, reading)));
        break;
    case 0x41:
        a = nz(a ^ read(ind_x()));
        break;
    case 0x51:
        a = nz(a ^ read(ind_y(reading)));
        break;
    case 0x69:
        adc(fetch());
        break;
    case 0x65:
        adc(read(zp()));
        break;
    case 0x75:
        adc(read(zp_i(x)));
        break;
    case 0x6D:
        adc(read(abs()));
        break;
    case 0x7D:
        adc(read(abs_i(x, reading)));
        break;
    case 0x79:
        adc(read(abs_i(y, reading)));
        break;
    case 0x61:
        adc(read(ind_x()));
        break;
    case 0x71:
        adc(read(ind_y(reading)));
        break;
    case 0xE9:
        sbc(fetch());
        break;
    case 0xE5:
        sbc(read(zp()));
        break;
    case 0xF5:
        sbc(read(zp_i(x)));
        break;
    case 0xED:
        sbc(read(abs()));
        break;
    case 0xFD:
        sbc(read(abs_i(x, reading)));
        break;
    case 0xF9:
        sbc(read(abs_i(y, reading)));
        break;
    case 0xE1:
        sbc(read(ind_x()));
        break;
    case 0xF1:
        sbc(read(ind_y(reading)));
        break;
    case 0xC9:
        compare(a, fetch());
        break;
    case 0xC5:
        compare(a, read(zp()));
        break;
    case 0xD5:
        compare(a, read(zp_i(x)));
        break;
    case 0xCD:
        compare(a, read(abs()));
        break;
    case 0xDD:
        compare(a, read(abs_i(x, reading)));
        break;
    case 0xD9:
        compare(a, read(abs_i(y, reading)));
        break;
    case 0xC1:
        compare(a, read(ind_x()));
        break;
    case 0xD1:
        compare(a, read(ind_y(reading)));
        break;
    case 0xE0:
        compare(x, fetch());
        break;
    case 0xE4:
        compare(x, read(zp()));
        break;
    case 0xEC:
        compare(x, read(abs()));
        break;
    case 0xC0:
        compare(y, fetch());
        break;
    case 0xC4:
        compare(y, read(zp()));
        break;
    case 0xCC:
        compare(y, read(abs()));
        break;
    case 0x24:
        bit(read(zp()));
        break;
    case 0x2C:
        bit(read(abs()));
        break;
    // Increments, decrements, shifts and rotations.
    case 0xE6:
        modify<&Step::inc>(zp());
        break;
    case 0xF6:
        modify<&Step::inc>(zp_i(x));
        break;
    case 0xEE:
        modify<&Step::inc>(abs());
        break;
    case 0xFE:
        modify<&Step::inc>(abs_i(x, writing));
        break;
    case 0xC6:
        modify<&Step::dec>(zp());
        break;
    case 0xD6:
        modify<&Step::dec>(zp_i(x));
        break;
    case 0xCE:
        modify<&Step::dec>(abs());
        break;
    case 0xDE:
        modify<&Step::dec>(abs_i(x, writing));
        break;
    case 0xE8:
        implied(), x = nz(x + 1);
        break;
    case 0xC8:
        implied(), y = nz(y + 1);
        break;
    case 0xCA:
        implied(), x = nz(x - 1);
        break;
    case 0x88:
        implied(), y = nz(y - 1);
        break;
    case 0x0A:
        modify_a<&Step::asl>();
        break;
    case 0x06:
        modify<&Step::asl>(zp());
        break;
    case 0x16:
        modify<&Step::asl>(zp_i(x));
        break;
    case 0x0E:
        modify<&Step::asl>(abs());
        break;
    case 0x1E:
        modify<&Step::asl>(abs_i(x, writing));
        break;
    case 0x4A:
        modify_a<&Step::lsr>();
        break;
    case 0x46:
        modify<&Step::lsr>(zp());
        break;
    case 0x56:
        modify<&Step::lsr>(zp_i(x));
        break;
    case 0x4E:
        modify<&Step::lsr>(abs());
        break;
    case 0x5E:
        modify<&Step::lsr>(abs_i(x, writing));
        break;
    case 0x2A:
        modify_a<&Step::rol>();
        break;
    case 0x26:
        modify<&Step::rol>(zp());
        break;
    case 0x36:
        modify<&Step::rol>(zp_i(x));
        break;
    case 0x2E:
        modify<&Step::rol>(abs());
        break;
    case 0x3E:
        modify<&Step::rol>(abs_i(x, writing));
        break;
    case 0x6A:
        modify_a<&Step::ror>();
        break;
    case 0x66:
        modify<&Step::ror>(zp());
        break;
    case 0x76:
        modify<&Step::ror>(zp_i(x));
        break;
    case 0x6E:
        modify<&Step::ror>(abs());
        break;
    case 0x7E:
        modify<&Step::ror>(abs_i(x, writing));
        break;
    // Flags.
    case 0x18:
        implied(), p &= ~C;
        break;
    case 0x38:
        implied(), p |= C;
        break;
    case 0x58:
        implied(), polled_i = (p & I) != 0, p &= ~I;
        break;
    case 0x78:
        implied(), polled_i = (p & I) != 0, p |= I;
        break;
    case 0xB8:
        implied(), p &= ~V;
        break;
    case 0xD8:
        implied(), p &= ~D;
        break;
    case 0xF8:
        implied(), p |= D;
        break;
    case 0xEA:
        implied();
        break;
    // Branches and jumps.
    case 0x10:
        branch(!(p & N));
        break;
    case 0x30:
        branch(p & N);
        break;
    case 0x50:
        branch(!(p & V));
        break;
    case 0x70:
        branch(p & V);
        break;
    case 0x90:
        branch(!(p & C));
        break;
    case 0xB0:
        branch(p & C);
        break;
    case 0xD0:
        branch(!(p & Z));
        break;
    case 0xF0:
        branch(p & Z);
        break;
    case 0x4C:
        pc = abs();
        break;
    case 0x6C: {
        std::uint16_t at = abs();
        pc = read16(at, (at & 0xFF00) | std::uint8_t(at + 1));
        break;
    }
    case 0x20: {
        std::uint16_t low = fetch();
        idle();
        push(pc >> 8);
        push(pc & 0xFF);
        pc = low | fetch() << 8;
        break;
    }
    case 0x60: {
        implied(), idle();
        std::uint16_t low = pull();
        pc = (low | pull() << 8) + 1;
        idle();
        break;
    }
    case 0x00:
        fetch(), interrupt(irq_vector, p | B | U);
        break;
    case 0x40: {
        implied(), idle();
        p = (pull() & ~B) | U;
        std::uint16_t low = pull();
        pc = low | pull() << 8;
        break;
    }
    default:
        return false;
    }
    return true;
}

} // namespace

unsigned cpu_step(Cpu6502 &cpu, const CpuBus &bus)
{
    Step step{bus, cpu.pc, cpu.a, cpu.x, cpu.y, cpu.s, cpu.p};
    bool nmi = cpu.nmi && !cpu.nmi_seen;
    cpu.nmi_seen = cpu.nmi;
    bool irq_blocked = cpu.polled_i < 0 ? cpu.p & I : cpu.polled_i;
    if (nmi || (cpu.irq && !irq_blocked)) {
        step.idle(), step.idle();
        step.interrupt(nmi ? nmi_vector : irq_vector, (cpu.p & ~B) | U);
    } else if (!step.execute(step.fetch())) {
        return 0;
    }
    cpu.pc = step.pc, cpu.a = step.a, cpu.x = step.x, cpu.y = step.y, cpu.s = step.s;
    cpu.p = step.p;
    cpu.polled_i = step.polled_i;
    return step.cycle;
}
