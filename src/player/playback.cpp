#include "player/playback.h"

#include "app/app.h"
#include "config/config.h"
#include "device/serial.h"
#include "index/idx_commands.h"
#include "index/index_list.h"
#include "player/player_worker.h"
#include "ui/feedback.h"
#include "ui/glib_ptr.h"
#include "ui/i18n.h"
#include "ui/main_window.h"
#include "ui/worker.h"

int player_running = 0;
GMutex player_lock;
int resume_pending = 0;
GMutex resume_lock;

namespace
{
// 1 from a successful thread start until its player_finished() has run. The
// busy arrangement already keeps Play insensitive meanwhile; this also keeps
// a programmatic click from starting a second worker on the same port.
bool worker_active = false;

int get_flag(GMutex *lock, const int *flag)
{
    g_mutex_lock(lock);
    const int value = *flag;
    g_mutex_unlock(lock);
    return value;
}

void set_flag(GMutex *lock, int *flag, int value)
{
    g_mutex_lock(lock);
    *flag = value;
    g_mutex_unlock(lock);
}

// Pause, Stop, Previous and Next: resume_pending first, so that it already
// tells pause from stop when the worker sees the cleared flag. False when no
// run is going on.
bool end_run(int resume)
{
    if (get_flag(&player_lock, &player_running) == 0)
        return false;
    set_flag(&resume_lock, &resume_pending, resume);
    set_flag(&player_lock, &player_running, 0);
    return true;
}

// Both quit paths: nothing is waited for. A worker still running finds its
// flag cleared or its file and port closed, and ends with the process.
void quit()
{
    set_flag(&player_lock, &player_running, 0);
    player_close_tap_file();
    serial_close();
    idx_list_clear();
    gtk_main_quit();
}
} // namespace

void player_on_play(GtkButton *, gpointer)
{
    if (tap_file_chosen != 1 || index_list_ready != 1 || worker_active)
        return;
    if (device_port == nullptr || device_port[0] == '\0') {
        status_show(_(" Error: Invalid device port"));
        return;
    }
    const bool resume = get_flag(&resume_lock, &resume_pending) != 0;
    if (!resume) {
        guint32 offset = 0;
        if (!idx_get_selected_offset(&offset)) {
            status_show(_(" Error: Unable to read from index entry"));
            return;
        }
        playback_offset = offset;
    }
    status_show(_(" Playback started"));
    if (!resume)
        log_operation(_("Playback started\n"));
    if (!ui_start_worker("player", player_worker)) {
        serial_close();
        return;
    }
    worker_active = true;
    set_controls_state(0);
}

void player_on_pause(GtkButton *, gpointer)
{
    end_run(1);
}

void player_on_stop(GtkButton *, gpointer)
{
    end_run(0);
}

void player_on_previous(GtkButton *, gpointer)
{
    if (end_run(0))
        (void)idx_select_previous();
}

void player_on_next(GtkButton *, gpointer)
{
    if (end_run(0))
        (void)idx_select_next();
}

void player_on_cursor_changed(GtkTreeView *, gpointer)
{
    set_flag(&resume_lock, &resume_pending, 0);
}

gboolean player_finished(gpointer data)
{
    const auto *message = static_cast<const gchar *>(data);
    if (get_flag(&player_lock, &player_running) == 0) {
        if (get_flag(&resume_lock, &resume_pending) != 0) {
            status_show(_(" Playback paused"));
            log_append(_("Paused\n"));
        } else {
            status_show(_(" Playback stopped"));
            log_append(_("Stopped\n"));
        }
    } else if (message != nullptr) {
        GCharPtr text(g_strdup_printf(_(" Playback over: %s"), message));
        status_show(text.get());
        set_flag(&resume_lock, &resume_pending, 0);
        set_flag(&player_lock, &player_running, 0);
    }
    player_close_tap_file();
    serial_close();
    set_controls_state(1);
    worker_active = false;
    return FALSE;
}

gchar *player_format_buffer_time(guint32 seconds)
{
    return g_strdup_printf("%lu:%02lu ", gulong(seconds / 60), gulong(seconds % 60));
}

gboolean player_show_buffer_time(gpointer)
{
    g_mutex_lock(&buffer_lock);
    const guint32 seconds = buffer_seconds;
    g_mutex_unlock(&buffer_lock);
    GtkWidget *label = lookup_widget(window_main, "label_buffer_time");
    GCharPtr text(player_format_buffer_time(seconds));
    if (label != nullptr)
        gtk_label_set_text(GTK_LABEL(label), text.get());
    return FALSE;
}

void ui_on_quit(GtkMenuItem *, gpointer)
{
    quit();
}

void ui_on_window_main_destroy(GtkWidget *, gpointer)
{
    quit();
}
