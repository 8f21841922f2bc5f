// The "player" worker thread: answers the device's 'h'/'d' requests from the
// tape and counts the tape time sent.
//
// One run of player_worker() opens the port and the tape, synchronises with
// the device, starts its playback with "p" and then serves one-byte requests
// until the device reports the end ('e' or 'f'), an exchange fails, the
// device is gone (a read fails: hang-up, I/O error), it sends nothing but
// bytes that are not requests for serial_give_up_ms, or the run is found
// stopped (player_is_running()). Silence alone never ends a run. It never
// touches a widget, and reads nothing that another thread writes but the
// run flag: all it needs comes in its PlayerJob.
#pragma once

#include "tape/tape_info.h"

#include <glib.h>

#include <cstdint>
#include <string>

// How a run reports to the UI thread: one-shot idle callbacks that the
// worker schedules. `finished` gets the job back when the run has ended;
// `show_progress` gets a new PlayerTick each time the whole seconds of the
// tape time sent change, and deletes it.
struct PlayerReports {
    GSourceFunc finished;
    GSourceFunc show_progress;
};

// The tape time sent in the run so far, in clock cycles (the job's pulse
// count, a resumed run's included), at one moment.
struct PlayerTick {
    std::uint64_t cycles;
};

// What one run needs, made by Play and handed to the worker, which hands it
// back through `finished`; nobody else touches it meanwhile.
struct PlayerJob {
    const PlayerReports *reports = nullptr;
    std::string port; // the device port
    // The tape: the bytes of a whole TAP file, as the document handed them
    // at Play (the job owns a reference); nullptr when they could not be
    // read, and then `tape_problem` is the ending once the port is open.
    GBytes *tape = nullptr;
    const char *tape_problem = nullptr;
    // In: where the run starts, as a byte offset in the tape (20 = the first
    // data byte; an offset inside the header means 20). Out: the first data
    // byte not sent, so that a run resumed after Pause starts exactly there.
    guint32 offset = tape_header_size;
    // In: whether the run resumes a paused one, and the tape time sent so far
    // (zero unless it resumes). Out: the exact count when the run ended, a
    // pulse count split over two chunks carried whole.
    bool resume = false;
    TapePulseCounter pulses;
    // Out: one of the constant, untranslated ending messages, or nullptr when
    // the run ended because it was stopped.
    const char *ending = nullptr;
};

// Thread body for a new PlayerJob; schedules `finished` with it exactly once,
// as its last act.
gpointer player_worker(gpointer job);
