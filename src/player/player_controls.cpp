#include "player/player_controls.h"

#include "base/glib_ptr.h"
#include "base/i18n.h"
#include "config/config.h"
#include "device/messages.h"
#include "device/serial.h"
#include "document/tape_document.h"
#include "index/idx_list.h"
#include "player/player_progress.h"
#include "player/player_state.h"
#include "player/player_thread.h"
#include "ui/feedback.h"
#include "ui/registry.h"
#include "ui/worker.h"

namespace
{
constexpr PlayerReports reports{player_finished, player_show_progress};

// Where the next run starts, as a byte offset in the tape (20 = the first
// data byte), and the tape time sent when the last run ended: a run resumed
// after Pause goes on from both.
guint32 playback_offset = tape_header_size;
TapePulseCounter pulses_sent;

// The ending of a run whose tape could not be read, as the file's open, its
// size and its read failed before.
const char *tape_problem(const FileReadResult &read)
{
    switch (read.problem) {
    case FileReadProblem::none:
        return nullptr;
    case FileReadProblem::too_large:
        return device_msg_size;
    case FileReadProblem::read_failed:
        return device_msg_read;
    default:
        return device_msg_open;
    }
}

// The job of a run that starts now, for the attached tape.
PlayerJob *job_new(bool resume)
{
    auto *job = new PlayerJob;
    job->reports = &reports;
    job->port = config_device_port();
    FileReadResult read;
    job->tape = tape_document_play_bytes(&read);
    job->tape_problem = tape_problem(read);
    job->offset = playback_offset;
    job->resume = resume;
    if (resume)
        job->pulses = pulses_sent;
    return job;
}

void job_free(PlayerJob *job)
{
    if (job->tape != nullptr)
        g_bytes_unref(job->tape);
    delete job;
}

// Pause, Stop, Previous and Next: resume_pending first, so that it already
// tells pause from stop when the worker sees the cleared flag. False when no
// run is going on.
bool end_run(bool resume)
{
    if (!player_is_running())
        return false;
    player_set_resume_pending(resume);
    player_set_running(false);
    return true;
}
} // namespace

void player_on_play(GtkButton *, gpointer)
{
    if (ui_worker_active())
        return;
    if (!tape_document_attached()) {
        status_show(_(" Nothing to play: open a tape or a program image first"));
        return;
    }
    if (!config_device_port_ready())
        return;
    const bool resume = player_resume_pending();
    if (!resume) {
        guint32 offset = 0;
        if (!idx_get_selected_offset(&offset)) {
            status_show(_(" Error: Unable to read from index entry"));
            return;
        }
        playback_offset = offset;
    }
    // A new run's heading says what its status says.
    if (resume) {
        status_show(_(" Playback started"));
    } else {
        ui_log_operation(_("Playback started\n"));
        status_show_unlogged(_(" Playback started"));
    }
    PlayerJob *job = job_new(resume);
    player_progress_start(job->tape, job->offset, resume, job->pulses.cycles);
    // Once started, the job is the worker's.
    if (!ui_start_worker("player", player_worker, job)) {
        (void)player_progress_end(0, false);
        job_free(job);
        serial_close();
        return;
    }
    set_controls_state(0);
}

void player_on_pause(GtkButton *, gpointer)
{
    end_run(true);
}

void player_on_stop(GtkButton *, gpointer)
{
    end_run(false);
}

void player_on_previous(GtkButton *, gpointer)
{
    if (end_run(false))
        (void)idx_select_previous();
}

void player_on_next(GtkButton *, gpointer)
{
    if (end_run(false))
        (void)idx_select_next();
}

void player_on_cursor_changed(GtkTreeView *, gpointer)
{
    player_set_resume_pending(false);
}

gboolean player_finished(gpointer data)
{
    auto *job = static_cast<PlayerJob *>(data);
    playback_offset = job->offset;
    pulses_sent = job->pulses;
    const gchar *message = job->ending;
    const std::string port = job->port;
    job_free(job);
    const bool paused = !player_is_running() && player_resume_pending();
    const std::string played = player_progress_end(pulses_sent.cycles, paused);
    if (!player_is_running()) {
        if (paused) {
            status_show(_(" Playback paused"), played.c_str());
            log_append(_("Paused\n"));
        } else {
            status_show(_(" Playback stopped"), played.c_str());
            log_append(_("Stopped\n"));
        }
    } else if (message != nullptr) {
        if (message == device_msg_no_port) {
            GCharPtr why(port_failure_text(port.c_str(), serial_open_error()));
            log_append(why.get());
        }
        GCharPtr text(g_strdup_printf(_(" Playback over: %s"), _(message)));
        status_show(text.get(), played.c_str());
        player_set_resume_pending(false);
        player_set_running(false);
    }
    serial_close();
    set_controls_state(1);
    ui_worker_done();
    return FALSE;
}

gchar *player_format_buffer_time(guint32 seconds)
{
    return g_strdup_printf("%lu:%02lu ", gulong(seconds / 60), gulong(seconds % 60));
}

gboolean player_show_progress(gpointer data)
{
    const std::uint64_t cycles = static_cast<PlayerTick *>(data)->cycles;
    delete static_cast<PlayerTick *>(data);
    // The label's seconds come from the cycles wrapped at 2^32.
    GCharPtr text(player_format_buffer_time(guint32(cycles) / tape_clock_hz));
    gtk_label_set_text(GTK_LABEL(lookup_widget(ui_window_main(), "label_buffer_time")), text.get());
    player_progress_show(cycles);
    return FALSE;
}

void player_quit()
{
    player_set_running(false);
}
