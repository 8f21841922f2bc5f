// The editable index list: "treeview_indexes" over index_store, sorted by
// offset (signed) or by description (locale collation), in browse selection.
// Its selected row is where playback starts. UI thread only; no operation
// here shows a message.
#pragma once

#include "idx/idx_format.h"

#include <gtk/gtk.h>

#include <vector>

// Column 0: offset (G_TYPE_INT, signed 32-bit); column 1: description
// (G_TYPE_STRING, UTF-8); column 2: the offset's tape time as "m:ss" from
// the attached tape (tape_document.h), empty past its end. The view holds the
// only lasting reference.
extern GtkListStore *index_store;
// The view "treeview_indexes", set by idx_list_setup().
extern GtkTreeView *index_view;

enum { idx_column_offset = 0, idx_column_info = 1, idx_column_time = 2 };

// Builds the store and the columns: "Offset" and "Info", editable, and
// "Time", which sorts by offset; sorted by offset ascending, browse
// selection. Rows have one fixed height and columns fixed widths, from the
// widest offset and time and the titles ("Info" takes the rest of the room,
// and can be widened): a list of 100,000 rows shows at once. Once, after
// the main window is shown.
void idx_list_setup();

// The "edited" handler of both renderers. Offsets go through the IDX number
// syntax; text that is not a number, and anything below 20, becomes 20.
// Descriptions are stored as typed. An offset's time follows it. The cursor
// does not move.
void idx_on_cell_edited(GtkCellRendererText *renderer, gchar *path, gchar *new_text,
                        gpointer user_data);

// Removes every row, with the store detached from the view meanwhile. No
// cursor afterwards.
void idx_list_clear();

// Replaces the rows by the records of an IDX text (overwritten at line ends,
// see idx_parse_text) as idx_list_fill() does. Returns true if a record at
// offset 20 was read.
bool idx_list_load(char *text);

// Replaces the rows by `records`, with the store detached, and puts the
// cursor on the first row, if any.
void idx_list_fill(const std::vector<IdxRecord> &records);

// Insert one row (info is copied) at the top or the bottom, let the sort place
// it, and put the cursor on it. A row appended with an offset that other rows
// share is placed after them.
void idx_list_prepend(gint32 offset, const char *info);
void idx_list_append(gint32 offset, const char *info);

// Inserts `records` where the sort places them, without moving the cursor.
void idx_list_insert(const std::vector<IdxRecord> &records);

// The rows in the list's current display order.
std::vector<IdxRecord> idx_list_rows();

// Remembers the rows as they are now, in their display order, as the ones
// last loaded or saved.
void idx_list_mark_saved();
// Whether the rows, in their display order, would save differently from the
// ones last remembered: an edit, Add, Remove, records found on the tape or a
// new order. Before the first mark, whether there is any row.
bool idx_list_changed();

// Removes the selected row if its offset is above 20, or if its description
// equals `placeholder` byte for byte; otherwise does nothing. The cursor then
// goes to the row that took its place, else to the new last row; none when
// the list is empty. Nothing happens without exactly one selected row.
void idx_remove_selected(const char *placeholder);

// Move the cursor one row up/down in the current order. False (and no move)
// without exactly one selected row or at the first/last row.
gboolean idx_select_previous();
gboolean idx_select_next();

// Stores the selected row's offset (its signed value reinterpreted) and
// returns true when exactly one row is selected; otherwise returns false and
// leaves *offset alone.
gboolean idx_get_selected_offset(guint32 *offset);
