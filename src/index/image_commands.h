// Program images in the window: a PRG, P00, T64 or D64 file attached as the
// tape made of its programs, and "Save tape as", which writes that tape and
// its IDX file. The image file itself is never written. UI thread only.
#pragma once

#include "image/image_read.h"

#include <glib.h>

#include <string>

// Reads the image `bytes` (the whole file at `path`, of `kind`), makes the
// tape of its programs and attaches it (tape_document.h). The list then
// holds one record per program: the offset of its leader in the made tape
// and its name, and counts as unchanged (idx_list_mark_saved()). The log
// gets one line with the image's kind and number of programs, and one for
// each file skipped. An image that its reader refuses is not attached,
// whatever was attached stays, and the status bar gives the reason (the log
// gives it in full). Returns whether it was attached; the caller shows
// " Attached: <path>".
bool image_attach(const gchar *path, ImageKind kind, const std::string &bytes);

// Save tape as: a save dialog proposing "NAME.tap" beside the attached image
// (confirming an overwrite), then the made tape written there and the list,
// as edited, to the IDX file beside it. The new TAP file's path (g_free it)
// once both are written; nullptr when cancelled or a write failed (the status
// bar says which).
gchar *image_save_tape_as();
