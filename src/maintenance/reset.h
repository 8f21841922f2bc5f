// Firmware, Reset into bootloader: tells the device over its console port
// to jump to its bootloader, on a short-lived "reset" worker thread (see
// operation.h).
#pragma once

#include <gtk/gtk.h>

// The "activate" handler of menuitem_reset_into_bootloader. UI thread.
void maintenance_reset_activate(GtkMenuItem *item, gpointer user_data);
