// The index list: the view of the tape document's records
// (document/tape_document.h) in "treeview_indexes", sorted by offset
// (signed) or by description (locale collation), in browse selection. Every
// change it shows (an edit, Add, Remove, a fill, a new sort order) it puts
// back into the document as its records, in display order. Its selected row
// is where playback starts. The list's store and view are its own. UI thread
// only; no operation here shows a message.
#pragma once

#include "idx/idx_format.h"

#include <gtk/gtk.h>

#include <optional>
#include <vector>

// The store's columns: 0, the offset (G_TYPE_INT, signed 32-bit); 1, the
// description (G_TYPE_STRING, UTF-8); 2, the offset's tape time as "m:ss"
// from the attached tape, empty past its end.
enum { idx_column_offset = 0, idx_column_info = 1, idx_column_time = 2 };
// The view's columns: the playing mark, then one for each store column in
// order; the view column of store column c is idx_view_column_first + c.
inline constexpr int idx_view_column_first = 1;

// Builds the store and the columns: a narrow one for the playing mark,
// "Offset" and "Info", editable, and "Time", which sorts by offset; sorted by offset ascending,
// browse selection. Rows have one fixed height and columns fixed widths, from the widest offset and
// time and the titles ("Info" takes the rest of the room, and can be widened): a list of 100,000
// rows shows at once. Once, after the main window is shown. While nothing is attached, the empty
// list shows a one-line hint on how to open something.
void idx_list_setup();

// Marks the row of the record being played with a play icon: the selected
// row when its offset is `offset`, else the first row at `offset` in display
// order; no row for nothing. The mark follows its row through a new sort
// order. The selected row keeps its text colour while the list cannot be
// edited, so that it stays readable during a run.
void idx_list_mark_playing(std::optional<gint32> offset);

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

// Wheel over the list: while a tape is attached, up/down select the
// previous/next row (handled, even at either end) instead of scrolling.
gboolean idx_on_scroll(GtkWidget *view, GdkEventScroll *event, gpointer user_data);

// Add appends (20, "<New entry>") and selects it; Remove removes the selected
// row unless it is protected (idx_remove_selected()). Both do nothing before
// a tape is attached.
void idx_on_add_clicked(GtkButton *button, gpointer user_data);
void idx_on_remove_clicked(GtkButton *button, gpointer user_data);
