#include "c64.h"

#include <algorithm>

namespace
{

constexpr std::uint64_t never = UINT64_MAX;

constexpr unsigned line_cycles = 63, frame_lines = 312;
constexpr unsigned first_bad_line = 0x30, last_bad_line = 0xF7;
constexpr unsigned bad_line_hold = 14; // the cycle of its line from which a bad line holds the CPU
constexpr unsigned bad_line_cycles = 40;

constexpr std::uint8_t icr_timer_a = 0x01, icr_timer_b = 0x02, icr_flag = 0x10;
constexpr std::uint8_t icr_any = 0x80;
constexpr std::uint8_t control_start = 0x01, control_one_shot = 0x08, control_load = 0x10;
// The input mode bits: 0 = count CPU cycles.
constexpr std::uint8_t mode_a = 0x20, mode_b = 0x60;

// What the port's input pins read: pulled up, but the cassette sense low.
constexpr std::uint8_t port_inputs = 0xEF;
constexpr std::uint8_t port_motor = 0x20;

constexpr std::uint8_t d011_screen = 0x10, d011_scroll = 0x07;

bool timer_counts(const C64Timer &timer, std::uint8_t mode)
{
    return (timer.control & (control_start | mode)) == control_start;
}

// Runs a timer for `cycles`; an underflow sets `flag` in `flags`.
void timer_run(C64Timer &timer, std::uint8_t mode, std::uint64_t cycles, std::uint8_t &flags,
               std::uint8_t flag)
{
    if (!timer_counts(timer, mode))
        return;
    if (cycles <= timer.counter) {
        timer.counter -= cycles;
        return;
    }
    flags |= flag;
    cycles -= timer.counter + 1u;
    timer.counter = timer.latch;
    if (timer.control & control_one_shot)
        timer.control &= ~control_start;
    else
        timer.counter -= cycles % (timer.latch + 1u);
}

std::uint64_t timer_underflow(const C64Timer &timer, std::uint8_t mode, std::uint64_t now)
{
    return timer_counts(timer, mode) ? now + timer.counter + 1 : never;
}

void timer_latch_high(C64Timer &timer, std::uint8_t v)
{
    timer.latch = (timer.latch & 0x00FF) | v << 8;
    if (timer.control & control_one_shot)
        timer.control |= control_start;
    else if (timer.control & control_start)
        return;
    timer.counter = timer.latch;
}

void timer_control(C64Timer &timer, std::uint8_t v)
{
    if (v & control_load)
        timer.counter = timer.latch;
    timer.control = v & ~control_load;
}

void cia_run(C64Cia &cia, std::uint64_t cycles)
{
    timer_run(cia.timer_a, mode_a, cycles, cia.flags, icr_timer_a);
    timer_run(cia.timer_b, mode_b, cycles, cia.flags, icr_timer_b);
}

bool cia_interrupt(const C64Cia &cia)
{
    return cia.flags & cia.mask;
}

std::uint8_t port_read(const C64 &m)
{
    return (m.port_data & m.port_direction) | (port_inputs & ~m.port_direction);
}

bool motor_on(const C64 &m)
{
    return !(port_read(m) & port_motor);
}

// Takes the next pulse from the source when none is in progress.
void tape_next(C64 &m)
{
    if (m.pulse_left || m.tape_empty)
        return;
    m.pulse_left = m.tape.next_pulse ? m.tape.next_pulse(m.tape.ctx) : 0;
    m.tape_empty = !m.pulse_left;
}

void tape_run(C64 &m, std::uint64_t cycles)
{
    if (!motor_on(m))
        return;
    while (m.pulse_left && cycles >= m.pulse_left) {
        cycles -= m.pulse_left;
        m.pulse_left = 0;
        ++m.pulses;
        m.cia1.flags |= icr_flag;
        tape_next(m);
    }
    if (m.pulse_left)
        m.pulse_left -= cycles;
}

// The cycle at which the first bad line at or after `from` holds the CPU.
std::uint64_t bad_line_from(const C64 &m, std::uint64_t from)
{
    std::uint8_t d011 = m.ram[0xD011];
    if (!(d011 & d011_screen))
        return never;
    // A frame has a whole number of 8-line groups, so a line's low three
    // bits are those of its count since cycle 0.
    std::uint64_t line = from / line_cycles;
    line += (d011 - line) & d011_scroll;
    for (;; line += 8) {
        unsigned in_frame = line % frame_lines;
        std::uint64_t hold = line * line_cycles + bad_line_hold;
        if (in_frame >= first_bad_line && in_frame <= last_bad_line && hold >= from)
            return hold;
    }
}

// Runs timers and tape up to cycle `to`.
void devices_run(C64 &m, std::uint64_t to)
{
    std::uint64_t cycles = to - m.devices_at;
    m.devices_at = to;
    cia_run(m.cia1, cycles);
    cia_run(m.cia2, cycles);
    tape_run(m, cycles);
}

// After the devices changed: the CPU's interrupt lines, and when to look
// again.
void devices_settle(C64 &m)
{
    m.cpu.irq = cia_interrupt(m.cia1);
    m.cpu.nmi = cia_interrupt(m.cia2);
    std::uint64_t next = m.next_bad_line;
    next = std::min(next, timer_underflow(m.cia1.timer_a, mode_a, m.devices_at));
    next = std::min(next, timer_underflow(m.cia1.timer_b, mode_b, m.devices_at));
    next = std::min(next, timer_underflow(m.cia2.timer_a, mode_a, m.devices_at));
    next = std::min(next, timer_underflow(m.cia2.timer_b, mode_b, m.devices_at));
    if (m.pulse_left && motor_on(m))
        next = std::min<std::uint64_t>(next, m.devices_at + m.pulse_left);
    m.next_event = next;
}

std::uint8_t cia_read(C64Cia &cia, unsigned reg)
{
    switch (reg) {
    case 0x0:
        return cia.registers[0x0] | ~cia.registers[0x2];
    case 0x1:
        return cia.registers[0x1] | ~cia.registers[0x3];
    case 0x4:
        return cia.timer_a.counter & 0xFF;
    case 0x5:
        return cia.timer_a.counter >> 8;
    case 0x6:
        return cia.timer_b.counter & 0xFF;
    case 0x7:
        return cia.timer_b.counter >> 8;
    case 0xD: {
        std::uint8_t v = cia.flags | (cia_interrupt(cia) ? icr_any : 0);
        cia.flags = 0;
        return v;
    }
    case 0xE:
        return cia.timer_a.control;
    case 0xF:
        return cia.timer_b.control;
    default:
        return cia.registers[reg];
    }
}

void cia_write(C64Cia &cia, unsigned reg, std::uint8_t v)
{
    switch (reg) {
    case 0x4:
        cia.timer_a.latch = (cia.timer_a.latch & 0xFF00) | v;
        break;
    case 0x5:
        timer_latch_high(cia.timer_a, v);
        break;
    case 0x6:
        cia.timer_b.latch = (cia.timer_b.latch & 0xFF00) | v;
        break;
    case 0x7:
        timer_latch_high(cia.timer_b, v);
        break;
    case 0xD:
        cia.mask = v & icr_any ? cia.mask | (v & 0x1F) : cia.mask & ~v;
        break;
    case 0xE:
        timer_control(cia.timer_a, v);
        break;
    case 0xF:
        timer_control(cia.timer_b, v);
        break;
    default:
        cia.registers[reg] = v;
        break;
    }
}

unsigned raster_line(std::uint64_t now)
{
    return now / line_cycles % frame_lines;
}

bool in_io(std::uint16_t at)
{
    return at >= 0xD000 && at < 0xE000;
}

// A VIC register's address with the repeats folded.
std::uint16_t vic_register(std::uint16_t at)
{
    return at < 0xD400 ? 0xD000 | (at & 0x3F) : at;
}

std::uint8_t io_read(C64 &m, std::uint16_t at, std::uint64_t now)
{
    unsigned page = at >> 8;
    if (page == 0xDC || page == 0xDD) {
        devices_run(m, now);
        std::uint8_t v = cia_read(page == 0xDC ? m.cia1 : m.cia2, at & 0x0F);
        devices_settle(m);
        return v;
    }
    at = vic_register(at);
    if (at == 0xD011)
        return (m.ram[at] & 0x7F) | (raster_line(now) >> 1 & 0x80);
    if (at == 0xD012)
        return raster_line(now) & 0xFF;
    return m.ram[at];
}

void io_write(C64 &m, std::uint16_t at, std::uint8_t v, std::uint64_t now)
{
    unsigned page = at >> 8;
    devices_run(m, now);
    if (page == 0xDC || page == 0xDD) {
        cia_write(page == 0xDC ? m.cia1 : m.cia2, at & 0x0F, v);
    } else {
        at = vic_register(at);
        m.ram[at] = v;
        if (at == 0xD011)
            m.next_bad_line = bad_line_from(m, now);
    }
    devices_settle(m);
}

std::uint8_t bus_read(void *ctx, std::uint16_t at, unsigned cycle)
{
    C64 &m = *static_cast<C64 *>(ctx);
    if (in_io(at))
        return io_read(m, at, m.clock + cycle);
    if (at < 2)
        return at ? port_read(m) : m.port_direction;
    return m.ram[at];
}

void bus_write(void *ctx, std::uint16_t at, std::uint8_t v, unsigned cycle)
{
    C64 &m = *static_cast<C64 *>(ctx);
    if (in_io(at)) {
        io_write(m, at, v, m.clock + cycle);
    } else if (at < 2) {
        devices_run(m, m.clock + cycle);
        (at ? m.port_data : m.port_direction) = v;
        devices_settle(m);
    } else {
        m.ram[at] = v;
    }
}

// Between instructions, when a device's time has come: a bad line's hold,
// then the devices up to the clock.
void catch_up(C64 &m)
{
    if (m.clock >= m.next_bad_line) {
        m.clock += bad_line_cycles;
        m.next_bad_line = bad_line_from(m, m.clock);
    }
    devices_run(m, m.clock);
    devices_settle(m);
}

bool in_rom(std::uint16_t pc)
{
    return pc >= 0xA000 && (pc < 0xC000 || pc >= 0xE000);
}

} // namespace

C64Stop c64_run(C64 &m, std::uint64_t cycle_limit)
{
    // The caller may have changed anything since the last run.
    m.tape_empty = false;
    tape_next(m);
    m.next_bad_line = bad_line_from(m, m.clock);
    devices_run(m, m.clock);
    devices_settle(m);

    const CpuBus bus{bus_read, bus_write, &m};
    C64Stop stop;
    for (;;) {
        if (in_rom(m.cpu.pc)) {
            stop = C64Stop::rom_entry;
            break;
        }
        if (m.clock >= cycle_limit) {
            stop = C64Stop::cycle_limit;
            break;
        }
        unsigned cycles = cpu_step(m.cpu, bus);
        if (!cycles) {
            stop = C64Stop::undocumented_opcode;
            break;
        }
        m.clock += cycles;
        if (m.clock >= m.next_event)
            catch_up(m);
    }
    devices_run(m, m.clock);
    devices_settle(m);
    return stop;
}
