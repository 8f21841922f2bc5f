// The "player" worker thread: answers the device's 'h'/'d' requests from the
// TAP file and counts the tape time sent.
//
// One run of player_worker() opens the port and the TAP file, synchronises
// with the device, starts its playback with "p" and then serves one-byte
// requests until the device reports the end ('e' or 'f'), an exchange fails,
// the device is gone (a read fails: hang-up, I/O error), it sends nothing but
// bytes that are not requests for serial_give_up_ms, or player_running is
// found cleared. Silence alone never ends a run. It never touches a widget: it reports
// through the two idle callbacks that its starter hands it.
#pragma once

#include <glib.h>

#include <atomic>
#include <cstddef>

// Tape time sent: clock cycles at 985248 Hz (wrapping at 2^32) and whole
// seconds, both under buffer_lock. A run stores the exact sum when it ends,
// so that a run resumed after Pause goes on from it.
extern guint32 buffer_cycles;
extern guint32 buffer_seconds;
extern GMutex buffer_lock;

// Where the next run starts, as a byte offset in the TAP file (20 = the first
// data byte). It counts data bytes only: while a run goes on it is the offset
// of the first data byte not yet sent, so a run resumed after Pause starts
// exactly there. Written by Play before a worker starts and by the worker.
extern guint32 playback_offset;

// The TAP file as the worker opened it. tap_file_open is 1 from the moment
// the worker has opened it until player_close_tap_file(); the worker sets it,
// the UI thread clears it, hence atomic.
extern int tap_file_handle;
extern std::atomic<int> tap_file_open;

// Receives in turn a request byte, the header and each data chunk.
extern guint8 player_xfer_buffer[64];

// Position inside a three-byte pulse count (0: none; 1, 2, 3: the low,
// middle or high byte comes next), carried across chunks, and the bytes of
// that count seen so far, so that a count split over two chunks adds its
// exact value.
extern guint player_pulse_state;
extern guint32 player_pulse_partial;

inline constexpr guint32 player_chunk_size = 64;
inline constexpr guint32 player_clock_hz = 985248;
// The TAP header's size, and so the offset of the first data byte.
inline constexpr guint32 player_header_size = 20;

// How a run reports to the UI thread: one-shot idle callbacks that the
// worker schedules. `finished` gets the ending message; `show_buffer_time`
// runs each time the whole seconds of buffer_seconds change.
struct PlayerReports {
    GSourceFunc finished;
    GSourceFunc show_buffer_time;
};

// Thread body; `reports` points to a PlayerReports that outlives the run. It
// schedules `finished` exactly once as its last act, with one of the
// constant, untranslated ending messages, or with nullptr when the run ended
// because player_running was cleared.
gpointer player_worker(gpointer reports);

// Adds the pulse lengths of `length` data bytes to *cycles (wrapping at
// 2^32): a byte b > 0 is 8 * b cycles, a zero byte is followed by a 24-bit
// count, least significant byte first. Continues from and updates
// player_pulse_state and player_pulse_partial.
void player_count_pulses(const guint8 *bytes, std::size_t length, guint32 *cycles);

// Closes the TAP file if it is open. UI thread (player_finished, quit).
void player_close_tap_file();
