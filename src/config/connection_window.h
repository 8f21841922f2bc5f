// The connection settings window: a small modal window, transient for the
// main window and centred on it, that edits the two port names of config.h
// in entries 50 characters wide (the window can be made wider), each with a
// drop-down of the USB serial ports found (device/port_list.h) as
// "PRODUCT (MAKER, serial SERIAL) – PATH": choosing one puts its by-id link
// (else its node) into the entry; with none found, the one row "No USB
// serial port found" cannot be chosen. The list is made anew when the window
// shows and whenever a port is plugged in or unplugged. Built once,
// hidden, at start-up (after the main window); never destroyed. UI thread
// only.
#pragma once

#include <gtk/gtk.h>

// Builds the window with its widgets registered by name ("window_connection_
// settings", "entry_connection_settings_device_port", its drop-down
// "comboboxentry_connection_settings_device_port", ...) and the focus on
// the device port entry. Returned hidden; start-up stores it in
// ui_window_connection_settings().
GtkWidget *config_window_create();

// Menu handler: fills both entries from the stored ports (edits abandoned
// earlier never reappear, nor does a refusal), puts the focus in the device
// port entry and shows the window.
void config_window_show(GtkMenuItem *item, gpointer user_data);

// OK: stores both entries' texts as typed (no trimming, empty allowed), hides
// the window and saves the file. A name with a control character (below
// 0x20, or 0x7F: a line break, a tab) is refused: the window stays open with
// "A port name cannot contain a line break, a tab or another control
// character" under the entries ("label_connection_settings_error"), and
// nothing is stored or written. Enter in either entry is OK. Cancel
// ("button_connection_settings_cancel"), Esc and closing the window only
// hide it.
void config_window_ok_clicked(GtkButton *button, gpointer user_data);
