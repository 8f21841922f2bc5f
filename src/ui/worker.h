// Starting the one worker thread of a device operation. UI thread only.
//
// At most one worker (player, reset, update) runs at a time. Besides the
// busy arrangement of the controls, which keeps every command that could
// start another one insensitive, ui_worker_active() lets each start refuse
// while a worker is still running (a programmatic click, a keyboard
// accelerator).
#pragma once

#include <glib.h>

// Writes the separator line of a new device operation to the log, then
// `heading` (a translated line ending in "\n").
void log_operation(const gchar *heading);

// True from a successful ui_start_worker() until ui_worker_done().
bool ui_worker_active();

// Starts the thread `name` running `body` with `data`. The thread is never
// joined: its reference is dropped at once and it reports through an idle
// callback, which calls ui_worker_done() when it has shown the outcome. When
// the toolkit cannot create it, " %s" with the toolkit's error is shown on
// the status bar and false is returned; the caller then undoes what it
// prepared. On true the caller applies the busy arrangement.
bool ui_start_worker(const char *name, GThreadFunc body, gpointer data = nullptr);

// The worker's completion has run: another may start.
void ui_worker_done();
