#include "tape/tape_scan.h"

#include "tape/tape_info.h"

#include <algorithm>
#include <cstring>
#include <iterator>
#include <optional>

namespace
{

// A run of at least this many short pulses is a leader. The kernal writes
// about 79 between the two copies of a block, and a byte holds at most 19
// pulses between two long ones, so no run inside the data gets this far.
constexpr std::uint32_t min_leader = 32;
// A leader that directly follows a block starts with that block's trailer
// (about 78 short pulses): the record goes this far into the run, so that it
// points into the next leader even when no pause separates the two.
constexpr std::uint32_t trailer_skip = 96;
// At most this many odd pulses are dropped from the front of a leader; after
// other pulses than a pause or a block, this many short ones more, as noise
// can look like a short pulse.
constexpr int max_trim = 16;
constexpr int noise_margin = 8;
// Longer than any pulse a data byte can give: a pause.
constexpr std::uint32_t pause_cycles = 0xFF * 8;

constexpr std::size_t countdown_bytes = 9;
constexpr std::size_t header_bytes = 192;
constexpr std::size_t name_at = 5;

// A version 0 overflow pulse: longer than anything a loader reads.
constexpr std::uint32_t overflow_cycles = 0xFFFFFF;

struct Pulse {
    std::size_t offset;
    std::uint32_t cycles;
};

// The file's pulses in order. A count cut off by the end of the file ends
// the pulses.
struct PulseReader {
    const unsigned char *file;
    std::size_t size;
    std::size_t at;
    bool version0;

    bool next(Pulse *p)
    {
        if (at >= size)
            return false;
        const unsigned char b = file[at];
        if (b != 0 || version0) {
            *p = {at, b != 0 ? 8u * b : overflow_cycles};
            ++at;
            return true;
        }
        if (size - at < 4) {
            at = size;
            return false;
        }
        *p = {at,
              file[at + 1] | std::uint32_t(file[at + 2]) << 8 | std::uint32_t(file[at + 3]) << 16};
        at += 4;
        return true;
    }

    // Reads `p` again next time.
    void back(const Pulse &p) { at = p.offset; }
};

enum class Kind { s, m, l, other };

// Pulse classes scaled from a leader's measured short pulse. The kernal's
// short, medium and long are 0x30, 0x42 and 0x56 units; the borders sit
// halfway between, at 0x39 and 0x4C, and anything under half a short or
// over 2.3 shorts is no loader pulse.
struct Scale {
    std::uint64_t low, short_medium, medium_long, high;

    explicit Scale(std::uint64_t short_cycles)
        : low(short_cycles / 2), short_medium(short_cycles * 0x39 / 0x30),
          medium_long(short_cycles * 0x4C / 0x30), high(short_cycles * 23 / 10)
    {
    }

