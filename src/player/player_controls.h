// Playback control: the transport buttons, the run's completion, and the
// player's part of quitting.
// UI thread only.
//
// Play starts the "player" worker (player_thread.h) and switches the controls
// to busy; it does nothing while any worker runs, and with nothing attached
// says so on the status bar. Pause, Stop, Previous and
// Next only clear player_running (having set resume_pending first) and the
// worker ends within about 500 ms. The
// worker's player_finished() then shows the outcome, " Playback over: " and
// the ending looked up in the catalogue (and logs why, when the
// device port could not be opened), closes the port and
// restores the idle controls.
#pragma once

#include <gtk/gtk.h>

// Handlers of the transport buttons; each ignores its arguments. Pause,
// Stop, Previous and Next do nothing at all when no run is going on.
void player_on_previous(GtkButton *button, gpointer user_data);
void player_on_play(GtkButton *button, gpointer user_data);
void player_on_next(GtkButton *button, gpointer user_data);
void player_on_pause(GtkButton *button, gpointer user_data);
void player_on_stop(GtkButton *button, gpointer user_data);
// Any move of the index list's cursor cancels a pending resume.
void player_on_cursor_changed(GtkTreeView *view, gpointer user_data);

// One-shot idle callbacks scheduled by the worker; both return FALSE.
// `job` is the run's PlayerJob, which player_finished() frees.
// player_show_progress() gets a PlayerTick and deletes it.
gboolean player_finished(gpointer job);
gboolean player_show_progress(gpointer tick);

// The buffer-time label's text for `seconds` of tape: "m:ss " with the
// minutes uncapped (3600 s is "60:00 "). The caller frees it.
gchar *player_format_buffer_time(guint32 seconds);

// The program is quitting: tells a running player to stop, without waiting
// for the worker (it ends with the process).
void player_quit();
