// Quitting: File, Quit and the main window's "destroy" do the same.
#pragma once

#include <gtk/gtk.h>

// Tell the player to stop and close the TAP file, end a running firmware
// update's tool and remove its files, close the port, clear the index list
// and leave the main loop. No worker is waited for: one still running finds
// its flag cleared or its file and port closed, and ends with the process.
// Each ignores its arguments. UI thread.
void ui_on_quit(GtkMenuItem *item, gpointer user_data);
void ui_on_window_main_destroy(GtkWidget *window, gpointer user_data);
