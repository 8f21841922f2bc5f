// The attached tape, the one owner of what File, Open (or the command line)
// attached. UI thread only: a worker gets what it needs when it starts.
//
// A tape is either a TAP file, played from the file itself when a run
// starts, with its IDX file beside it ("game.tap" -> "game.idx"); or a
// program image (PRG, P00, T64, D64) from which a TAP file was made in
// memory: that tape has no IDX file, and the image file is never written.
//
// The tape's bytes, as the player and the scanner see them, are read once
// when it is attached, for what the client tells about it: the tape time of
// each record, the check written to the log, the scan for programs.
#pragma once

#include <glib.h>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

// Attaches the TAP file at `path` (a full path) in place of whatever was
// attached. `bytes` are its content, or nothing when it could not be read
// whole (`read` false): every question about the bytes then has no answer.
void tape_document_attach_tap(const gchar *path, std::vector<unsigned char> bytes, bool read);
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
