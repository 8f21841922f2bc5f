// The connection settings window: edits the two port names.
#pragma once

#include <gtk/gtk.h>

GtkWidget *config_window_create();
void config_window_show(GtkMenuItem *item, gpointer user_data);
void config_window_ok_clicked(GtkButton *button, gpointer user_data);
