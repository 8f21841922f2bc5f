// The configuration file "user.ini" with the two port names, in the folder
// "ravelo-client" under the user's configuration folder (~/.config or
// $XDG_CONFIG_HOME). Silent: every failure falls back to the defaults or to
// the current directory and is never reported. UI thread only.
#pragma once

#include <gtk/gtk.h>

// The two port names, always strings (possibly empty) once config_init()
// has run. UI thread: a worker gets copies in its job when it starts. The
// strings stay valid until the next config_set_ports() or config_load().
const gchar *config_device_port();
const gchar *config_bootloader_port();
// Replaces the port names (nullptr keeps one), as the connection settings
// window does; nothing is saved.
void config_set_ports(const gchar *device, const gchar *bootloader);
// Whether program images play as the fast tape (our loader) rather than the
// ROM loader's. On unless the file says "fast_load=false" in [playback].
bool config_fast_load();
// Full path of "user.ini", set by config_init().
const gchar *config_file_path();

// Used when the file gives no value: a USB CDC device appears as ttyACM*.
inline constexpr const char *config_default_device_port = "/dev/ttyACM0";
inline constexpr const char *config_default_bootloader_port = "/dev/ttyACM1";

// Locates the file (creating its folder with mode 0700 when missing, else
// falling back to the current directory) and loads it.
void config_init();

// Reads both ports from config_file_path(). A missing file is created with the
// defaults; a file that exists is never rewritten here, also when it could
// not be parsed or lacks a key (that port then gets its default).
void config_load();

// Whether the device (bootloader) port names anything. When it does not,
// shows " Error: Invalid device port" (" Error: Invalid bootloader port") on
// the status bar and returns false. UI thread.
bool config_device_port_ready();
bool config_bootloader_port_ready();

// Writes the whole file anew (five lines: a comment, an empty line,
// "[connection]", "device_port=...", "bootloader_port=..."; with fast load
// off, an empty line, "[playback]" and "fast_load=false" follow). The values are
// escaped as key files escape them (a leading blank, a line break, a
// backslash), so config_load() gives back any UTF-8 name exactly; ordinary
// names stand as they are. Returns 1 when written, 0 when the write failed;
// callers may ignore it.
int config_save();

// The "toggled" handler of "Configuration, Fast load for programs": stores
// the choice, saves the file and has an attached image made into a tape
// anew (document_set_fast_load()). A toggle to what is stored already (the
// window showing the setting at start) changes nothing. UI thread.
void config_on_fast_load_toggled(GtkCheckMenuItem *item, gpointer user_data);
