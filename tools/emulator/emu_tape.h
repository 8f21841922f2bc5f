// Tape playback, as the device does it for the console command "p": ask for
// the TAP header with 'h', then for data with 'd' whenever the playback
// buffer has room for a chunk (at most 64 bytes; a 'd' answered with nothing
// means the client has nothing more), play the pulses at the tape's pace,
// and report 'e' once the header's data length has been played ('f' if the
// data ended early or a misbehaviour asks for it).
#pragma once

#include "emu_port.h"

#include <string>

enum class PlayEnd {
    done,   // 'e' or 'f' was sent; back to the prompt
    closed, // the client closed the port mid-play
    unplug, // --hangup-after: the port is to be dropped
    stop    // a stop signal came
};

// Opens (and empties) the file that receives every byte of every playback.
// False, with a message on stderr, if it cannot be opened.
bool tape_record_open(const std::string &path);

// Plays one tape for the opener of `session`.
PlayEnd tape_play(EmuPort &port, unsigned session);
