#include "document/tape_progress.h"

#include "base/i18n.h"
#include "tape/tape_info.h"

#include <glib.h>

#include <algorithm>

std::vector<TapeStretch> tape_progress_stretches(const unsigned char *file, std::size_t size,
                                                 const std::vector<IdxRecord> &records)
{
    // The first record given at each offset, ordered by offset.
    std::vector<IdxRecord> sorted(records);
    std::stable_sort(sorted.begin(), sorted.end(), [](const IdxRecord &a, const IdxRecord &b) {
        return std::max(a.offset, idx_tape_start) < std::max(b.offset, idx_tape_start);
    });
    std::vector<std::size_t> positions;
    std::vector<IdxRecord> kept;
    for (const IdxRecord &record : sorted) {
        const std::size_t position = std::size_t(std::max(record.offset, idx_tape_start));
        if (!positions.empty() && positions.back() == position)
            continue;
        positions.push_back(position);
        kept.push_back(record);
    }
    positions.push_back(size);
    const auto times = tape_cycles_at_each(file, size, positions);
    const std::uint64_t end = times.back().value_or(0);

    std::vector<TapeStretch> stretches;
    for (std::size_t i = 0; i < kept.size() && times[i]; ++i)
        stretches.push_back({kept[i].offset, kept[i].info, *times[i], end});
    for (std::size_t i = 0; i + 1 < stretches.size(); ++i)
        stretches[i].end = stretches[i + 1].start;
    return stretches;
}

std::optional<std::size_t> tape_progress_locate(const std::vector<TapeStretch> &stretches,
                                                std::uint64_t at)
{
    const auto after =
        std::upper_bound(stretches.begin(), stretches.end(), at,
                         [](std::uint64_t time, const TapeStretch &s) { return time < s.start; });
    if (after == stretches.begin())
        return std::nullopt;
    return std::size_t(after - stretches.begin()) - 1;
}

std::string tape_progress_text(const TapeStretch &stretch, std::uint64_t at)
{
    // Whole seconds first, so that the time into it and the time left add
    // up to the length as shown.
    const std::uint64_t length = (stretch.end - stretch.start) / tape_clock_hz;
    const std::uint64_t into =
        std::min(at > stretch.start ? (at - stretch.start) / tape_clock_hz : 0, length);
    const auto text = [](std::uint64_t seconds) { return tape_time_text(seconds * tape_clock_hz); };
    gchar *line =
        g_strdup_printf(_("%s – %s of %s, %s left"), tape_progress_name(stretch).c_str(),
                        text(into).c_str(), text(length).c_str(), text(length - into).c_str());
    std::string result(line);
    g_free(line);
    return result;
}

std::string tape_progress_name(const TapeStretch &stretch)
{
    return stretch.info.empty() ? std::to_string(stretch.offset) : stretch.info;
}

double tape_progress_fraction(const TapeStretch &stretch, std::uint64_t at)
{
    if (stretch.end <= stretch.start || at >= stretch.end)
        return 1.0;
    if (at <= stretch.start)
        return 0.0;
    return double(at - stretch.start) / double(stretch.end - stretch.start);
}
