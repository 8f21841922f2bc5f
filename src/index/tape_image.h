// The attached tape's bytes, read once when a tape is attached, for what the
// client tells about the tape: the tape time of each record, the check
// written to the log, the scan for programs. The player does not use them:
// it reads the file itself when a run starts. UI thread only.
#pragma once

#include "tape/tape_file.h"

#include <glib.h>

#include <cstdint>
#include <optional>
#include <vector>

// Reads the file at `path` (tape_file_read()) in place of the tape held so
// far, and says how it went. A file that is no tape file at all
// (tape_file_refused()) changes nothing: the tape held so far stays. A
// regular file that could not be taken whole leaves nothing held, and every
// question below then has no answer.
TapeFileResult tape_image_load(const gchar *path);

// A new reference to the bytes held (the caller unrefs it), or nullptr.
GBytes *tape_image_ref();

// Tape time in clock cycles from the first data byte to each of `offsets`
// (the player's count), in one pass; nothing for an offset past the end of
// the file or when no tape is held.
std::vector<std::optional<std::uint64_t>>
tape_image_cycles_at_each(const std::vector<gint32> &offsets);

// The log line that describes the held tape: its version, data length and
// tape time, or what is wrong with it. Translated, ends in "\n"; newly
// allocated (g_free), nullptr when no tape is held.
gchar *tape_image_describe();
