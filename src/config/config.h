// The configuration file "user.ini" with the two port names. Silent: every
// failure falls back to defaults or to the current directory.
#pragma once

#include <glib.h>

extern gchar *device_port;
extern gchar *bootloader_port;
extern gchar *config_file_path;

void config_init();
void config_load();
int config_save();
