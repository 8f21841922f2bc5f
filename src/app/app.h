// Process start-up and the two top-level windows.
//
// The UI thread builds both windows once and they live until the process
// ends; every other module reaches widgets through lookup_widget() starting
// from one of them.
#pragma once

#include <gtk/gtk.h>

// The main window, set once by app_startup(); never rebuilt.
extern GtkWidget *window_main;
// The connection settings window, built hidden by app_startup().
extern GtkWidget *window_connection_settings;

// Runs every start-up step before the main loop: locale, toolkit, both
// windows, configuration, showing the main window, the quit connection and
// the index list. Toolkit options are removed from argc/argv; nothing else
// in them is read. No step reports failure.
void app_startup(int *argc, char ***argv);
