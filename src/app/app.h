// Process start-up: the one place, with the main window it builds, that
// knows every module.
#pragma once

#include <gtk/gtk.h>

// Runs every start-up step before the main loop: locale and catalogues,
// command line, toolkit, the handlers of other endings than Quit
// (app_handle_endings()), the sweep of folders that killed updates left
// behind (maintenance_folder_sweep()), both windows, configuration, the
// watch of plugged ports (ports_watch_start()), showing the main window, the
// quit connection, the index list and, last, the tape named on the command
// line (attached as File, Open would; one that cannot be read leaves the
// client empty with the reason on the status bar).
//
// Command line: `ravelo-client [TAPE.tap]` plus the toolkit's own options,
// which are removed from argc/argv. --help (which ends with where to report
// bugs), --version (cli_print_version()) and --list-ports
// (ports_print_list()) print to standard output and exit with 0, before
// any display is needed; an unknown option or a second tape is told on standard error
// as cli_usage_error() tells it, with exit status 2. Without a display the
// process exits as gtk_init does.
void app_startup(int *argc, char ***argv);
