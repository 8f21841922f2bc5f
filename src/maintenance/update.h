// Firmware, Update firmware: writes the embedded image to "ravelo32u4.hex",
// sends the device into its bootloader as a reset does, waits two seconds
// and runs avrdude on the bootloader port, on an "update" worker thread (see
// device_operation.h). The image file is removed when the update has ended.
//
// Before anything starts, the request needs: a device port, a bootloader
// port, "avrdude.conf" in the working directory and an avrdude executable
// in the working directory or on PATH ("./avrdude" is preferred).
#pragma once

#include <gtk/gtk.h>

// Worker message when the tool could not be started, ended with a non-zero
// status or by a signal, or ran past its time limit.
inline constexpr char device_msg_tool_failed[] = "The avrdude executable exited with error";

// How long the tool may run before it is ended and the update fails. Ample
// for an 8 KB image at 57,600 baud; a tool whose port went silent or
// vanished mid-write would otherwise never give the window back.
inline constexpr int device_update_tool_limit_default_ms = 120000;

// The "activate" handler of menuitem_update. UI thread.
void device_update_activate(GtkMenuItem *item, gpointer user_data);

// For tests: replaces the tool's time limit (milliseconds) for updates that
// start afterwards.
void device_update_set_tool_limit_ms(int limit_ms);
