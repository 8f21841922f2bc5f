// The commands on the tape document: File, Open (and a tape named on the
// command line), Reload, Save, Save tape as and Index from tape. UI thread.
//
// Opening a file attaches it to the document (document/tape_document.h): a
// TAP file, whose IDX file lies beside it ("game.tap" -> "game.idx"), or a
// program image (PRG, P00, T64, D64) attached as the ROM loader's tape made
// of its programs, one record per program (the image file itself is never
// written). Only a tape the device plays is attached as a tape: a file that
// is neither a program image nor a TAP file (tape_playable()) is refused,
// and whatever was attached stays as it was. Before the first attach,
// Reload does nothing, and Save says that there is nothing yet.
#pragma once

#include "idx/idx_format.h"

#include <gtk/gtk.h>

#include <vector>

// File > Open: once the list may be discarded (document_may_discard()),
// choose a TAP file, attach it, fill the list from its IDX file (or with
// "Tape start" alone) and show " Attached: <path>". Cancelling changes
// nothing.
void document_on_open(GtkMenuItem *item, gpointer user_data);
// What Open does once a file is chosen: attach the TAP file at `path` (a full
// path, copied), fill the list from its IDX file, show " Attached: <path>"
// and log the tape check. A file that does not start with the TAP signature
// but is named like a program image (.prg, .p00, .t64, .d64, any letter
// case) is attached as the tape made of its programs instead, or refused
// with the reason.
// Whatever was attached stays, list included, when the file is refused:
// - no file to read at all (missing, no permission, a folder, a FIFO, a
//   device node: tape_file_refused()): " Error: Cannot open the tape
//   <path>: <reason>". Nothing here waits on such a file;
// - a file larger than any tape, or one that could not be read: " Error:
//   Cannot play <path>: <reason>", and the same in the log;
// - an empty file, or one that is not a tape the device plays: " Error:
//   Cannot play <path>: the file is empty" or "...: not a TAP file", and
//   the tape check's line in the log.
// Returns whether the file was attached.
gboolean document_attach(const gchar *path);
// Open without the chooser, for a tape named on the command line: `path` may
// be relative to the working folder. Attached or refused as by Open; once
// attached, the chooser starts in its folder next time. Returns whether it
// was attached.
gboolean document_open_path(const gchar *path);
// Once the list may be discarded (document_may_discard()), read the tape
// anew and refill the list from the IDX file: " IDX list reloaded", or " IDX
// list reset" when the IDX file could not be read. A TAP file that is no
// longer a tape is refused as document_attach() refuses it, and the list
// stays. For a program image the list is made from the image anew.
void document_on_reload(GtkButton *button, gpointer user_data);
// Write the list to the IDX file in its display order; " IDX list saved to
// file" on success, from when on the list counts as unchanged; the save's
// failure message otherwise. For a program image, which has no IDX file,
// Save tape as. With nothing attached: " Nothing to save: open a tape or a
// program image first".
void document_on_save(GtkButton *button, gpointer user_data);
// Before the list is replaced or the program ends. A list that would save
// as it was last loaded or saved (tape_document_changed()) may go at once;
// otherwise a modal question, transient for the main window, asks "Save
// changes to the index of NAME?" (NAME: the attached file's name), with
// Close without saving, Cancel and Save (the default). Save saves as the
// Save button does. Returns true for an unchanged list, Close without
// saving, or Save once written; false for Cancel, a closed question, and a
// save that failed or was cancelled.
bool document_may_discard();
// File, Save tape as (an image attached, no worker running): writes the tape
// made of the image and its IDX file where the user says
// , then attaches that TAP file as Open would.
void document_on_save_tape_as(GtkMenuItem *item, gpointer user_data);

// Writes `rows` to the IDX file at `path` (idx_write_file()) and says on the
// status bar how it went: " The list of index records was saved", " Could
// not save the list of index records: the disk is full", or for any other
// failure " Could not save the list of index records. Check write and
// sharing permissions!". Returns whether the file was written.
bool document_save_idx(const char *path, const std::vector<IdxRecord> &rows);

// Runs the chooser ("Open a tape or program image"; the filters "Tapes and
// programs", "TAP tapes", "Programs and disk images", each by extension in
// any letter case, and all files). On Open stores a newly allocated full path in *path (the caller
// g_free()s it), remembers the folder and the active filter for the next
// run, and returns TRUE. Cancel or closing returns FALSE and remembers
// nothing.
gboolean document_choose_tape(gchar **path);

// Clears the list and loads it from the attached tape's IDX file; adds (20, "Tape start")
// when the file held no record at 20 or could not be read. The list ends
// with a cursor, and counts as unchanged (tape_document_mark_saved()). Returns
// whether the file could be read; no message.
gboolean document_fill_list();

// File, Index from tape: finds the programs on the attached tape and adds a
// record for each one the list does not have yet. Does nothing without an
// attached tape or while a scan runs. The scan runs on a thread of its own,
// so a large tape never freezes the window; when it ends, a record (offset,
// name) is added for every program whose offset no row has, the list keeps
// its sort, and the status bar shows " Found %d programs on the tape, %d
// added to the list" or " No programs found on the tape". Nothing is saved.
void document_on_index_from_tape(GtkMenuItem *item, gpointer user_data);

// Whether program images play as the fast tape (our loader) or as the ROM
// loader's. An image attached now is made into a tape anew, its records'
// descriptions kept in tape order. UI thread.
void document_set_fast_load(bool on);
