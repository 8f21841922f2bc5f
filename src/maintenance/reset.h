// Firmware, Reset into bootloader: tells the device over its console port
// to jump to its bootloader and waits for the bootloader's port, on a
// short-lived "reset" worker thread (see operation.h: when the bootloader
// appears at another port than the configured one, the log says so and the
// user is asked whether to remember it).
#pragma once

#include <gtk/gtk.h>

// The "activate" handler of menuitem_reset_into_bootloader. UI thread.
void maintenance_reset_activate(GtkMenuItem *item, gpointer user_data);
