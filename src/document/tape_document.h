// The tape document: the one owner of what File, Open (or the command line)
// attached and of its index records. UI thread only: a worker gets what it
// needs in its job when it starts. No toolkit.
//
// A tape is either a TAP file, read anew from the file when a run starts,
// with its IDX file beside it ("game.tap" -> "game.idx"); or a program image
// (PRG, P00, T64, D64) from which a TAP file was made in memory: that tape
// has no IDX file, and the image file is never written.
//
// The tape's bytes are read once when it is attached, for what the client
// tells about it: the tape time of each record, the check written to the
// log, the scan for programs.
//
// The records are the index list's rows in its display order: the list
// (index/idx_list.h) shows them and puts every edit back here. A snapshot
// taken when they were last loaded or saved tells whether they changed.
#pragma once

#include "base/file_read.h"
#include "idx/idx_format.h"

#include <glib.h>

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

// Attaches the TAP file at `path` (a full path) in place of whatever was
// attached; `bytes` are its content, a tape the device plays
// (tape_playable()).
void tape_document_attach_tap(const gchar *path, std::vector<unsigned char> bytes);
// Attaches the program image at `path`, with `tape` the whole TAP file made
// from its programs.
void tape_document_attach_image(const gchar *path, std::string tape);

// Whether a tape is attached: from the first attach on, always.
bool tape_document_attached();
// Whether the attached tape was made from a program image.
bool tape_document_is_image();
// The attached file (the TAP file or the image) in the file system's
// encoding, and the IDX file beside a TAP file; nullptr when there is none.
const gchar *tape_document_path();
const gchar *tape_document_idx_path();

// A new reference to the tape's bytes (the caller unrefs it), or nullptr.
GBytes *tape_document_bytes_ref();

// Tape time in clock cycles from the first data byte to each of `offsets`
// (the player's count), in one pass; nothing for an offset past the end of
// the tape or when its bytes are not held.
std::vector<std::optional<std::uint64_t>>
tape_document_cycles_at_each(const std::vector<gint32> &offsets);

// The log line that describes the tape: its version, data length and tape
// time, or what is wrong with it. Translated, ends in "\n"; newly allocated
// (g_free), nullptr when its bytes are not held.
gchar *tape_document_describe();
// The same line for the whole file `file` of `size` bytes, before it is
// attached: why a file that is no tape is refused.
gchar *tape_document_describe_file(const unsigned char *file, std::size_t size);

// The bytes a run plays, for its job: a TAP file read anew, whole, with no
// sharing (a file that another program holds locked is refused), so that
// a tape replaced on disk since it was attached plays as it is now; or the
// image's tape as held. A new reference (the caller unrefs it), or nullptr
// with *read saying why the file could not be read; a file that is no
// longer a tape the device plays (tape_playable()) is not read either
// (`cannot_open`), so nothing of it is sent. Nothing here waits on a FIFO or
// a device node.
GBytes *tape_document_play_bytes(FileReadResult *read);

// Whether a program image is made into the fast tape (on until told
// otherwise) or the ROM loader's.
bool tape_document_fast_load();
void tape_document_set_fast_load(bool on);

// The records, in the list's display order.
const std::vector<IdxRecord> &tape_document_records();
// Replaces the records (the list does, after every change it shows).
void tape_document_set_records(std::vector<IdxRecord> records);
// Remembers the records as they are now, as the ones last loaded or saved.
void tape_document_mark_saved();
// Whether the records would save differently from the ones last
// remembered: an edit, Add, Remove, records found on the tape or a new
// order. Before the first mark, whether there is any record.
bool tape_document_changed();
