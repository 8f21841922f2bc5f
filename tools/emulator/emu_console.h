// The device's console: greets each opener of the port with a banner and the
// prompt "\r\n> ", echoes what is typed, and runs the commands "p" (play a
// tape) and "b" (jump to the bootloader). Any other line is echoed and
// answered with the prompt again.
#pragma once

#include "emu_port.h"

enum class ConsoleEnd {
    bootloader, // "b" was entered: the port is to go and the bootloader to come
    unplugged,  // a misbehaviour asked to drop the port as if unplugged
    stop        // a stop signal came
};

// Serves the console on `port` until one of the ends above.
ConsoleEnd console_run(EmuPort &port);
