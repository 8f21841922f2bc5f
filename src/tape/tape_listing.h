// The programs on a tape as the command-line tools print them, in the user's
// language: a heading, one line each with offset, start, load time, type,
// addresses and name, then a total. No toolkit.
#pragma once

#include "tape/tape_scan.h"

#include <cstdint>
#include <string>
#include <vector>

// The lines for `programs` (in tape order) and the tape's whole time
// `total_cycles`, each ending in "\n". A program's load time runs from its
// start to the next program's start, or to the end of the tape for the last;
// the first one's runs from the start of the tape, since whatever lies
// before its header is played on the way to it. Times are whole seconds,
// each taken between the whole seconds of its ends, so that the column adds
// up to the total on the closing line:
//   offset     start    load  type                   addresses    name
//   0x000018    0:00    0:12  type 1 (BASIC)         $0801-$0A59  "GAME"
//   1 program found, total tape time 0:12
// With no programs, only the closing line.
std::string tape_listing(const std::vector<TapeProgram> &programs, std::uint64_t total_cycles);
