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
void ui_log_operation(const gchar *heading);

// Starts the thread `name` running `body` with `data` and drops its
// reference (it is never joined). When the toolkit cannot create it, shows
// " %s" with the toolkit's error and returns false.
bool ui_start_thread(const char *name, GThreadFunc body, gpointer data);

// True from a successful ui_start_worker() until ui_worker_done().
bool ui_worker_active();

// Starts a device operation's worker as ui_start_thread() does. The worker
// reports through an idle callback, which calls ui_worker_done() when it has
// shown the outcome. On false the caller undoes what it prepared; on true it
// applies the busy arrangement.
bool ui_start_worker(const char *name, GThreadFunc body, gpointer data = nullptr);

// The worker's completion has run: another may start.
void ui_worker_done();
