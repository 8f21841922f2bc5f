// The "player" worker thread: answers the device's 'h'/'d' requests from the
// TAP file and counts the tape time sent.
#pragma once

#include <glib.h>

// Tape time sent: clock cycles at 985248 Hz (wrapping at 2^32) and whole
// seconds, both under buffer_lock.
extern guint32 buffer_cycles;
extern guint32 buffer_seconds;
extern GMutex buffer_lock;

// Data byte offset in the TAP file where the next run starts (20 = tape
// start). Written by Play before a worker starts and by the worker.
extern guint32 playback_offset;

// The TAP file as the worker opened it; player_finished() closes it.
extern int tap_file_handle;
extern int tap_file_open;

// Position inside a three-byte pulse count (0: none), carried across chunks.
extern guint player_pulse_state;

inline constexpr guint32 player_chunk_size = 64;
inline constexpr guint32 player_clock_hz = 985248;

// Thread body; schedules player_finished() exactly once as its last act.
gpointer player_worker(gpointer unused);
