// How every module tells the user what is happening. UI thread only, but
// for port_failure_text(), which any thread may call.
#pragma once

#include <gtk/gtk.h>

// Replaces the one message of the status bar (context 0) with `text`, a
// UTF-8 string the caller keeps. The message goes to the log too, as a line
// of its own without its leading blank and followed by " – " and
// `log_detail` when given.
void status_show(const gchar *text, const gchar *log_detail = nullptr);

// The same, shown but not logged, for a message that a
// moment's progress replaces ("writing 42 %"), or whose content the caller
// logs whole in a line of its own (a refusal with its reason).
void status_show_unlogged(const gchar *text);

// The "query-tooltip" handler of the status bar (its "has-tooltip" on): the
// current message whole, where one too long for the bar reads in full.
// Asked for when the pointer rests on the bar, not at each new message.
gboolean status_on_query_tooltip(GtkWidget *bar, gint x, gint y, gboolean keyboard,
                                 GtkTooltip *tooltip, gpointer user_data);

// Appends `text` unchanged to the end of the log; callers end lines with
// "\n" themselves. A log that showed its end before shows it after (it
// follows new output); one the user has scrolled up stays where it is.
void log_append(const gchar *text);

// The same for lines of the flashing tool's output, shown in a monospace
// font so that its tables line up.
void log_append_tool(const gchar *text);

// 1: the idle arrangement (everything that starts something is sensitive,
// Prev/Next/Pause/Stop are not). 0: the busy arrangement, its mirror. A
// control that is not allowed (set_control_allowed()) stays insensitive in
// both.
void set_controls_state(int enabled);

// Whether the control `name` of the main window may be sensitive at all, for
// commands that make sense only for some tapes; takes effect with the next
// set_controls_state(). Every control is allowed until told otherwise.
void set_control_allowed(const char *name, bool allowed);

// The log line that says why the port `name` could not be opened: its name,
// the system's reason for `error` (an errno value) and, for the usual causes
// on Linux (no permission, held by another program, not there), what to do.
// Translated, valid UTF-8, ending in "\n"; the caller frees it.
gchar *port_failure_text(const gchar *name, int error);
