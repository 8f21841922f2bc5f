#include "tap_maker.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <utility>

namespace
{

constexpr char tap_signature[] = "C64-TAPE-RAW";

// Pulse byte values of the usual tape encoding.
constexpr unsigned char pulse_short = 0x30;
constexpr unsigned char pulse_medium = 0x42;
constexpr unsigned char pulse_long = 0x56;

// Random numbers for made-up tapes: a small generator of its own, whose
// sequence is the same with every standard library, which the "same seed,
// same file" promise needs.
struct TapRandom {
    std::uint64_t state;
    std::uint32_t next()
    {
        state += 0x9E3779B97F4A7C15ull;
        std::uint64_t z = state;
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
        return std::uint32_t((z ^ (z >> 31)) >> 32);
    }
    // A number from lo to hi, both included.
    std::uint32_t between(std::uint32_t lo, std::uint32_t hi)
    {
        return lo + next() % (hi - lo + 1);
    }
};

struct Writer {
    std::string data;
    std::uint64_t cycles = 0;
    std::uint64_t target = 0;
    TapRandom random;

    bool full() const { return cycles >= target; }

    // One pulse of about `nominal`, with the jitter a real recording has.
    void pulse(unsigned char nominal)
    {
        if (full())
            return;
        const unsigned char b = static_cast<unsigned char>(nominal - 1 + random.between(0, 2));
        data.push_back(static_cast<char>(b));
        cycles += 8u * b;
    }

    void pause(std::uint32_t length)
    {
        if (full())
            return;
        data.push_back('\0');
        data.push_back(static_cast<char>(length & 0xFF));
        data.push_back(static_cast<char>((length >> 8) & 0xFF));
        data.push_back(static_cast<char>((length >> 16) & 0xFF));
        cycles += length;
    }

    // A byte as the tape loader writes it: a marker (long, medium), eight
    // bits least significant first, then an odd parity bit; a 0 bit is
    // short + medium, a 1 bit medium + short.
    void byte(unsigned char value)
    {
        pulse(pulse_long);
        pulse(pulse_medium);
        unsigned ones = 0;
        for (int bit = 0; bit < 8; ++bit) {
            const bool one = (value >> bit) & 1;
            ones += one;
            bit_pair(one);
        }
        bit_pair((ones & 1) == 0);
    }

    void bit_pair(bool one)
    {
        pulse(one ? pulse_medium : pulse_short);
        pulse(one ? pulse_short : pulse_medium);
    }

    void block(std::uint32_t pilot_pulses, std::uint32_t bytes)
    {
        for (std::uint32_t i = 0; i < pilot_pulses; ++i)
            pulse(pulse_short);
        // Countdown sync bytes, then the payload and its checksum.
        for (unsigned char sync = 0x89; sync >= 0x81; --sync)
            byte(sync);
        unsigned char check = 0;
        for (std::uint32_t i = 0; i < bytes; ++i) {
            const auto value = static_cast<unsigned char>(random.next());
            check ^= value;
            byte(value);
        }
        byte(check);
        // End-of-data marker.
        pulse(pulse_long);
        pulse(pulse_short);
    }
};

void put_le32(std::string &text, std::size_t at, std::uint32_t value)
{
    for (int i = 0; i < 4; ++i)
        text[at + i] = static_cast<char>((value >> (8 * i)) & 0xFF);
}

// Offsets (from the start of the file) of the pulses that follow a pause.
std::vector<std::uint32_t> offsets_after_pauses(const std::string &tap, std::uint32_t *middle)
{
    std::vector<std::uint32_t> found;
    const std::size_t end = tap.size();
    const std::size_t half = tape_header_size + (end - tape_header_size) / 2;
    *middle = 0;
    std::size_t at = tape_header_size;
    while (at < end) {
        if (*middle == 0 && at >= half)
            *middle = static_cast<std::uint32_t>(at);
        if (tap[at] == '\0') {
            at += 4;
            if (at < end)
                found.push_back(static_cast<std::uint32_t>(at));
        } else {
            ++at;
        }
    }
    return found;
}

// A byte as the ROM loader writes it: 20 pulses, the marker (long, medium)
// and nine bit pairs.
constexpr std::size_t pulses_per_byte = 20;

// Gives the header whose leader starts at `leader` a wrong checksum in its
// `copy`-th copy (1 or 2): every bit of the check byte turned, which swaps
// the pulses of its eight bit pairs (the check bit stays). A copy begins
// with the first long pulse after the leader or the gap (its countdown's
// marker) and ends with the end mark (long, short) after its check byte.
void spoil_check_byte(std::string &tap, std::size_t leader, int copy)
{
    std::size_t end_mark = 0;
    for (std::size_t from = leader; copy > 0; --copy, from = end_mark + 2) {
        end_mark = tap.find(static_cast<char>(pulse_long), from);
        while (tap[end_mark + 1] == static_cast<char>(pulse_medium))
            end_mark += pulses_per_byte;
    }
    const std::size_t check = end_mark - pulses_per_byte;
    for (std::size_t bit = 0; bit < 8; ++bit)
        std::swap(tap[check + 2 + 2 * bit], tap[check + 3 + 2 * bit]);
}

// `ideal` again with every pulse drifted and jittered, and noise before
// each leader: random numbers drawn in tape order.
TapRomTape roughen(const TapRomTape &ideal, const TapProgramsOptions &options)
{
    TapRandom random{0x2031A000ull + options.seed};
    TapRomTape tape;
    const std::size_t leaders = ideal.leaders.size() + ideal.data_leaders.size();
    tape.tap.reserve(ideal.tap.size() + options.noise * leaders);
    tape.tap.assign(ideal.tap, 0, tape_header_size);
    std::size_t header = 0, data = 0;
    for (std::size_t at = tape_header_size; at < ideal.tap.size();) {
        const bool header_leader = header < ideal.leaders.size() && ideal.leaders[header] == at;
        if (header_leader || (data < ideal.data_leaders.size() && ideal.data_leaders[data] == at)) {
            for (unsigned i = 0; i < options.noise; ++i)
                tape.tap.push_back(static_cast<char>(random.between(0x10, 0xFF)));
            (header_leader ? tape.leaders : tape.data_leaders).push_back(tape.tap.size());
            ++(header_leader ? header : data);
        }
        const auto units = static_cast<unsigned char>(ideal.tap[at]);
        if (units == 0) {
            const std::size_t pause = options.rom.version == 0 ? 1 : 4;
            tape.tap.append(ideal.tap, at, pause);
            at += pause;
            continue;
        }
        const double drifted = units * (100.0 + options.drift_percent) / 100.0;
        const int jitter = int(random.between(0, 2 * options.jitter)) - int(options.jitter);
        const long value = std::lround(drifted) + jitter;
        tape.tap.push_back(static_cast<char>(std::clamp(value, 1L, 255L)));
        ++at;
    }
    put_le32(tape.tap, 16, static_cast<std::uint32_t>(tape.tap.size() - tape_header_size));
    return tape;
}

void add_record(std::string &idx, std::uint32_t offset, const char *info)
{
    char line[160];
    std::snprintf(line, sizeof line, "0x%lx%s%s\r\n", static_cast<unsigned long>(offset),
                  offset <= 0xFFFFF ? "\t\t" : "\t", info);
    idx += line;
}

} // namespace

