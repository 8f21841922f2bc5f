#include "tape/tape_fast.h"

#include "tape/tape_info.h"
#include "tape/tape_rom.h"

#include <algorithm>

namespace
{

// The loader's pulses in TAP units of 8 cycles, and its blocks.
constexpr char unit_zero = 0x1A, unit_one = 0x28;
constexpr unsigned char pilot_byte = 0x02;
constexpr std::size_t pilot_bytes = 256;
constexpr std::size_t trailer_pulses = 8;
constexpr std::size_t header_size = 192;
constexpr unsigned char id_data = 0, id_basic = 1, id_other = 2;

void put_byte(std::string &out, unsigned char value)
{
    for (int bit = 7; bit >= 0; --bit)
        out.push_back((value >> bit) & 1 ? unit_one : unit_zero);
}

// A silence of `cycles`, TAP version 1.
void put_pause(std::string &out, std::uint32_t cycles)
{
    out.push_back('\0');
    for (int i = 0; i < 3; ++i)
        out.push_back(static_cast<char>((cycles >> (8 * i)) & 0xFF));
}

// Pilot, countdown, payload.
void put_block(std::string &out, const std::string &payload)
{
    for (std::size_t i = 0; i < pilot_bytes; ++i)
        put_byte(out, pilot_byte);
    for (unsigned char c = 0x09; c >= 0x01; --c)
        put_byte(out, c);
    for (const char c : payload)
        put_byte(out, static_cast<unsigned char>(c));
}

std::string header_payload(const TapFastFile &file)
{
    std::string h(header_size, ' ');
    const auto end = static_cast<std::uint16_t>(file.start + file.data.size());
    h[0] = static_cast<char>(file.start == tape_rom_basic_start ? id_basic : id_other);
    h[1] = static_cast<char>(file.start & 0xFF);
    h[2] = static_cast<char>(file.start >> 8);
    h[3] = static_cast<char>(end & 0xFF);
    h[4] = static_cast<char>(end >> 8);
    h[5] = '\0';
    h.replace(6, std::min<std::size_t>(file.name.size(), 16), file.name, 0, 16);
    return h;
}

std::string data_payload(const TapFastFile &file)
{
    std::string d(1, static_cast<char>(id_data));
    d += file.data;
    unsigned char sum = 0;
    for (const char c : file.data)
        sum ^= static_cast<unsigned char>(c);
    return d + static_cast<char>(sum);
}

// A file's pulses as tape_rom_make writes them, without its TAP header.
std::string rom_pulses(const TapRomFile &file, const TapRomOptions &options)
{
    return tape_rom_make({file}, options).tap.substr(tape_header_size);
}

} // namespace

bool tape_fast_carries(std::uint16_t start, std::size_t size)
{
    const std::size_t end = start + size;
    return size > 0 && start >= 0x0400 && end <= 0x10000 && (end <= 0xD000 || start >= 0xE000);
}

TapFastTape tape_fast_make(const std::vector<TapFastFile> &files)
{
    const TapRomOptions saved = tape_rom_saved();
    TapRomOptions boot_layout = saved;
    boot_layout.pauses = false;
    const std::string body(tape_fast_body.begin(), tape_fast_body.end());
    const std::string boot(tape_fast_boot.begin(), tape_fast_boot.end());

    TapFastTape tape;
    tape.tap.assign(tape_header_size, '\0');
    for (std::size_t i = 0; i < files.size(); ++i) {
        const TapFastFile &file = files[i];
        tape.leaders.push_back(tape.tap.size());
        if (!tape_fast_carries(file.start, file.data.size())) {
            tape.rom_only.push_back(i);
            tape.tap += rom_pulses(tape_rom_program(file.start, file.name, file.data), saved);
            continue;
        }
        tape.tap += rom_pulses({3, tape_fast_boot_start, file.name, boot, body}, boot_layout);
        put_block(tape.tap, header_payload(file));
        put_block(tape.tap, data_payload(file));
        tape.tap.append(trailer_pulses, unit_zero);
        put_pause(tape.tap, saved.pause_cycles);
    }
    tape_write_header(tape.tap, 1);
    return tape;
}
