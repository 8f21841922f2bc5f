// The tape the client makes of programs taken from program or disk images,
// one program after the other, in one of two formats. No toolkit.
//
// Fast, the default: each program behind a short boot that the computer's
// ROM loader reads, then read by the client's own loader at some 466 bytes a
// second (tape/tape_fast.h). A program that this loader cannot carry (one
// that loads below $0400, into $D000-$DFFF or past $FFFF) is written as in
// the ROM format instead.
//
// ROM: exactly what a real SAVE writes, with pulses of the ideal lengths
// (short 0x30, medium 0x42, long 0x56, no jitter, no drift), so that a tape
// analyser finds every pulse ideal. Each program is, from its header leader
// on: 27136 short pulses, the header block (first copy, 79 short, the
// repeat, 78 short), a third of a second of silence, 5376 short pulses, the
// data block in the same way, and then a second of silence, as a SAVE leaves
// before the next; the last program has it too, which costs nothing and
// keeps every program alike. The header (192 bytes): type 1 for a program
// that loads at $0801, else 3; the load address; the end address, load +
// length, little endian, which for a program ending at $FFFF wraps to 0 as in
// the computer's own 16-bit arithmetic; the name padded with blanks (0x20)
// to 16 bytes; the rest blanks.
//
// Both are TAP version 1, where a silence is a zero byte with a 24-bit count
// of clock cycles. The same programs always give the same bytes.
#pragma once

#include "idx/idx_format.h"
#include "image/image_program.h"
#include "tape/tape_fast.h"

#include <vector>

enum class ImageTapeFormat { fast, rom };

// The tape of `programs`. `leaders` has the file offset of each program's
// record, where its first header leader starts (the first at 20, the first
// data byte); `rom_only` the programs that the fast format wrote for the ROM
// loader, which the caller tells the user of (none in the ROM format).
TapFastTape image_make_tape(const std::vector<ImageProgram> &programs,
                            ImageTapeFormat format = ImageTapeFormat::fast);

// One record per program of `tape`, made of `programs`: the offset of its
// record and its name as text (tape_name_text()).
std::vector<IdxRecord> image_tape_records(const std::vector<ImageProgram> &programs,
                                          const TapFastTape &tape);
