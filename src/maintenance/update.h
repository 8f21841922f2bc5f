// Firmware, Update firmware and Update firmware from file: sends the device
// into its bootloader as a reset does, waits for its bootloader's port
// (maintenance_bootloader_wait(): the configured one as soon as it is up, a
// single new USB serial port in its place, else the configured one after two
// seconds) and runs avrdude on that port,
// on an "update" worker thread (see operation.h). A device whose console port cannot be
// opened or gives no prompt, but whose bootloader port is there (reset earlier, or left without an
// application by a failed flash), is flashed at once, without the reset, and the log says so; when
// neither port is there, the log says why for both.
//
// The tool runs in a private temporary folder "ravelo-update-XXXXXX" that
// holds the image (the embedded one or the chosen file, byte for byte) as
// "ravelo32u4.hex" and an "avrdude.conf": a copy
// of the working folder's own when it has one, otherwise the system's avrdude
// configuration followed by the definition of the part "ravelo" (the
// device's ATmega32U4). Nothing is written to the working folder; the
// private folder is removed when the update has ended, whatever the outcome,
// or when the program quits (see maintenance_quit()). While the update
// runs the client holds an exclusive flock() on the folder; while the tool
// runs its output goes to the log, line by line, and its progress bars
// (writing, then reading back to verify) to the status bar as
// " Firmware update: writing 45 %".
//
// Before anything starts, the request needs a device port, a bootloader
// port (" Error: Invalid bootloader port"), an executable "avrdude" in an
// absolute folder of PATH, run by that full path (empty, "." and other
// relative entries are skipped: a program in the working folder never runs),
// and a configuration, the working folder's or the system's. Without either
// the status says " Error: Some update components are missing" and the log
// names what is missing and that the avrdude package provides it.
// " Error: Could not copy firmware" when the private folder cannot be made
// and locked, or the image or the configuration cannot be written.
#pragma once

#include <gtk/gtk.h>

// How long the tool may run before it is ended and the update fails. Ample
// for an 8 KB image at 57,600 baud; a tool whose port went silent or
// vanished mid-write would otherwise never give the window back.
inline constexpr int maintenance_update_tool_limit_default_ms = 120000;

// Where the system's avrdude configuration is when the installed avrdude
// does not say (Debian's place).
inline constexpr char maintenance_update_system_config[] = "/etc/avrdude.conf";

// The "activate" handler of menuitem_update: flashes the image the build
// carries; does nothing in a build that carries none. UI thread.
void maintenance_update_activate(GtkMenuItem *item, gpointer user_data);

// The "activate" handler of menuitem_update_from_file: the user chooses a
// file (the chooser starts where it was left in this session, else in the
// home folder), then maintenance_update_flash_file(). UI thread.
void maintenance_update_from_file_activate(GtkMenuItem *item, gpointer user_data);

// Flashes the file at `path`. A file that is not a firmware image
// (maintenance_firmware_read()) shows " Error: Not a firmware image", with the
// log line that says why, and touches nothing. An image is logged with its
// range, size and SHA-256 after the request's heading and flashed as the
// embedded one would be, also to a device already in its bootloader. UI
// thread.
void maintenance_update_flash_file(const char *path);

// Start-up, once the main window is built: in a build that carries no
// image, Update firmware is never sensitive and its tooltip points to
// Update firmware from file. UI thread.
void maintenance_update_setup();

// For tests: replaces the tool's time limit (milliseconds) for updates that
// start afterwards.
void maintenance_update_set_tool_limit_ms(int limit_ms);