    Kind kind(std::uint32_t cycles) const
    {
        if (cycles < low || cycles > high)
            return Kind::other;
        if (cycles < short_medium)
            return Kind::s;
        return cycles < medium_long ? Kind::m : Kind::l;
    }
};

enum class ByteRead { byte, end, broken };

// One byte: the marker (long, medium), eight bits least significant first
// and the check bit, a 0 bit being (short, medium) and a 1 (medium, short).
// (long, short) is the end of the block. On a pulse that fits neither, the
// reader is left standing on it.
ByteRead read_byte(PulseReader &reader, const Scale &scale, unsigned *value, bool *parity_ok)
{
    Pulse p;
    const auto kind_of_next = [&] { return reader.next(&p) ? scale.kind(p.cycles) : Kind::other; };
    const auto broken = [&] {
        reader.back(p);
        return ByteRead::broken;
    };
    if (kind_of_next() != Kind::l)
        return broken();
    const Kind second = kind_of_next();
    if (second == Kind::s)
        return ByteRead::end;
    if (second != Kind::m)
        return broken();
    unsigned bits = 0, ones = 0;
    for (int i = 0; i < 9; ++i) {
        const Kind first = kind_of_next();
        if (first != Kind::s && first != Kind::m)
            return broken();
        const Kind expected = first == Kind::s ? Kind::m : Kind::s;
        if (kind_of_next() != expected)
            return broken();
        const unsigned bit = first == Kind::m;
        bits |= bit << i;
        ones += bit;
    }
    *value = bits & 0xFF;
    *parity_ok = (ones & 1) == 1;
    return ByteRead::byte;
}

enum class Copy { unknown, first, repeat };

struct Block {
    bool any_byte = false; // at least one byte was read after the leader
    bool ended = false;    // the end marker was read: the reader stands after it
    Copy copy = Copy::unknown;
    bool whole = false; // 192 bytes that read without a fault: a header, or data
    std::array<unsigned char, header_bytes> payload{};
};

// The block after a leader, read to its end marker or to the first pulse
// that belongs to no byte.
Block read_block(PulseReader &reader, const Scale &scale)
{
    Block block;
    bool faultless = true;
    bool countdown_right = true;
    unsigned check = 0;
    std::size_t count = 0;
    for (;;) {
        unsigned value = 0;
        bool parity_ok = false;
        const ByteRead read = read_byte(reader, scale, &value, &parity_ok);
        if (read == ByteRead::broken)
            return block;
        if (read == ByteRead::end && count == 0)
            return block; // (long, short) with no byte before it: noise, not a block
        if (read == ByteRead::end)
            break;
        block.any_byte = true;
        faultless = faultless && parity_ok;
        if (count < countdown_bytes) {
            // Any one countdown byte tells the copy, so that a damaged first
            // byte still leaves the copy known.
            const auto left = static_cast<unsigned>(countdown_bytes - count);
            if (block.copy == Copy::unknown && value == (0x80 | left))
                block.copy = Copy::first;
            else if (block.copy == Copy::unknown && value == left)
                block.copy = Copy::repeat;
            const unsigned expected = block.copy == Copy::first ? 0x80 | left : left;
            countdown_right = countdown_right && block.copy != Copy::unknown && value == expected;
        } else if (count < countdown_bytes + header_bytes) {
            block.payload[count - countdown_bytes] = static_cast<unsigned char>(value);
            check ^= value;
        } else if (count == countdown_bytes + header_bytes) {
            faultless = faultless && value == check;
        }
        ++count;
    }
    block.ended = true;
    block.whole = block.any_byte && faultless && countdown_right &&
                  count == countdown_bytes + header_bytes + 1;
    return block;
}

// What came right before a run of pulses.
enum class Edge {
    pause, // a pause, or the start of the data
    block, // the end marker of a block
    pulse, // any other pulse: noise, or a block that broke off
};

// A run of pulses of about the same length: the leader candidate.
struct Run {
    std::size_t start = 0;
    std::size_t skip_to = 0; // offset of pulse number trailer_skip
    std::uint64_t count = 0;
    std::uint64_t sum = 0; // of the cycles
    Edge before = Edge::pause;

    void begin(const Pulse &p, Edge edge)
    {
        *this = Run{};
        start = p.offset;
        before = edge;
        add(p);
    }

    // A pulse within a quarter of the mean goes on with the run.
    bool fits(const Pulse &p) const
    {
        const std::uint64_t x = p.cycles * count;
        return (x > sum ? x - sum : sum - x) * 4 <= sum;
    }

    void add(const Pulse &p)
    {
        if (count == trailer_skip)
            skip_to = p.offset;
        ++count;
        sum += p.cycles;
    }

    std::uint64_t mean() const { return sum / count; }

    // Where the leader starts: past a previous block's trailer, past odd
    // pulses (noise) that are more than a sixth off the measured short
    // pulse, and past the margin for noise that looks like short pulses.
    std::size_t leader_start(PulseReader reader) const
    {
        const std::size_t first =
            before == Edge::block && count >= trailer_skip + min_leader ? skip_to : start;
        reader.at = first;
        const std::uint64_t s = mean();
        int margin = before == Edge::pulse ? noise_margin : 0;
        Pulse p;
        for (int i = 0; i < max_trim + noise_margin && reader.next(&p); ++i) {
            const std::uint64_t diff = p.cycles > s ? p.cycles - s : s - p.cycles;
            if (diff * 6 <= s && margin-- == 0)
                return p.offset;
        }
        return first;
    }
};

std::string petscii_char(unsigned char c)
{
    if (c >= 0x20 && c <= 0x5B)
        return std::string(1, static_cast<char>(c));
    if (c >= 0xC1 && c <= 0xDA)
        return std::string(1, static_cast<char>(c - 0xC1 + 'A'));
    switch (c) {
    case 0x5C:
        return "\xC2\xA3"; // £
    case 0x5E:
        return "\xE2\x86\x91"; // ↑
    case 0x5F:
        return "\xE2\x86\x90"; // ←
    default:
        return "?";
    }
}

// The programs found so far, and what the blocks seen so far say about the
// next one: a header read from both copies gives one program, at the first
// copy's leader, and the data block of a program exactly 192 bytes long,
// which reads like a header, is not taken for one.
struct Finder {
    std::vector<TapeProgram> programs;
    bool first_known = false; // a first copy came, its repeat not yet
    bool first_taken = false; // and that first copy gave the program
    std::optional<std::size_t> first_leader;
    std::array<unsigned char, header_bytes> last_header{};
    bool data_next = false; // the last program is 192 bytes long
    std::optional<std::array<unsigned char, header_bytes>> data_block;

