// The device's bootloader: an AVR109 serial bootloader on its own port, as
// `avrdude -c avr109` uses it to write and verify flash memory. It keeps the
// flash of an ATmega32U4 (32 KiB, 0xFF where never written) for the whole
// run of the emulator and dumps what was written to --flash-out at the end of
// every bootloader session.
#pragma once

#include "emu_port.h"

enum class BootEnd {
    exited,   // the programmer sent 'E': back to the application (the console)
    vanished, // --bootloader-vanish-after: the port went away mid-write
    idle,     // nothing came for --bootloader-timeout
    stop      // a stop signal came
};

// Serves the bootloader protocol on `port` until one of the ends above.
BootEnd boot_run(EmuPort &port);
