// Where a run is on the tape, told in the terms of its records: which
// record's stretch the tape time played falls in, how far into it, and how
// long it is. Pure functions over a TAP file's bytes and the records; no
// toolkit.
//
// A record's stretch runs from its offset to the next record's offset, or
// to the end of the tape, in tape time counted as the player counts it
// (tape_info.h). Offsets inside the header count as the first data byte,
// where the player starts.
#pragma once

#include "idx/idx_format.h"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

struct TapeStretch {
    std::int32_t offset; // the record's offset, as in the list
    std::string info;    // its description
    std::uint64_t start; // tape time at its offset, in clock cycles
    std::uint64_t end;   // tape time at the next stretch's start, or the tape's end
};

// The stretches of `records` (in any order) on the tape `file` of `size`
// bytes, header included: ordered by offset, one per offset (the first
// record given at an offset names it), none for a record past the tape's
// end.
std::vector<TapeStretch> tape_progress_stretches(const unsigned char *file, std::size_t size,
                                                 const std::vector<IdxRecord> &records);

// The stretch that the tape time `at` (clock cycles from the first data
// byte) falls in: the last one starting at or before it; nothing before the
// first.
std::optional<std::size_t> tape_progress_locate(const std::vector<TapeStretch> &stretches,
                                                std::uint64_t at);

// The progress text of the stretch at `at`, e.g. "GAME – 0:42 of 1:50, 1:08
// left": whole seconds, the time into it capped at its length, so that the
// three figures add up. Named as tape_progress_name() says.
// Translated.
std::string tape_progress_text(const TapeStretch &stretch, std::uint64_t at);

// What names the stretch: its record's description, or its offset when
// the description is empty.
std::string tape_progress_name(const TapeStretch &stretch);

// How far `at` is into the stretch, from 0 to 1 (1 for an empty stretch).
double tape_progress_fraction(const TapeStretch &stretch, std::uint64_t at);