    // The block that followed the leader starting at `leader`.
    void take(const Block &block, std::size_t leader)
    {
        const unsigned type = block.payload[0];
        const bool header =
            block.whole && !is_data(block) && (type == 1 || type == 3 || type == 4 || type == 5);
        if (block.copy == Copy::repeat) {
            if (header && !(first_known && first_taken))
                add(block, first_leader.value_or(leader));
            first_known = false;
            first_leader.reset();
        } else if (block.copy == Copy::first || !first_known) {
            // A block whose countdown is unreadable may be a damaged first copy.
            first_known = block.copy == Copy::first;
            first_taken = header;
            first_leader = leader;
            if (header)
                add(block, leader);
        }
    }

    // Called for every whole block, whatever its type byte.
    bool is_data(const Block &block)
    {
        if (data_block == block.payload)
            return true;
        if (!data_next || block.payload == last_header)
            return false;
        data_block = block.payload;
        data_next = false;
        return true;
    }

    void add(const Block &block, std::size_t leader)
    {
        const auto &h = block.payload;
        std::array<unsigned char, 16> name{};
        for (std::size_t i = 0; i < name.size(); ++i)
            name[i] = h[name_at + i];
        const auto start = static_cast<std::uint16_t>(h[1] | h[2] << 8);
        const auto end = static_cast<std::uint16_t>(h[3] | h[4] << 8);
        programs.push_back({leader, 0, h[0], start, end, tape_name_text(name)});
        last_header = h;
        // An end-of-tape marker has no data block.
        data_next = h[0] != 5 && std::uint16_t(end - start) == header_bytes;
        data_block.reset();
    }
};

// Turbotape 250: a bit is one pulse, 0 up to $1F, 1 from $21 to $32 (the
// writer's are $1A and $28); bytes most significant bit first.
constexpr std::uint32_t turbo_lowest = 0x10 * 8, turbo_threshold = 0x20 * 8,
                        turbo_highest = 0x32 * 8;
constexpr unsigned turbo_pilot_byte = 0x02;
constexpr std::uint32_t turbo_min_pilot = 32;
// The sync counts down from 9 to 1; the name follows ID, addresses and a
// spare byte.
constexpr std::size_t turbo_sync = 9;
constexpr std::size_t turbo_name_at = 6;

// Moves the reader to the next pulse that reads as a Turbotape 0 bit, the
// first pulse of any pilot byte; false at the end of the file. The ROM
// format has no pulse this short, so most of a tape is passed over here,
// byte by byte.
bool turbo_skip_to_zero_bit(PulseReader &reader)
{
    const unsigned char *file = reader.file;
    std::size_t at = reader.at;
    constexpr std::uint64_t ones = ~std::uint64_t{0} / 255, highs = ones * 0x80;
    while (at < reader.size) {
        // Eight bytes at a time while none is below 0x20 (no pause, no 0 bit).
        std::uint64_t eight = 0;
        if (reader.size - at >= sizeof eight) {
            std::memcpy(&eight, file + at, sizeof eight);
            if (((eight - ones * 0x20) & ~eight & highs) == 0) {
                at += sizeof eight;
                continue;
            }
        }
        const unsigned char b = file[at];
        if (b == 0 && !reader.version0)
            at += 4;
        else if (b >= turbo_lowest / 8 && b < turbo_threshold / 8)
            break;
        else
            ++at;
    }
    reader.at = at;
    return at < reader.size;
}

// Reads Turbotape header blocks from the pulses, bit by bit: a pilot byte is
// looked for at any bit position, then the bytes that follow it are read
// aligned to it.
struct TurboFinder {
    explicit TurboFinder(std::vector<TapeProgram> &found) : programs(found) {}

