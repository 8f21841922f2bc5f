// The main window: its widget tree and the wiring of its signals to the
// handlers of every module.
#pragma once

#include <gtk/gtk.h>

// Builds the main window with every widget registered under its fixed name
// and its handlers connected. Returned unshown (its children are
// visible). Never fails.
GtkWidget *app_window_main_create();
