#include "support/tape_decode.h"

#include <algorithm>
#include <cstring>

namespace
{

unsigned little_endian(const std::string &s, std::size_t at, int size)
{
    unsigned value = 0;
    for (int i = size - 1; i >= 0; --i)
        value = value << 8 | static_cast<unsigned char>(s[at + i]);
    return value;
}

struct Reader {
    std::string pulses; // S, M, L, P for a pause, ? for anything else
    std::vector<std::size_t> offsets;
    std::size_t at = 0;
    unsigned errors = 0;

    char next() { return at < pulses.size() ? pulses[at++] : '\0'; }

    unsigned run() // of short pulses
    {
        const std::size_t from = at;
        at = std::min(pulses.find_first_not_of('S', at), pulses.size());
        return unsigned(at - from);
    }

    // The payload of one copy up to its end marker (L, S), after the
    // countdown from `top`; the checksum is checked.
    std::string copy(unsigned top)
    {
        std::string bytes;
        unsigned char sum = 0;
        for (;;) {
            const char marker = next(), second = next();
            if (marker != 'L' || second != 'M') {
                errors += marker != 'L' || second != 'S' || bytes.size() < 10 || sum != 0;
                return bytes.size() < 10 ? std::string() : bytes.substr(9, bytes.size() - 10);
            }
            unsigned value = 0, ones = 0;
            for (int bit = 0; bit < 9; ++bit) {
                const char a = next(), b = next();
                errors += !(a == 'M' && b == 'S') && !(a == 'S' && b == 'M');
                ones += a == 'M';
                value |= unsigned(a == 'M' && bit < 8) << bit;
            }
            errors += ones % 2 == 0 || (bytes.size() < 9 && value != top - bytes.size());
            sum ^= bytes.size() < 9 ? 0 : value;
            bytes.push_back(static_cast<char>(value));
        }
    }

    // The fast loader's pulses as bytes, most significant bit first: two
    // blocks of a pilot, the countdown and their bytes, then 0x1A pulses.
    void fast_program(DecodedProgram *p)
    {
        std::string b;
        unsigned bits = 1;
        for (; at < pulses.size() && (pulses[at] == '0' || pulses[at] == '1'); ++at)
            if ((bits = bits << 1 | (pulses[at] == '1')) > 0xFF)
                b.push_back(static_cast<char>(bits)), bits = 1;
        std::size_t i = 0;
        const auto block = [&](std::size_t size) {
            const std::size_t pilot = std::min(b.find_first_not_of('\x02', i), b.size()) - i;
            errors +=
                pilot < 256 || b.compare(i + pilot, 9, "\x09\x08\x07\x06\x05\x04\x03\x02\x01");
            i = std::min(i + pilot + 9 + size, b.size());
            return b.substr(i - std::min(size, i), size);
        };
        p->fast_header = block(192);
        const unsigned size =
            (little_endian(p->fast_header, 3, 2) - little_endian(p->fast_header, 1, 2)) & 0xFFFF;
        const std::string data = block(size + 2);
        unsigned char sum = 0;
        for (const char c : data.substr(1))
            sum ^= static_cast<unsigned char>(c);
        errors += data[0] != 0 || sum != 0 || bits != 1 || i == b.size() ||
                  b.find_first_not_of('\0', i) != std::string::npos;
        p->fast_bytes = data.substr(1, size);
    }

    // Leader, first copy, gap, repeat, trailer.
    std::string block(unsigned *leader)
    {
        *leader = run();
        const std::string first = copy(0x89);
        errors += run() != 79;
        errors += copy(0x09) != first;
        errors += run() != 78;
        return first;
    }
};

} // namespace

DecodedTape test_tape_decode(const std::string &tap)
{
    DecodedTape tape;
    Reader r;
    r.errors += tap.size() < 20 || tap.compare(0, 13, "C64-TAPE-RAW\x01") != 0 ||
                little_endian(tap, 16, 4) != tap.size() - 20;
    for (std::size_t at = 20; at < tap.size(); ++at) {
        const auto b = static_cast<unsigned char>(tap[at]);
        r.offsets.push_back(at);
        const char *const values = "\x30\x42\x56\x1A\x28";
        const char *const value = b ? std::strchr(values, b) : nullptr;
        r.pulses.push_back(value ? "SML01"[value - values] : b ? '?' : 'P');
        r.errors += r.pulses.back() == '?' || (b == 0 && at + 3 >= tap.size());
        if (b == 0 && at + 3 < tap.size())
            tape.pauses.push_back(little_endian(tap, at + 1, 3)), at += 3;
    }
    while (r.at < r.pulses.size()) {
        DecodedProgram p{r.offsets[r.at], 0, 0, 0, 0, 0, "", "", "", "", ""};
        std::string header = r.block(&p.header_leader);
        r.errors += r.next() != 'P';
        p.bytes = r.block(&p.data_leader);
        if (r.at < r.pulses.size() && (r.pulses[r.at] == '0' || r.pulses[r.at] == '1'))
            r.fast_program(&p);
        r.errors += r.next() != 'P';
        r.errors += header.size() != 192;
        header.resize(192);
        p.type = static_cast<unsigned char>(header[0]);
        p.start = little_endian(header, 1, 2), p.end = little_endian(header, 3, 2);
        p.name = header.substr(5, 16);
        p.body = header.substr(21);
        tape.programs.push_back(p);
    }
    tape.errors = r.errors;
    return tape;
}
