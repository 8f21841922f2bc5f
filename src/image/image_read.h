// Reading the programs out of program files (PRG, P00) and the images that
// hold several (T64 tape images, D64 1541 disk images), so that they can be
// put on a tape. Pure functions over the file's bytes: they never read past
// them, and their work is bounded whatever the bytes. No toolkit.
//
// Reasons and skipped lines are short texts in the user's language, looked
// up as they are made (base/i18n.h; English under the C locale); names in
// them are the PETSCII bytes shown simply: 0x20-0x5B as themselves,
// 0xC1-0xDA as capital letters, anything else as '?'.
#pragma once

#include "image/image_program.h"

#include <optional>
#include <string>
#include <vector>

enum class ImageKind { prg, p00, t64, d64 };

// The kind a file's name gives by its extension, any letter case (".prg",
// ".P00", ".t64", ".D64"); std::nullopt for any other name.
std::optional<ImageKind> image_kind_of(const std::string &file_name);

// Human name of a kind for log lines, translated: "PRG file", "P00 file",
// "T64 tape image", "D64 disk image".
const char *image_kind_name(ImageKind kind);

struct ImageRead {
    std::vector<ImageProgram> programs; // in order; empty when refused
    std::string refusal;                // why the image was refused ("" when it was read)
    // One line per file skipped, also when that leaves none and the image is
    // refused, such as
    // skipped "NOTES": a SEQ file; only programs load from tape
    std::vector<std::string> skipped;
};

// Reads `bytes`, the whole file, as `kind`. `file_name` (the base name, in
// the file system's encoding) is only used for the PRG name.
//
// - PRG: the load address (little endian), then the program. The name is the
//   file name without its extension, ASCII letters upper-cased and cut to 16
//   characters; whatever PETSCII lacks (control characters, \^_`{|}~, and each
//   character beyond ASCII, taken as UTF-8) becomes '?'.
// - P00: "C64File" and a zero byte, the name in bytes 8-23 (padded with 0x00
//   or 0xA0), and from byte 26 the program as in a PRG file.
// - T64: a signature starting "C64" that names a "tape", then the directory.
//   Entries of type 0 are free; the "used" count (0 meaning 1) says how many
//   of the others to take, from the reserved slots that the file holds. A
//   program runs up to the next program's data in the file, or to its end:
//   the end address in the entry is not trusted. Entries with data past the
//   file are skipped.
// - D64: one of the four 1541 image sizes (35 or 40 tracks, with or without
//   error bytes). The directory runs from track 18, sector 1, along its links
//   on track 18 until a link leaves the track or comes back to a sector
//   already read. Closed PRG files are taken; any other entry with a name is
//   skipped, and so is a file whose sector chain loops, leaves the disk or
//   ends before its stated number of sectors.
// - Any kind: a program with no bytes after its load address, or one that
//   would run past address $FFFF, is the refusal of a PRG or P00 file and a
//   skipped entry of a T64 or D64 image. An image with no program left is
//   refused.
ImageRead image_read(ImageKind kind, const std::string &file_name, const std::string &bytes);