    std::vector<TapeProgram> &programs;
    std::size_t recent[8] = {}; // offsets of the last eight bit pulses
    std::size_t count = 0;      // bit pulses in a row
    unsigned window = 0;        // their last eight bits
    bool aligned = false;
    unsigned phase = 0; // bits into the byte being read
    std::uint32_t pilot = 0;
    std::size_t pilot_start = 0;
    std::vector<unsigned char> block; // the sync and the header

    void lose()
    {
        aligned = false;
        pilot = 0;
        block.clear();
    }

    // False for a pulse that is no bit: the finder starts over.
    bool take(const Pulse &p)
    {
        if (p.cycles < turbo_lowest || p.cycles > turbo_highest || p.cycles == turbo_threshold) {
            count = 0;
            lose();
            return false;
        }
        recent[count % 8] = p.offset;
        ++count;
        window = (window << 1 | (p.cycles > turbo_threshold ? 1 : 0)) & 0xFF;
        if (!aligned) {
            if (count >= 8 && window == turbo_pilot_byte) {
                aligned = true;
                phase = 0;
                pilot = 1;
                pilot_start = recent[count % 8];
            }
            return true;
        }
        if (++phase == 8) {
            phase = 0;
            byte(window);
        }
        return true;
    }

    void byte(unsigned value)
    {
        if (block.empty() && value == turbo_pilot_byte) {
            ++pilot;
            return;
        }
        if (block.size() < turbo_sync) {
            if (pilot >= turbo_min_pilot && value == turbo_sync - block.size())
                block.push_back(static_cast<unsigned char>(value));
            else
                lose();
            return;
        }
        block.push_back(static_cast<unsigned char>(value));
        // ID 0 is a data block.
        if (block.size() == turbo_sync + 1 && value != 1 && value != 2)
            return lose();
        if (block.size() < turbo_sync + header_bytes)
            return;
        const unsigned char *h = block.data() + turbo_sync;
        std::array<unsigned char, 16> name{};
        for (std::size_t i = 0; i < name.size(); ++i)
            name[i] = h[turbo_name_at + i];
        programs.push_back({pilot_start, 0, h[0], static_cast<std::uint16_t>(h[1] | h[2] << 8),
                            static_cast<std::uint16_t>(h[3] | h[4] << 8), tape_name_text(name),
                            true});
        lose();
    }
};

} // namespace

std::string tape_name_text(const std::array<unsigned char, 16> &name)
{
    std::string text;
    for (const unsigned char c : name)
        text += petscii_char(c);
    const std::size_t last = text.find_last_not_of(' ');
    text.erase(last == std::string::npos ? 0 : last + 1);
    return text;
}

std::vector<TapeProgram> tape_scan(const unsigned char *file, std::size_t size)
{
    const TapeCheck check = tape_check(file, size);
    if (!tape_scannable(check))
        return {};
    PulseReader reader{file, size, tape_header_size, check.version == 0};
    Finder finder;
    Run run;
    Edge edge = Edge::pause;
    Pulse p;
    while (reader.next(&p)) {
        if (run.count > 0 && run.fits(p)) {
            run.add(p);
        } else if (run.count < min_leader) {
            run.begin(p, edge);
        } else {
            reader.back(p);
            const Scale scale(run.mean());
            const Block block = read_block(reader, scale);
            // A leader that runs into a pause is a trailer, or a leader with
            // nothing after it.
            if (block.any_byte || p.cycles <= pause_cycles)
                finder.take(block, run.leader_start(reader));
            run = Run{};
            edge = block.ended ? Edge::block : Edge::pulse;
            continue;
        }
        edge = p.cycles > pause_cycles ? Edge::pause : Edge::pulse;
    }
    std::vector<TapeProgram> &programs = finder.programs;
    std::vector<TapeProgram> turbo;
    TurboFinder turbo_finder(turbo);
    reader.at = tape_header_size;
    while (turbo_skip_to_zero_bit(reader))
        while (reader.next(&p) && turbo_finder.take(p)) {
        }
    std::vector<TapeProgram> merged;
    std::merge(programs.begin(), programs.end(), turbo.begin(), turbo.end(),
               std::back_inserter(merged),
               [](const TapeProgram &a, const TapeProgram &b) { return a.offset < b.offset; });
    programs.swap(merged);
    std::vector<std::size_t> offsets;
    for (const TapeProgram &program : programs)
        offsets.push_back(program.offset);
    const auto times = tape_cycles_at_each(file, size, offsets);
    for (std::size_t i = 0; i < programs.size(); ++i)
        programs[i].cycles = times[i].value_or(0);
    return programs;
}
