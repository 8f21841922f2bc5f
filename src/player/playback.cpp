#include "player/playback.h"

int player_running = 0;
GMutex player_lock;
int resume_pending = 0;
GMutex resume_lock;

void player_on_previous(GtkButton *, gpointer) {}
void player_on_play(GtkButton *, gpointer) {}
void player_on_next(GtkButton *, gpointer) {}
void player_on_pause(GtkButton *, gpointer) {}
void player_on_stop(GtkButton *, gpointer) {}
void player_on_cursor_changed(GtkTreeView *, gpointer) {}
gboolean player_finished(gpointer)
{
    return FALSE;
}
gboolean player_show_buffer_time(gpointer)
{
    return FALSE;
}
void ui_on_quit(GtkMenuItem *, gpointer)
{
    gtk_main_quit();
}
void ui_on_window_main_destroy(GtkWidget *, gpointer)
{
    gtk_main_quit();
}
