#include "player/player_progress.h"

#include "base/glib_ptr.h"
#include "base/i18n.h"
#include "document/tape_document.h"
#include "document/tape_progress.h"
#include "index/idx_list.h"
#include "tape/tape_info.h"
#include "ui/registry.h"

#include <gtk/gtk.h>

#include <optional>
#include <vector>

namespace
{
// The records' stretches on the tape of the current (or paused) run.
std::vector<TapeStretch> stretches;
// Tape time at the offset where the run (the paused one, when resumed)
// started: a run's count starts there.
std::uint64_t origin = 0;
// The stretch the mark is on.
std::optional<std::size_t> marked;

GtkProgressBar *bar()
{
    return GTK_PROGRESS_BAR(lookup_widget(ui_window_main(), "progressbar_playback"));
}

void mark(std::optional<std::size_t> stretch)
{
    if (stretch == marked)
        return;
    marked = stretch;
    idx_list_mark_playing(stretch ? std::optional<gint32>(stretches[*stretch].offset)
                                  : std::nullopt);
}
} // namespace

void player_progress_start(GBytes *tape, guint32 start_offset, bool resume, std::uint64_t cycles)
{
    stretches.clear();
    marked.reset();
    if (tape == nullptr)
        return;
    gsize size = 0;
    const auto *file = static_cast<const unsigned char *>(g_bytes_get_data(tape, &size));
    if (!resume) {
        const auto at = tape_cycles_at(file, size, start_offset);
        // A run that starts past the tape's end has no place on it.
        if (!at)
            return;
        origin = *at;
    }
    stretches = tape_progress_stretches(file, size, tape_document_records());
    player_progress_show(cycles);
}

void player_progress_show(std::uint64_t cycles)
{
    const std::uint64_t at = origin + cycles;
    const auto stretch = tape_progress_locate(stretches, at);
    mark(stretch);
    if (!stretch)
        return;
    gtk_progress_bar_set_fraction(bar(), tape_progress_fraction(stretches[*stretch], at));
    gtk_progress_bar_set_text(bar(), tape_progress_text(stretches[*stretch], at).c_str());
}

std::string player_progress_end(std::uint64_t cycles, bool paused)
{
    const std::string played = tape_time_text(cycles);
    const auto stretch = tape_progress_locate(stretches, origin + cycles);
    GCharPtr line(stretch ? g_strdup_printf(_("%s, %s of tape played"),
                                            tape_progress_name(stretches[*stretch]).c_str(),
                                            played.c_str())
                          : g_strdup_printf(_("%s of tape played"), played.c_str()));
    if (!paused) {
        mark(std::nullopt);
        gtk_progress_bar_set_fraction(bar(), 0);
        gtk_progress_bar_set_text(bar(), "");
    }
    return line.get();
}
