// Firmware, Update firmware.
#pragma once

#include <gtk/gtk.h>

void device_update_activate(GtkMenuItem *item, gpointer user_data);
