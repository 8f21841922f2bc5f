// The model computer at the far end of the cable (--computer): the pulses
// the device plays go to a model C64 (tools/computer) instead of nowhere.
//
// ROM-format blocks are loaded as the KERNAL would, at a high level: the
// header to $033C, the data to its address ($0801 for type 1, the header's
// start for type 3), $2D/$2E and $AE/$AF set to the end, then, once the
// repeated data block has played, JMP ($0302). From there the model's 6502
// runs with the tape on its cassette read line until it reaches a BASIC or
// KERNAL ROM entry. For each program one line goes to standard output:
//   computer: "NAME" $0801-$A000 RUN after 1:50.3
// with the range loaded (the end exclusive), where execution went (RUN,
// READY, ?LOAD ERROR, or the ROM address) and the computer's time from the
// program's first pulse. With a dump folder, what was loaded is written
// there as a PRG file, "1.prg", "2.prg", ... in tape order.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

// A new tape: the machine is switched on and waits, as after LOAD, for a
// header. `dump_folder` may be empty.
void computer_start(const std::string &dump_folder);

// Offers the pulses the device has (lengths in cycles, in tape order);
// `ended`: no more will come after them. Returns how many the computer
// took: those after them are offered again, with more. While the motor is
// off, the computer takes none.
std::size_t computer_offer(const std::vector<std::uint32_t> &pulses, bool ended);
