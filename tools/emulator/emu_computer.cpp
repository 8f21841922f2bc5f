#include "emu_computer.h"

#include "c64.h"
#include "emu_rom_blocks.h"

#include <algorithm>
#include <cstdio>
#include <memory>

namespace
{

constexpr std::uint16_t header_at = 0x033C;
constexpr std::uint16_t basic_start = 0x0801;
constexpr std::size_t header_size = 192;
constexpr std::size_t name_at = 5;
// Kept back from a run until more pulses come (or the tape ends): the run may
// go some cycles past its limit, and must never ask for a pulse not yet here.
constexpr std::uint32_t pulse_margin = 1000;
// A loader that takes no pulse for this long has lost the tape.
constexpr std::uint64_t stall_cycles = std::uint64_t(c64_pal_hz) * 30;

// Where execution went, by the ROM entry the loader jumped to.
struct Entry {
    std::uint16_t address;
    const char *name;
};
constexpr Entry entries[] = {
    {0xA474, "READY"}, // the READY. warm start
    {0xA483, "READY"}, // the main loop, where a LOAD's JMP ($0302) goes
    {0xA871, "RUN"},   // the RUN statement
};
// BASIC's error handler, with the error number in X.
constexpr std::uint16_t basic_error = 0xA437;
constexpr std::uint8_t load_error_number = 0x1D;

// A Turbotape 250 header seen among the pulses the loader read: the range
// and name that the program announced.
struct TurboWatch {
    unsigned window = 0, bits = 0, phase = 0, pilot = 0;
    bool aligned = false;
    std::string block;
    bool seen = false;
    std::uint16_t start = 0, end = 0;
    std::string name;

    void lose()
    {
        aligned = false;
        pilot = 0;
        block.clear();
    }

