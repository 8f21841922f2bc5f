// The programs on a tape as the command-line tools print them: one line each
// with offset, tape time, type, addresses and name, then a total. No toolkit.
#pragma once

#include "tape/tape_scan.h"

#include <cstdint>
#include <string>
#include <vector>

// The lines for `programs` and the tape's whole time `total_cycles`, each
// ending in "\n".
std::string tape_listing(const std::vector<TapeProgram> &programs, std::uint64_t total_cycles);
