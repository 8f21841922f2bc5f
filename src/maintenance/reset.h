// Firmware, Reset into bootloader.
#pragma once

#include <gtk/gtk.h>

void device_reset_activate(GtkMenuItem *item, gpointer user_data);
