// Firmware, Reset into bootloader: tells the device over its console port
// to jump to its bootloader. The port is opened and the command sent by a
// short-lived "reset" worker thread; its completion runs on the UI thread.
#pragma once

#include <gtk/gtk.h>

// Worker messages: constant, untranslated texts handed from a worker to its
// completion callback (nullptr means success); never freed.
inline constexpr char device_msg_no_port[] = "Unable to access communication port to device";
inline constexpr char device_msg_no_sync[] = "Unable to sync with device";
inline constexpr char device_msg_no_reset[] = "Unable to initiate reset on device";

// The "activate" handler of menuitem_reset_into_bootloader. UI thread.
// Refuses with " Error: Invalid device port" when no device port is set;
// otherwise starts the worker and turns the controls busy.
void device_reset_activate(GtkMenuItem *item, gpointer user_data);

// The "reset" worker: runs device_reset_steps() and schedules
// device_reset_done() with its message. Never touches a widget and never
// closes the port. Returns nullptr.
gpointer device_reset_worker(gpointer unused);

// One-shot idle callback: shows the outcome, restores the idle controls and
// closes the port. Returns FALSE. UI thread.
gboolean device_reset_done(gpointer message);

// Shared with the firmware update, UI thread. A device operation that
// starts makes a later Play start afresh: the device is no longer where a
// pause left it.
void device_cancel_resume();
// Shows a worker's outcome: `failed_template` (translated, one %s) filled
// with the message and "Failed\n" in the log, or `succeeded` and
// "Completed\n" when there is no message.
void device_show_outcome(const char *message, const char *failed_template, const char *succeeded);

// The device steps shared with the firmware update, on a worker thread:
// open device_port, wait for the console prompt, send "b\r". Stops at the
// first failure and returns its worker message, or nullptr when the command
// was written. The port is left open in every case (the completion closes
// it).
const char *device_reset_steps();
