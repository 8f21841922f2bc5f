#include "tape/tape_listing.h"

#include "tape/tape_info.h"

#include <cstdio>

namespace
{
const char *type_text(const TapeProgram &p)
{
    if (p.turbo)
        return p.type == 1 ? "turbo BASIC" : "turbo";
    switch (p.type) {
    case 1:
        return "BASIC";
    case 3:
        return "fixed address";
    case 4:
        return "data file";
    default:
        return "end of tape";
    }
}
} // namespace

std::string tape_listing(const std::vector<TapeProgram> &programs, std::uint64_t total_cycles)
{
    std::string text;
    char line[128];
    for (const TapeProgram &p : programs) {
        std::snprintf(line, sizeof line, "0x%06zx  %6s  type %u %-15s $%04X-$%04X  ", p.offset,
                      tape_time_text(p.cycles).c_str(), p.type,
                      ("(" + std::string(type_text(p)) + ")").c_str(), p.start, p.end);
        text += line + ("\"" + p.name + "\"\n");
    }
    std::snprintf(line, sizeof line, "%zu program%s found, total tape time %s\n", programs.size(),
                  programs.size() == 1 ? "" : "s", tape_time_text(total_cycles).c_str());
    return text + line;
}
