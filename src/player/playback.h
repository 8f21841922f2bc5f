// Playback control: the transport buttons, the run's completion and quit.
// UI thread only.
#pragma once

#include <gtk/gtk.h>

// 1 while the player should go on; under player_lock.
extern int player_running;
extern GMutex player_lock;
// 1 from Pause until something cancels the resume; under resume_lock.
extern int resume_pending;
extern GMutex resume_lock;

void player_on_previous(GtkButton *button, gpointer user_data);
void player_on_play(GtkButton *button, gpointer user_data);
void player_on_next(GtkButton *button, gpointer user_data);
void player_on_pause(GtkButton *button, gpointer user_data);
void player_on_stop(GtkButton *button, gpointer user_data);
void player_on_cursor_changed(GtkTreeView *view, gpointer user_data);

// One-shot idle callbacks scheduled by the worker; both return FALSE.
gboolean player_finished(gpointer message);
gboolean player_show_buffer_time(gpointer unused);

void ui_on_quit(GtkMenuItem *item, gpointer user_data);
void ui_on_window_main_destroy(GtkWidget *window, gpointer user_data);
