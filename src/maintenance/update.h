// Firmware, Update firmware: sends the device into its bootloader as a reset
// does, waits two seconds and runs avrdude on the bootloader port, on an
// "update" worker thread (see device_operation.h).
//
// The tool runs in a private temporary folder that holds the embedded image
// as "ravelo32u4.hex" and an "avrdude.conf": a copy of the working folder's
// own when it has one, otherwise the system's avrdude configuration followed
// by the definition of the part "ravelo" (the device's ATmega32U4). Nothing
// is written to the working folder; the private folder is removed when the
// update has ended, whatever the outcome, or when the program quits. While
// the tool runs its output goes to the log, line by line.
//
// Before anything starts, the request needs a device port, a bootloader
// port (" Error: Invalid bootloader port"), an avrdude executable in the
// working folder ("./avrdude", preferred) or on PATH, and a configuration,
// the working folder's or the system's (" Error: Some update components are
// missing"). " Error: Could not copy firmware" when the private folder, the
// image or the configuration cannot be written.
#pragma once

#include <gtk/gtk.h>

// Worker message when the tool could not be started, ended with a non-zero
// status or by a signal, or ran past its time limit.
inline constexpr char device_msg_tool_failed[] = "The avrdude executable exited with error";

// How long the tool may run before it is ended and the update fails. Ample
// for an 8 KB image at 57,600 baud; a tool whose port went silent or
// vanished mid-write would otherwise never give the window back.
inline constexpr int device_update_tool_limit_default_ms = 120000;

// Where the system's avrdude configuration is when the installed avrdude
// does not say (Debian's place).
inline constexpr char device_update_system_config[] = "/etc/avrdude.conf";

// The "activate" handler of menuitem_update. UI thread.
void device_update_activate(GtkMenuItem *item, gpointer user_data);

// For tests: replaces the tool's time limit (milliseconds) for updates that
// start afterwards.
void device_update_set_tool_limit_ms(int limit_ms);
