// The widget registry: the two top-level windows and every widget found by
// its fixed name. The ground that every module with widgets stands on.
// UI thread only.
#pragma once

#include <gtk/gtk.h>

// The main window and the connection settings window. Built once by
// start-up and never destroyed by the program; null before that.
GtkWidget *ui_window_main();
GtkWidget *ui_window_connection_settings();
// Start-up: each window as it is built, the main window first (the settings
// window is transient for it).
void ui_set_window_main(GtkWidget *window);
void ui_set_window_connection_settings(GtkWidget *window);

// Finds the widget registered under `name` on the window that `widget`
// belongs to (climbing from a menu to the item it is attached to). Returns
// nullptr and logs "Widget not found: <name>" at warning level for a name
// that is not registered; no reference is added for the caller.
GtkWidget *lookup_widget(GtkWidget *widget, const gchar *name);

// Registers `widget` on `window` under `name`, holding a reference until the
// window is destroyed.
void ui_register_widget(GtkWidget *window, GtkWidget *widget, const gchar *name);
// Registers an object under `name` without a reference (the window itself,
// the tooltips group).
void ui_register_plain(GtkWidget *window, gpointer object, const gchar *name);
