#include "tape/tape_info.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <numeric>

namespace
{

constexpr std::size_t version_at = 12;
constexpr std::size_t length_at = 16;

} // namespace

void tape_write_header(std::string &tap, unsigned version)
{
    const auto length = static_cast<std::uint32_t>(tap.size() - tape_header_size);
    tap.replace(0, tape_signature_size, tape_signature);
    tap[version_at] = static_cast<char>(version);
    for (int i = 0; i < 4; ++i)
        tap[length_at + i] = static_cast<char>((length >> (8 * i)) & 0xFF);
}

TapeCheck tape_check(const unsigned char *file, std::size_t size)
{
    TapeCheck check{TapeProblem::too_short, 0, 0, 0, 0};
    if (size < tape_header_size)
        return check;
    check.version = file[version_at];
    for (int i = 3; i >= 0; --i)
        check.length_field = check.length_field << 8 | file[length_at + i];
    check.data_length = size - tape_header_size;
    check.cycles = tape_cycles_at(file, size, size).value_or(0);
    if (std::memcmp(file, tape_signature, tape_signature_size) != 0 &&
        std::memcmp(file, tape_signature_c16, tape_signature_size) != 0)
        check.problem = TapeProblem::no_signature;
    else if (check.version > 1)
        check.problem = TapeProblem::unsupported_version;
    else if (check.length_field != check.data_length)
        check.problem = TapeProblem::wrong_length;
    else
        check.problem = TapeProblem::none;
    return check;
}

bool tape_scannable(const TapeCheck &check)
{
    return check.problem == TapeProblem::none || check.problem == TapeProblem::wrong_length;
}

bool tape_playable(const TapeCheck &check)
{
    return tape_scannable(check) ||
           (check.problem == TapeProblem::unsupported_version && check.version == 2);
}

std::optional<std::uint64_t> tape_cycles_at(const unsigned char *file, std::size_t size,
                                            std::size_t offset)
{
    return tape_cycles_at_each(file, size, {offset}).front();
}

std::vector<std::optional<std::uint64_t>>
tape_cycles_at_each(const unsigned char *file, std::size_t size,
                    const std::vector<std::size_t> &offsets)
{
    std::vector<std::optional<std::uint64_t>> times(offsets.size());
    std::vector<std::size_t> order(offsets.size());
    std::iota(order.begin(), order.end(), 0);
    std::sort(order.begin(), order.end(),
              [&](std::size_t a, std::size_t b) { return offsets[a] < offsets[b]; });
    TapePulseCounter counter;
    std::size_t at = tape_header_size;
    for (const std::size_t i : order) {
        const std::size_t offset = offsets[i];
        if (offset > size)
            break;
        for (; at < offset; ++at)
            counter.add(file[at]);
        times[i] = counter.cycles;
    }
    return times;
}

std::string tape_time_text(std::uint64_t cycles)
{
    const std::uint64_t seconds = cycles / tape_clock_hz;
    char text[32];
    std::snprintf(text, sizeof text, "%lu:%02lu", static_cast<unsigned long>(seconds / 60),
                  static_cast<unsigned long>(seconds % 60));
    return text;
}
