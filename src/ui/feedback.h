// How every module tells the user what is happening. UI thread only.
#pragma once

#include <glib.h>

// Replaces the one message of the status bar (context 0) with `text`, a
// UTF-8 string the caller keeps.
void status_show(const gchar *text);

// Appends `text` unchanged to the end of the log; callers end lines with
// "\n" themselves.
void log_append(const gchar *text);

// 1: the idle arrangement (everything that starts something is sensitive,
// Prev/Next/Pause/Stop are not). 0: the busy arrangement, its mirror.
void set_controls_state(int enabled);
