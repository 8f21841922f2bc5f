// Quitting: File, Quit and the main window's "destroy" do the same; other
// endings do what would otherwise outlive the process. File, Quit and the
// title bar's close button first let the user save a changed index list.
#pragma once

#include <gtk/gtk.h>

// Tell the player to stop and close the TAP file, end a running firmware
// update's tool and remove its files, close the port, clear the index list
// and leave the main loop. No worker is waited for: one still running finds
// its flag cleared or its file and port closed, and ends with the process.
// Each ignores its arguments. UI thread. File, Quit does this only once the
// list may be discarded (document_may_discard()).
void app_on_quit(GtkMenuItem *item, gpointer user_data);
void app_on_main_destroy(GtkWidget *window, gpointer user_data);
// The main window's "delete-event" (the title bar's close button): TRUE,
// keeping the window, unless the list may be discarded; then the window is
// destroyed and "destroy" quits.
gboolean app_on_main_delete(GtkWidget *window, GdkEvent *event, gpointer user_data);

// After gtk_init: SIGTERM, SIGHUP and SIGINT (in the main loop) and the loss
// of the display end a running device operation's tool and remove its files
// (maintenance_quit()). Then the process ends by that signal (restored
// to its default and raised), or with status 1 when the display was lost.
// A query of the pointer or of coordinates that meets a window already
// destroyed ends nothing; any other X error ends the process as the toolkit
// does. UI thread.
void app_handle_endings();
