// What the window shows of a run's progress: the progress bar under the
// transport buttons ("progressbar_playback") with the record being played,
// how far into it and how long is left, in tape time, and that record's mark
// in the index list. UI thread only; the bar and the run's place on the
// tape are this module's own.
#pragma once

#include <glib.h>

#include <cstdint>
#include <string>

// A run starts at `start_offset` on `tape` (the bytes it plays; nullptr:
// nothing to show), with the document's records as they are now, and
// `cycles` of tape time already sent. A resumed run goes on counting from
// where the paused one started.
void player_progress_start(GBytes *tape, guint32 start_offset, bool resume, std::uint64_t cycles);

// The run has sent `cycles` of tape time (a resumed run's count goes on
// from the paused one's): the bar and the mark follow.
void player_progress_show(std::uint64_t cycles);

// The run has ended, after `cycles` of tape time. A paused run leaves the
// bar and the mark as they are; any other end clears both. Returns what the
// log's end line tells of the run: the record it ended in and the tape time
// played, e.g. "GAME, 1:50 of tape played". Translated.
std::string player_progress_end(std::uint64_t cycles, bool paused);
