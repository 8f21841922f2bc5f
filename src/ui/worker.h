// Starting the one worker thread of a device operation. UI thread only.
//
// At most one worker runs at a time; the busy arrangement of the controls
// (set_controls_state(0)) keeps every command that could start another one
// insensitive until the worker's completion callback has run.
#pragma once

#include <glib.h>

// Writes the separator line of a new device operation to the log, then
// `heading` (a translated line ending in "\n").
void log_operation(const gchar *heading);

// Starts the thread `name` running `body` without data. The thread is never
// joined: its reference is dropped at once and it reports through an idle
// callback. When the toolkit cannot create it, " %s" with the toolkit's
// error is shown on the status bar and false is returned; the caller then
// undoes what it prepared. On true the caller applies the busy arrangement.
bool ui_start_worker(const char *name, GThreadFunc body);
