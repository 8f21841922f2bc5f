#include "player/player_thread.h"

#include "base/i18n.h"
#include "device/messages.h"
#include "device/serial.h"
#include "player/player_state.h"

#include <gdk/gdk.h>

#include <cstring>

namespace
{
// How long a device may send nothing but bytes that are not requests before
// the run gives up on it, as it gives up on a device that never synchronises.
constexpr gint64 junk_limit_us = gint64{serial_give_up_ms} * 1000;

// The device asks for at most this many data bytes at a time.
constexpr guint32 chunk_size = 64;
// Offset of the length field inside the header.
constexpr std::size_t header_length_at = 16;
// Marks "nothing published yet in this run".
constexpr guint32 no_seconds = 0xFFFFFFFFu;

// The tape as one run reads it: the job's bytes, from a position.
struct Tape {
    const guint8 *memory = nullptr;
    guint32 size = 0;
    guint32 position = 0;

    bool seek(guint32 offset)
    {
        position = offset;
        return true;
    }

    // `length` bytes from the position; false when fewer are there.
    bool read(guint8 *buffer, guint32 length)
    {
        if (position > size || size - position < length)
            return false;
        std::memcpy(buffer, memory + position, length);
        position += length;
        return true;
    }
};

struct Run {
    PlayerJob &job;
    GSourceFunc show;
    Tape tape;
    guint8 buffer[chunk_size];
    // Tape bytes from the data position to the end; 0 until the header has
    // been sent, since no data goes out before it.
    guint32 remaining = 0;
    bool header_sent = false;
    guint32 last_seconds = no_seconds;
};

guint32 get_le32(const guint8 *p)
{
    return guint32(p[0]) | guint32(p[1]) << 8 | guint32(p[2]) << 16 | guint32(p[3]) << 24;
}

void put_le32(guint8 *p, guint32 value)
{
    for (int i = 0; i < 4; ++i)
        p[i] = guint8(value >> (8 * i));
}

// A failed tape read tells the device with a lone "h"; what it does with it
// is its business, so the write's outcome is not looked at.
const char *read_error()
{
    static const guint8 h = 'h';
    (void)serial_write(&h, 1);
    return device_msg_read;
}

void publish(Run &run)
{
    const guint32 seconds = guint32(run.job.pulses.cycles) / tape_clock_hz;
    if (seconds != run.last_seconds)
        gdk_threads_add_idle(run.show, new PlayerTick{run.job.pulses.cycles});
    run.last_seconds = seconds;
}

// The header with its length field counting only the data from the job's
// offset on. The first header of a run comes from the tape's position 0
// where it was opened. A device that asks again gets the header again, read
// from the start and counting the data still to come, and the data goes on
// from where it was: no data byte is ever sent as header, skipped or sent
// twice.
const char *serve_header(Run &run)
{
    guint32 &offset = run.job.offset;
    if (run.header_sent && !run.tape.seek(0))
        return device_msg_seek;
    if (!run.tape.read(run.buffer, tape_header_size))
        return read_error();
    const guint32 skipped = offset - tape_header_size;
    if (skipped > 0) {
        const guint32 length = get_le32(run.buffer + header_length_at);
        if (length <= skipped && !run.header_sent)
            return device_msg_invalid_index;
        put_le32(run.buffer + header_length_at, length > skipped ? length - skipped : 0);
    }
    if ((skipped > 0 || run.header_sent) && !run.tape.seek(offset))
        return device_msg_seek;
    if (serial_write(run.buffer, tape_header_size) != ssize_t(tape_header_size))
        return device_msg_write;
    // Wraps like the rest of the 32-bit arithmetic when the tape ends before
    // the start offset; the first data read then comes short and says so.
    if (!run.header_sent)
        run.remaining = run.tape.size - offset;
    run.header_sent = true;
    return nullptr;
}

const char *serve_data(Run &run)
{
    const guint32 n = run.remaining < chunk_size ? run.remaining : chunk_size;
    if (n > 0) {
        if (!run.tape.read(run.buffer, n))
            return read_error();
        if (serial_write(run.buffer, n) != ssize_t(n))
            return device_msg_write;
        run.job.pulses.add(run.buffer, n);
    }
    publish(run);
    run.job.offset += n;
    run.remaining -= n;
    return nullptr;
}

// Serves requests until the run ends; returns the ending message. A silent
// device is waited for as long as the run goes on (the computer may simply
// have stopped its motor), but a failed read means the device is gone: a
// USB serial device that was unplugged never comes back under the same
// descriptor.
const char *serve(Run &run)
{
    gint64 junk_since = 0; // when the bytes that are not requests began; 0: none
    for (;;) {
        if (!player_is_running())
            return nullptr;
        const ssize_t got = serial_read(run.buffer, 1);
        if (got < 0)
            return device_msg_gone;
        if (got == 0) {
            junk_since = 0;
            continue;
        }
        const char *end = nullptr;
        switch (run.buffer[0]) {
        case 'h':
            end = serve_header(run);
            break;
        case 'd':
            end = serve_data(run);
            break;
        case 'e':
            return device_msg_success;
        case 'f':
            return device_msg_failure;
        default:
            if (junk_since == 0)
                junk_since = g_get_monotonic_time();
            else if (g_get_monotonic_time() - junk_since >= junk_limit_us)
                return device_msg_no_sync;
            continue;
        }
        junk_since = 0;
        if (end != nullptr)
            return end;
    }
}

// The job's tape, or why there is none.
const char *open_tape(Run &run)
{
    if (run.job.tape == nullptr)
        return run.job.tape_problem;
    gsize size = 0;
    run.tape.memory = static_cast<const guint8 *>(g_bytes_get_data(run.job.tape, &size));
    run.tape.size = guint32(MIN(size, gsize(G_MAXUINT32)));
    return nullptr;
}

const char *play(PlayerJob &job)
{
    player_set_running(true);

    if (!serial_open(job.port.c_str()))
        return device_msg_no_port;
    // An offset inside the header means the start of the data; keeping the
    // offset at the data position is what lets a paused run resume exactly.
    if (job.offset < tape_header_size)
        job.offset = tape_header_size;

    Run run{job, job.reports->show_progress, {}, {}};
    if (const char *failed = open_tape(run))
        return failed;
    if (!serial_wait_prompt())
        return device_msg_no_sync;
    if (!serial_command("p"))
        return device_msg_start;
    if (job.resume)
        run.last_seconds = guint32(job.pulses.cycles) / tape_clock_hz;
    return serve(run);
}
} // namespace

gpointer player_worker(gpointer data)
{
    auto *job = static_cast<PlayerJob *>(data);
    job->ending = play(*job);
    gdk_threads_add_idle(job->reports->finished, job);
    return nullptr;
}
