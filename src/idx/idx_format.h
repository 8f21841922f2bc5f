// The IDX file: a text file beside a TAP file, one index record per line
// ("0x14<TAB><TAB>Tape start"). This module names the file beside a tape and
// turns its text into records and records into text and files; it holds no
// list, no widget and shows nothing (the list is index/idx_list.h, the
// commands index/idx_commands.h).
#pragma once

#include <glib.h>

#include <functional>
#include <string>
#include <vector>

// One index record: a byte offset into the TAP file (20 is the first byte
// after the header) and a one-line description in UTF-8.
struct IdxRecord {
    gint32 offset;
    std::string info;
};

// The tape start: the first byte after the 20-byte TAP header.
inline constexpr gint32 idx_tape_start = 20;

// The IDX file of the TAP file at `tap_path`: same folder, the file name cut
// at its last '.' (a '.' in a folder name does not count), plus ".idx"
// (always lowercase): "game.tap" -> "game.idx", "dir/.tap" -> "dir/.idx",
// "dir.d/game" -> "dir.d/game.idx".
std::string idx_path_for_tap(const std::string &tap_path);

// Reads one number at *pos: optional spaces (not TABs), at most one '-', then
// "0x" hex, "0b" binary, "0" octal or decimal digits (lowercase prefixes
// only), computed modulo 2^32. The number must be followed directly by a
// byte 0x00-0x20 (a blank, a control byte or the end of the text).
// Returns true and advances *pos past the number, or false with *value 0
// (*pos then points somewhere inside the failed text; don't use it).
bool idx_parse_number(const char **pos, gint32 *value);

// Called once per accepted record, in file order. `info` is valid UTF-8 and
// lives only for the call.
using IdxRecordReceiver = std::function<void(gint32 offset, const char *info)>;

// Parses the whole content of an IDX file: lines end at CR, LF or CR LF; a
// line whose number does not parse is skipped silently; spaces and TABs
// after the number are skipped and the rest of the line is the description
// (trailing blanks kept). Reading stops at the first NUL. In a description,
// valid UTF-8 stays as it is and every other byte is taken as Windows-1252
// and converted. `text` is overwritten at line ends. Returns true if some
// record has offset exactly 20.
bool idx_parse_text(char *text, const IdxRecordReceiver &receiver);

// The line that represents one record in the file, CR LF included:
// "0x<hex>", two TABs up to offset 0xFFFFF (signed, so negative offsets too)
// and one TAB above, then the description or "<Missing info>" when it is
// empty or null. The offset is printed as its unsigned 32-bit pattern.
std::string idx_format_record(gint32 offset, const char *info);

// The whole file text for `rows`, in the order given.
std::string idx_format_records(const std::vector<IdxRecord> &rows);

// How writing the IDX file went.
enum class IdxWriteResult {
    written,   // the file holds the rows, and they are on disk
    failed,    // not written: no permission, a read-only file system, an I/O error
    disk_full, // not written: no space left on the file system
};

// Writes `rows` to the IDX file at `path` and keeps the file what it was:
// owner, group, mode, hard links and extended attributes stay, and a
// symbolic link stays a link whose target gets the new content. A link is
// followed only where the kernel's protected-symlinks rule would follow it,
// at each step of a chain of links: in a sticky, world-writable folder such
// as /tmp, a link that belongs neither to the user nor to the folder's owner
// is refused (failed) and its target left untouched. A file the user may
// not write is not touched.
//
// Where it keeps the file's identity, the text goes to a temporary file
// beside the file that replaces it only once written and on disk, so any
// failure leaves the previous file byte for byte and no temporary file
// behind. Otherwise (a folder the user may not write, a file with several
// hard links, a file the user may write but not re-create as its owner) the
// file is rewritten in place: a failure halfway leaves it incomplete and is
// reported like any other. A new file that could not be written whole is
// removed. Shows nothing.
IdxWriteResult idx_write_file(const char *path, const std::vector<IdxRecord> &rows);
