// The main window: its widget tree, the widget registry and name lookup.
#pragma once

#include <gtk/gtk.h>

// Builds the main window with every widget registered under its fixed name
// and the seventeen handlers connected. Returned unshown (its children are
// visible). Never fails.
GtkWidget *ui_window_main_create();

// Finds the widget registered under `name` on the window that `widget`
// belongs to (climbing from a menu to the item it is attached to). Returns
// nullptr and logs "Widget not found: <name>" at warning level for a name
// that is not registered; no reference is added for the caller.
GtkWidget *lookup_widget(GtkWidget *widget, const gchar *name);

// Registry helpers shared by every window builder: a widget registered with
// a reference keeps it until the window is destroyed.
void ui_register_widget(GtkWidget *window, GtkWidget *widget, const gchar *name);
void ui_register_plain(GtkWidget *window, gpointer object, const gchar *name);
