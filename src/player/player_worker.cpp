#include "player/player_worker.h"

#include "config/config.h"
#include "device/outcomes.h"
#include "device/serial.h"
#include "index/idx_commands.h"
#include "player/player_state.h"
#include "player/tap_file.h"
#include "ui/i18n.h"

#include <gdk/gdk.h>

guint32 buffer_cycles = 0;
guint32 buffer_seconds = 0;
GMutex buffer_lock;
guint32 playback_offset = player_header_size;
int tap_file_handle = -1;
std::atomic<int> tap_file_open{0};
guint8 player_xfer_buffer[64];
guint player_pulse_state = 0;
guint32 player_pulse_partial = 0;

namespace
{
// Ending messages, handed to player_finished() untranslated; it looks them
// up in the catalogue when it shows them.
constexpr char msg_open[] = "Unable to open file";
constexpr char msg_size[] = "Unable to retrieve file size";
constexpr char msg_start[] = "Unable to start playback on device";
constexpr char msg_invalid_index[] = "Invalid index supplied for file";
constexpr char msg_seek[] = "Error seeking in index file";
constexpr char msg_read[] = "Error reading from file";
constexpr char msg_write[] = "Error writing data to device";
constexpr char msg_success[] = "Success condition received";
constexpr char msg_failure[] = "Failure condition received";
constexpr char msg_gone[] = N_("The device is gone (unplugged?)");

// How long a device may send nothing but bytes that are not requests before
// the run gives up on it, as it gives up on a device that never synchronises.
constexpr gint64 junk_limit_us = gint64{serial_give_up_ms} * 1000;

// Marks "nothing published yet in this run".
constexpr guint32 no_seconds = 0xFFFFFFFFu;

// Offset of the length field inside the header.
constexpr std::size_t header_length_at = 16;

struct Run {
    int fd = -1;
    guint32 size = 0;
    // File bytes from the data position to the end of the file; 0 until the
    // header has been sent, since no data goes out before it.
    guint32 remaining = 0;
    bool header_sent = false;
    guint32 cycles = 0;
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

// A failed file read tells the device with a lone "h"; what it does with it
// is its business, so the write's outcome is not looked at.
const char *read_error()
{
    static const guint8 h = 'h';
    (void)serial_write(&h, 1);
    return msg_read;
}

void publish(Run &run, GSourceFunc show)
{
    const guint32 seconds = run.cycles / player_clock_hz;
    if (seconds != run.last_seconds) {
        g_mutex_lock(&buffer_lock);
        buffer_seconds = seconds;
        buffer_cycles = run.cycles;
        g_mutex_unlock(&buffer_lock);
        gdk_threads_add_idle(show, nullptr);
    }
    run.last_seconds = seconds;
}

// The header with its length field counting only the data from
// playback_offset on. The first header of a run comes from the file's
// position 0 where it was opened. A device that asks again gets the header
// again, read from the start of the file and counting the data still to
// come, and the data goes on from where it was: no data byte is ever sent as
// header, skipped or sent twice.
const char *serve_header(Run &run)
{
    if (run.header_sent && !player_tap_seek(run.fd, 0))
        return msg_seek;
    if (player_tap_read(run.fd, player_xfer_buffer, player_header_size) !=
        ssize_t(player_header_size))
        return read_error();
    const guint32 skipped = playback_offset - player_header_size;
    if (skipped > 0) {
        const guint32 length = get_le32(player_xfer_buffer + header_length_at);
        if (length <= skipped && !run.header_sent)
            return msg_invalid_index;
        put_le32(player_xfer_buffer + header_length_at, length > skipped ? length - skipped : 0);
    }
    if ((skipped > 0 || run.header_sent) && !player_tap_seek(run.fd, playback_offset))
        return msg_seek;
    if (serial_write(player_xfer_buffer, player_header_size) != ssize_t(player_header_size))
        return msg_write;
    // Wraps like the rest of the 32-bit arithmetic when the file ends before
    // the start offset; the first data read then comes short and says so.
    if (!run.header_sent)
        run.remaining = run.size - playback_offset;
    run.header_sent = true;
    return nullptr;
}

const char *serve_data(Run &run, GSourceFunc show)
{
    const guint32 n = run.remaining < player_chunk_size ? run.remaining : player_chunk_size;
    if (n > 0) {
        if (player_tap_read(run.fd, player_xfer_buffer, n) != ssize_t(n))
            return read_error();
        if (serial_write(player_xfer_buffer, n) != ssize_t(n))
            return msg_write;
        player_count_pulses(player_xfer_buffer, n, &run.cycles);
    }
    publish(run, show);
    playback_offset += n;
    run.remaining -= n;
    return nullptr;
}

// Serves requests until the run ends; returns the ending message. A silent
// device is waited for as long as the run goes on (the computer may simply
// have stopped its motor), but a failed read means the device is gone: a
// USB serial device that was unplugged never comes back under the same
// descriptor.
const char *serve(Run &run, GSourceFunc show)
{
    gint64 junk_since = 0; // when the bytes that are not requests began; 0: none
    for (;;) {
        if (!player_is_running())
            return nullptr;
        const ssize_t got = serial_read(player_xfer_buffer, 1);
        if (got < 0)
            return msg_gone;
        if (got == 0) {
            junk_since = 0;
            continue;
        }
        const char *end = nullptr;
        switch (player_xfer_buffer[0]) {
        case 'h':
            end = serve_header(run);
            break;
        case 'd':
            end = serve_data(run, show);
            break;
        case 'e':
            return msg_success;
        case 'f':
            return msg_failure;
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

const char *play(GSourceFunc show)
{
    player_set_running(true);

    if (!serial_open(device_port))
        return device_msg_no_port;
    // An offset inside the header means the start of the data; keeping the
    // offset at the data position is what lets a paused run resume exactly.
    if (playback_offset < player_header_size)
        playback_offset = player_header_size;

    Run run;
    run.fd = player_tap_open(tap_file_path);
    if (run.fd < 0)
        return msg_open;
    tap_file_handle = run.fd;
    tap_file_open.store(1);
    if (!player_tap_size(run.fd, &run.size))
        return msg_size;
    if (!serial_wait_prompt())
        return device_msg_no_sync;
    if (!serial_command("p"))
        return msg_start;

    if (player_resume_pending()) {
        g_mutex_lock(&buffer_lock);
        run.cycles = buffer_cycles;
        run.last_seconds = buffer_seconds;
        g_mutex_unlock(&buffer_lock);
    } else {
        player_pulse_state = 0;
        player_pulse_partial = 0;
    }

    const char *end = serve(run, show);

    // The exact sum, not only the one of the last whole second, so that a
    // resumed run counts on without losing the fraction sent since.
    g_mutex_lock(&buffer_lock);
    buffer_cycles = run.cycles;
    g_mutex_unlock(&buffer_lock);
    return end;
}
} // namespace

void player_count_pulses(const guint8 *bytes, std::size_t length, guint32 *cycles)
{
    guint state = player_pulse_state;
    guint32 partial = player_pulse_partial;
    guint32 sum = *cycles;
    for (std::size_t i = 0; i < length; ++i) {
        const guint8 b = bytes[i];
        switch (state) {
        case 0:
            if (b != 0)
                sum += 8u * b;
            else
                state = 1;
            break;
        case 1:
            partial = b;
            state = 2;
            break;
        case 2:
            partial |= guint32(b) << 8;
            state = 3;
            break;
        default:
            sum += partial | guint32(b) << 16;
            partial = 0;
            state = 0;
            break;
        }
    }
    player_pulse_state = state;
    player_pulse_partial = partial;
    *cycles = sum;
}

void player_close_tap_file()
{
    if (tap_file_open.exchange(0) != 0)
        player_tap_close(tap_file_handle);
}

gpointer player_worker(gpointer reports)
{
    const auto *report = static_cast<const PlayerReports *>(reports);
    const char *message = play(report->show_buffer_time);
    gdk_threads_add_idle(report->finished, const_cast<char *>(message));
    return nullptr;
}
