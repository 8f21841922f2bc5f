// Process start-up: the one place, with the main window it builds, that
// knows every module.
#pragma once

#include <gtk/gtk.h>

// Runs every start-up step before the main loop: locale, toolkit, both
// windows, configuration, showing the main window, the quit connection and
// the index list. Toolkit options are removed from argc/argv; nothing else
// in them is read. No step reports failure.
void app_startup(int *argc, char ***argv);
