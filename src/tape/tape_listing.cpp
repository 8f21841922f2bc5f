#include "tape/tape_listing.h"

#include "base/i18n.h"
#include "tape/tape_info.h"

namespace
{
const char *type_text(const TapeProgram &p)
{
    if (p.turbo)
        return p.type == 1 ? _("(turbo BASIC)") : _("(turbo)");
    switch (p.type) {
    case 1:
        return _("(BASIC)");
    case 3:
        return _("(fixed address)");
    case 4:
        return _("(data file)");
    default:
        return _("(end of tape)");
    }
}

std::uint64_t seconds_at(std::uint64_t cycles)
{
    return cycles / tape_clock_hz;
}

std::string span_text(std::uint64_t from_cycles, std::uint64_t to_cycles)
{
    return tape_time_text((seconds_at(to_cycles) - seconds_at(from_cycles)) * tape_clock_hz);
}
} // namespace

std::string tape_listing(const std::vector<TapeProgram> &programs, std::uint64_t total_cycles)
{
    std::string text;
    if (!programs.empty())
        // TRANSLATORS: the columns' headings; each word ends where its
        // column does (start, load) or starts where it starts (the others).
        text = _("offset     start    load  type                   addresses    name\n");
    for (std::size_t i = 0; i < programs.size(); ++i) {
        const TapeProgram &p = programs[i];
        const std::uint64_t from = i == 0 ? 0 : p.cycles;
        const std::uint64_t to = i + 1 < programs.size() ? programs[i + 1].cycles : total_cycles;
        text += i18n_format(
            // TRANSLATORS: offset, start, load time, type number and its
            // name, addresses, program name.
            _("0x%06lx  %6s  %6s  type %u %-15s $%04X-$%04X  \"%s\"\n"),
            static_cast<unsigned long>(p.offset), tape_time_text(p.cycles).c_str(),
            span_text(from, to).c_str(), p.type, type_text(p), p.start, p.end, p.name.c_str());
    }
    const unsigned long count = programs.size();
    return text +
           i18n_format(dngettext(RAVELO_TEXT_DOMAIN, "%lu program found, total tape time %s\n",
                                 "%lu programs found, total tape time %s\n", count),
                       count, tape_time_text(total_cycles).c_str());
}
