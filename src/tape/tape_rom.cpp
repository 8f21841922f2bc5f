#include "tape/tape_rom.h"

#include <algorithm>
#include <utility>

namespace
{

// The kernal's pulses in TAP units of 8 cycles, and its block layout.
constexpr unsigned char unit_short = 0x30, unit_medium = 0x42, unit_long = 0x56;
constexpr std::uint32_t gap_pulses = 79;
constexpr std::uint32_t trailer_pulses = 78;
constexpr std::size_t header_size = 192;

struct RomWriter {
    const TapRomOptions &options;
    std::string data;

    void pulse(unsigned char units) { data.push_back(static_cast<char>(units)); }

    void shorts(std::uint32_t count)
    {
        for (std::uint32_t i = 0; i < count; ++i)
            pulse(unit_short);
    }

    void pause(std::uint32_t cycles)
    {
        data.push_back('\0');
        if (options.version == 0)
            return;
        for (int i = 0; i < 3; ++i)
            data.push_back(static_cast<char>((cycles >> (8 * i)) & 0xFF));
    }

    void bit(bool one)
    {
        pulse(one ? unit_medium : unit_short);
        pulse(one ? unit_short : unit_medium);
    }

    // Marker (long, medium), bits least significant first, odd check bit.
    void byte(unsigned char value)
    {
        pulse(unit_long);
        pulse(unit_medium);
        bool check = true;
        for (int i = 0; i < 8; ++i) {
            const bool one = (value >> i) & 1;
            check ^= one;
            bit(one);
        }
        bit(check);
    }

    void copy(const std::string &payload, unsigned char countdown_top)
    {
        for (unsigned char c = countdown_top; c > countdown_top - 9; --c)
            byte(c);
        unsigned char check = 0;
        for (const char c : payload) {
            byte(static_cast<unsigned char>(c));
            check ^= static_cast<unsigned char>(c);
        }
        byte(check);
        pulse(unit_long);
        pulse(unit_short);
    }

    // Leader, both copies and the trailer.
    void block(std::uint32_t leader, const std::string &payload)
    {
        shorts(leader);
        copy(payload, 0x89);
        shorts(gap_pulses);
        copy(payload, 0x09);
        shorts(trailer_pulses);
    }
};

std::string header_payload(const TapRomFile &file)
{
    std::string h(header_size, ' ');
    const auto end = static_cast<std::uint16_t>(file.start + file.data.size());
    h[0] = static_cast<char>(file.type);
    h[1] = static_cast<char>(file.start & 0xFF);
    h[2] = static_cast<char>(file.start >> 8);
    h[3] = static_cast<char>(end & 0xFF);
    h[4] = static_cast<char>(end >> 8);
    h.replace(5, std::min<std::size_t>(file.name.size(), 16), file.name, 0, 16);
    h.replace(21, std::min<std::size_t>(file.body.size(), header_size - 21), file.body, 0,
              header_size - 21);
    return h;
}

} // namespace

TapRomTape tape_rom_make(const std::vector<TapRomFile> &files, const TapRomOptions &options)
{
    RomWriter out{options, {}};
    // Each byte is 20 pulses, written twice; the header goes in front.
    std::size_t expected = tape_header_size;
    for (const TapRomFile &file : files)
        expected += options.header_leader + options.data_leader +
                    40 * (header_size + file.data.size() + 20) + 16;
    out.data.reserve(expected);
    out.data.assign(tape_header_size, '\0');
    TapRomTape tape;
    for (const TapRomFile &file : files) {
        if (options.pauses && !options.pause_after)
            out.pause(options.pause_cycles);
        tape.leaders.push_back(out.data.size());
        out.block(options.header_leader, header_payload(file));
        if (!file.data.empty()) {
            if (options.data_pause_cycles > 0)
                out.pause(options.data_pause_cycles);
            tape.data_leaders.push_back(out.data.size());
            out.block(options.data_leader, file.data);
        }
        if (options.pauses && options.pause_after)
            out.pause(options.pause_cycles);
    }
    tape_write_header(out.data, options.version);
    tape.tap = std::move(out.data);
    return tape;
}

TapRomFile tape_rom_program(std::uint16_t start, const std::string &name, const std::string &data)
{
    return {static_cast<unsigned char>(start == tape_rom_basic_start ? 1 : 3), start, name, data,
            ""};
}

TapRomOptions tape_rom_saved()
{
    TapRomOptions options;
    options.pause_after = true;
    options.pause_cycles = tape_clock_hz;
    options.data_pause_cycles = tape_clock_hz / 3;
    options.header_leader = 27136;
    options.data_leader = 5376;
    return options;
}

std::string tape_rom_petscii(const std::string &text)
{
    std::string name = text;
    for (char &c : name)
        if (c >= 'a' && c <= 'z')
            c = static_cast<char>(c - 'a' + 'A');
    return name;
}
