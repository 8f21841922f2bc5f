// Open, Reload and Save of the attached TAP file's IDX list. UI thread.
#pragma once

#include <gtk/gtk.h>

extern gchar *tap_file_path;
extern gchar *idx_file_path;
extern int tap_file_chosen;
extern int index_list_ready;

void idx_on_open_tap_file(GtkMenuItem *item, gpointer user_data);
void idx_on_reload_clicked(GtkButton *button, gpointer user_data);
void idx_on_save_clicked(GtkButton *button, gpointer user_data);
