// File, Index from tape: finds the programs on the attached tape and adds a
// record for each one the list does not have yet. UI thread.
#pragma once

#include <gtk/gtk.h>

// The "activate" handler of menuitem_index_from_tape. Does nothing without
// an attached tape or while a scan runs. The scan runs on a thread of its
// own, so a large tape never freezes the window; when it ends, a record
// (offset, name) is added for every program whose offset no row has, the
// list keeps its sort, and the status bar shows " Found %d programs on the
// tape, %d added to the list" or " No programs found on the tape". Nothing
// is saved.
void idx_on_index_from_tape(GtkMenuItem *item, gpointer user_data);