TapRomTape tap_make_programs(const std::vector<TapRomFile> &files,
                             const TapProgramsOptions &options)
{
    TapRomTape tape = tape_rom_make(files, options.rom);
    for (const std::size_t file : options.bad_first_copies)
        spoil_check_byte(tape.tap, tape.leaders.at(file), 1);
    for (const std::size_t file : options.bad_repeats)
        spoil_check_byte(tape.tap, tape.leaders.at(file), 2);
    if (options.drift_percent == 0 && options.jitter == 0 && options.noise == 0)
        return tape;
    return roughen(tape, options);
}

std::string tap_wrap(const std::string &data)
{
    std::string tap(tape_header_size, '\0');
    tap.replace(0, 12, tap_signature);
    tap[12] = 1;
    put_le32(tap, 16, static_cast<std::uint32_t>(data.size()));
    return tap + data;
}

std::string tap_make(double seconds, unsigned seed)
{
    Writer out;
    out.random.state = 0x5EED0000ull + seed;
    out.target = seconds > 0 ? static_cast<std::uint64_t>(seconds * tape_clock_hz) : 0;
    // The first block carries a long lead-in, as the header block on a real
    // tape does; later blocks have shorter pilots. Short tapes get pilots and
    // blocks cut to about a tenth of their length, so that they still hold
    // several blocks with pauses between them.
    const auto scale = static_cast<std::uint32_t>(seconds > 0 ? seconds * 250 : 0) + 50;
    const std::uint32_t most_bytes = std::min<std::uint32_t>(192, scale / 10 + 8);
    bool first = true;
    while (!out.full()) {
        const std::uint32_t pilot =
            first ? out.random.between(2500, 4000) : out.random.between(600, 1500);
        out.block(std::min(pilot, scale), out.random.between(most_bytes / 3, most_bytes));
        out.pause(out.random.between(tape_clock_hz / 5, tape_clock_hz));
        first = false;
    }
    return tap_wrap(out.data);
}

std::string tap_make_idx(const std::string &tap)
{
    static constexpr std::array<const char *, 5> names = {"Loader", "Title screen", "Main program",
                                                          "Level data", "High scores"};
    std::string idx;
    add_record(idx, tape_header_size, "Tape start");
    if (tap.size() <= tape_header_size)
        return idx;
    std::uint32_t middle = 0;
    const std::vector<std::uint32_t> starts = offsets_after_pauses(tap, &middle);
    if (starts.empty()) {
        if (middle > tape_header_size)
            add_record(idx, middle, "Middle of the tape");
        return idx;
    }
    for (std::size_t i = 0; i < starts.size() && i < names.size(); ++i)
        add_record(idx, starts[i], names[i]);
    return idx;
}

std::uint64_t tap_data_cycles(const std::string &data)
{
    std::uint64_t cycles = 0;
    std::size_t at = 0;
    while (at < data.size()) {
        const auto b = static_cast<unsigned char>(data[at]);
        if (b != 0) {
            cycles += 8u * b;
            ++at;
            continue;
        }
        if (at + 4 > data.size())
            break;
        cycles += static_cast<unsigned char>(data[at + 1]) |
                  static_cast<unsigned char>(data[at + 2]) << 8 |
                  static_cast<unsigned char>(data[at + 3]) << 16;
        at += 4;
    }
    return cycles;
}

std::uint32_t tap_length_field(const std::string &tap)
{
    if (tap.size() < tape_header_size)
        return 0;
    std::uint32_t value = 0;
    for (int i = 3; i >= 0; --i)
        value = value << 8 | static_cast<unsigned char>(tap[16 + i]);
    return value;
}
