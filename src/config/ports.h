// The configured ports among the USB serial ports the system has
// (device/port_list.h): the status bar's word when the device is plugged in
// or unplugged, and the list that `ravelo-client --list-ports` prints.
#pragma once

#include <cstdio>

// Start-up, after config_init(): from now on, while no worker runs, the
// status bar says " Device connected: PRODUCT" when the configured device
// port appears and " Device unplugged" when it goes. A running playback or
// device operation tells its own ending instead. Where udev cannot be
// watched, the log says so in one line and nothing else changes. UI thread.
void ports_watch_start();

// Prints every USB serial port to `out`, one a line: its path (the by-id
// link, else the node), the node, the USB IDs, what it is and its interface
// number, then "[device port]" and "[bootloader port]" on the configured
// ones; "No USB serial port found" when there is none. Needs
// config_init(), no display.
void ports_print_list(FILE *out);
