#include "emu_rom_blocks.h"

namespace
{

// Pulse lengths in cycles: short 0x30, medium 0x42, long 0x56 (× 8); the
// bounds between them lie halfway.
constexpr std::uint32_t short_medium = (0x30 + 0x42) * 4;
constexpr std::uint32_t medium_long = (0x42 + 0x56) * 4;
constexpr std::uint32_t longest = 0x70 * 8;
// Short pulses that make a leader before the first byte marker.
constexpr std::uint32_t leader_least = 16;
constexpr std::size_t countdown = 9;

enum Kind { none, s, m, l };
enum State { leader = 0, in_block = 1 };

Kind kind_of(std::uint32_t cycles)
{
    if (cycles < 0x20 * 8 || cycles > longest)
        return none;
    return cycles < short_medium ? s : cycles < medium_long ? m : l;
}

void restart(RomBlockReader &r)
{
    r.state = leader;
    r.shorts = 0;
    r.first = 0;
    r.bits = r.bit_count = 0;
    r.parity_ok = true;
    r.bytes.clear();
}

bool finish(RomBlockReader &r, RomBlock *block)
{
    const std::string bytes = r.bytes;
    const bool parity_ok = r.parity_ok;
    restart(r);
    if (bytes.size() < countdown + 1)
        return false;
    const unsigned char first = static_cast<unsigned char>(bytes[0]);
    if (first != 0x89 && first != 0x09)
        return false;
    block->repeat = first == 0x09;
    block->payload = bytes.substr(countdown, bytes.size() - countdown - 1);
    unsigned char sum = 0;
    for (unsigned char c : block->payload)
        sum ^= c;
    bool countdown_ok = true;
    for (std::size_t i = 0; i < countdown; ++i)
        countdown_ok = countdown_ok && static_cast<unsigned char>(bytes[i]) == first - i;
    block->sound = parity_ok && countdown_ok && sum == static_cast<unsigned char>(bytes.back());
    return true;
}

} // namespace

bool rom_blocks_take(RomBlockReader &r, std::uint32_t cycles, RomBlock *block)
{
    const Kind k = kind_of(cycles);
    if (r.state == leader) {
        if (k == s) {
            ++r.shorts;
        } else if (k == l && r.shorts >= leader_least) {
            r.state = in_block;
            r.first = cycles;
            r.bit_count = 9; // the marker's pair is being read
        } else {
            r.shorts = 0;
        }
        return false;
    }
    if (k == none) {
        restart(r);
        return false;
    }
    if (r.first == 0) {
        r.first = cycles;
        return false;
    }
    const Kind a = kind_of(r.first), b = k;
    r.first = 0;
    if (a == l) { // a marker: a new byte (long, medium) or the block's end (long, short)
        if (b == s)
            return finish(r, block);
        if (b != m || r.bit_count != 9) {
            restart(r);
            return false;
        }
        r.bits = r.bit_count = 0;
        return false;
    }
    if (r.bit_count >= 9 || !((a == s && b == m) || (a == m && b == s))) {
        restart(r);
        return false;
    }
    const unsigned bit = a == m ? 1 : 0;
    if (r.bit_count < 8) {
        r.bits |= bit << r.bit_count;
    } else {
        unsigned ones = bit;
        for (unsigned v = r.bits; v != 0; v >>= 1)
            ones += v & 1;
        r.parity_ok = r.parity_ok && ones % 2 == 1;
        r.bytes.push_back(static_cast<char>(r.bits));
    }
    ++r.bit_count;
    return false;
}