    void take(std::uint32_t cycles)
    {
        if (cycles < 0x10 * 8 || cycles > 0x32 * 8) {
            bits = 0;
            return lose();
        }
        window = (window << 1 | (cycles > 0x20 * 8 ? 1 : 0)) & 0xFF;
        ++bits;
        if (!aligned) {
            if (bits >= 8 && window == 0x02) {
                aligned = true;
                pilot = 1;
                phase = 0;
            }
            return;
        }
        if (++phase < 8)
            return;
        phase = 0;
        if (block.empty() && window == 0x02) {
            ++pilot;
            return;
        }
        if (block.size() < 9 && (pilot < 16 || window != 9 - block.size()))
            return lose();
        block.push_back(static_cast<char>(window));
        if (block.size() == 10 && window != 1 && window != 2)
            return lose();
        if (block.size() < 9 + header_size)
            return;
        const auto *h = reinterpret_cast<const unsigned char *>(block.data()) + 9;
        seen = true;
        start = static_cast<std::uint16_t>(h[1] | h[2] << 8);
        end = static_cast<std::uint16_t>(h[3] | h[4] << 8);
        name.assign(reinterpret_cast<const char *>(h) + 6, 16);
        lose();
    }
};

enum class Phase { header, data, loader };

struct Computer {
    std::unique_ptr<C64> machine;
    std::string dump_folder;
    unsigned programs = 0;
    Phase phase = Phase::header;
    RomBlockReader reader;
    std::string header; // the header block being loaded
    bool data_loaded = false;
    std::uint16_t start = 0, end = 0;
    std::string name;
    // The computer's time, and when the program began.
    std::uint64_t time = 0, program_time = 0;
    bool program_started = false;
    // The pulses offered to a run, and how many it took.
    const std::vector<std::uint32_t> *offered = nullptr;
    std::size_t next = 0;
    bool ended = false;
    TurboWatch turbo;
};

Computer computer;

std::uint32_t next_pulse(void *)
{
    Computer &c = computer;
    if (c.next >= c.offered->size())
        return 0; // only reached once the tape has ended
    const std::uint32_t cycles = (*c.offered)[c.next++];
    c.turbo.take(cycles);
    return cycles;
}

std::string trimmed_name(const std::string &petscii)
{
    std::string text;
    for (const unsigned char ch : petscii)
        text += ch >= 0x20 && ch < 0x7F ? static_cast<char>(ch) : '?';
    text.erase(text.find_last_not_of(' ') + 1);
    return text;
}

std::string time_text(std::uint64_t cycles)
{
    const double seconds = double(cycles) / c64_pal_hz;
    char text[32];
    std::snprintf(text, sizeof text, "%u:%04.1f", unsigned(seconds / 60),
                  seconds - 60.0 * unsigned(seconds / 60));
    return text;
}

void dump(const Computer &c, std::uint16_t from, std::uint16_t to)
{
    if (c.dump_folder.empty())
        return;
    const std::string path = c.dump_folder + "/" + std::to_string(c.programs) + ".prg";
    std::FILE *file = std::fopen(path.c_str(), "wb");
    if (file == nullptr) {
        std::fprintf(stderr, "ravelo-emulator: cannot write %s\n", path.c_str());
        return;
    }
    const unsigned char address[2] = {static_cast<unsigned char>(from),
                                      static_cast<unsigned char>(from >> 8)};
    std::fwrite(address, 1, 2, file);
    const std::size_t length = std::uint16_t(to - from);
    std::fwrite(c.machine->ram + from, 1, std::min<std::size_t>(length, 0x10000 - from), file);
    std::fclose(file);
}

// The program's line, and back to waiting for the next header.
void report(Computer &c, const std::string &outcome)
{
    ++c.programs;
    std::uint16_t from = c.start, to = c.end;
    std::string name = c.name;
    if (c.turbo.seen) {
        from = c.turbo.start;
        to = c.turbo.end;
        name = c.turbo.name;
    }
    std::printf("computer: \"%s\" $%04X-$%04X %s after %s\n", trimmed_name(name).c_str(), from, to,
                outcome.c_str(), time_text(c.time - c.program_time).c_str());
    std::fflush(stdout);
    dump(c, from, to);
    c.phase = Phase::header;
    c.program_started = false;
    c.data_loaded = false;
    c.turbo = TurboWatch{};
}

std::string hex_address(std::uint16_t address)
{
    char text[8];
    std::snprintf(text, sizeof text, "$%04X", address);
    return text;
}

std::string outcome_at(const C64 &m)
{
    const std::uint16_t pc = m.cpu.pc;
    if (pc == basic_error && m.cpu.x == load_error_number)
        return "?LOAD ERROR";
    for (const Entry &entry : entries)
        if (entry.address == pc)
            return entry.name;
    return hex_address(pc);
}

void store(C64 &m, std::uint16_t at, const std::string &bytes)
{
    for (std::size_t i = 0; i < bytes.size(); ++i)
        m.ram[std::uint16_t(at + i)] = static_cast<std::uint8_t>(bytes[i]);
}

void set_word(C64 &m, std::uint16_t at, std::uint16_t value)
{
    m.ram[at] = static_cast<std::uint8_t>(value);
    m.ram[at + 1] = static_cast<std::uint8_t>(value >> 8);
}

// The KERNAL's part: a header, then its data; the loader starts once the
// data's repeat has played.
void take_block(Computer &c, const RomBlock &block)
{
    C64 &m = *c.machine;
    if (c.phase == Phase::header) {
        const unsigned type =
            block.payload.empty() ? 0 : static_cast<unsigned char>(block.payload[0]);
        if (!block.sound || block.payload.size() != header_size || (type != 1 && type != 3))
            return;
        c.header = block.payload;
        store(m, header_at, c.header);
        const auto *h = reinterpret_cast<const unsigned char *>(c.header.data());
        const std::uint16_t start = h[1] | h[2] << 8, end = h[3] | h[4] << 8;
        c.start = type == 1 ? basic_start : start;
        c.end = static_cast<std::uint16_t>(c.start + std::uint16_t(end - start));
        c.name = c.header.substr(name_at, 16);
        c.phase = Phase::data;
        return;
    }
    if (block.payload == c.header)
        return; // the header's repeat
    if (block.sound && !c.data_loaded) {
        store(m, c.start, block.payload.substr(0, std::uint16_t(c.end - c.start)));
        c.data_loaded = true;
    }
    if (!block.repeat)
        return;
    if (!c.data_loaded)
        return report(c, "?LOAD ERROR");
    set_word(m, 0x2D, c.end);
    set_word(m, 0xAE, c.end);
    m.cpu.pc = static_cast<std::uint16_t>(m.ram[0x0302] | m.ram[0x0303] << 8);
    m.cpu.s = 0xFA;
    c.phase = Phase::loader;
}

// Runs the loader on the pulses from `at`; returns the index after the last
// one it took.
std::size_t run_loader(Computer &c, const std::vector<std::uint32_t> &pulses, std::size_t at)
{
    C64 &m = *c.machine;
    std::uint64_t ahead = 0;
    for (std::size_t i = at; i < pulses.size(); ++i)
        ahead += pulses[i];
    if (!c.ended && ahead <= pulse_margin)
        return at;
    c.offered = &pulses;
    c.next = at;
    const std::uint64_t before = m.clock, pulses_before = m.pulses;
    const std::uint64_t limit = m.clock + (c.ended ? stall_cycles : ahead - pulse_margin);
    const C64Stop stop = c64_run(m, limit);
    c.time += m.clock - before;
    if (stop == C64Stop::rom_entry)
        report(c, outcome_at(m));
    else if (stop == C64Stop::undocumented_opcode)
        report(c, "crash at " + hex_address(m.cpu.pc));
    else if (c.ended || (m.pulses == pulses_before && m.clock - before >= stall_cycles))
        report(c, "no end");
    return c.next;
}

} // namespace

void computer_start(const std::string &dump_folder)
{
    computer = Computer{};
    computer.machine = std::make_unique<C64>();
    computer.dump_folder = dump_folder;
    C64 &m = *computer.machine;
    // The vectors as the KERNAL leaves them: errors and BASIC's main loop.
    set_word(m, 0x0300, 0xE38B);
    set_word(m, 0x0302, 0xA483);
    m.ram[0xD011] = 0x1B; // the screen on, as after a LOAD
    m.tape = C64Tape{next_pulse, nullptr};
}

std::size_t computer_offer(const std::vector<std::uint32_t> &pulses, bool ended)
{
    Computer &c = computer;
    c.ended = ended;
    std::size_t i = 0;
    while (i < pulses.size() || (ended && c.phase == Phase::loader)) {
        if (c.phase == Phase::loader) {
            const std::size_t after = run_loader(c, pulses, i);
            if (after == i && c.phase == Phase::loader && !ended)
                break;
            i = after;
            continue;
        }
        if (!c.program_started) {
            c.program_started = true;
            c.program_time = c.time;
        }
        c.time += pulses[i];
        RomBlock block;
        if (rom_blocks_take(c.reader, pulses[i++], &block))
            take_block(c, block);
    }
    return i;
}
