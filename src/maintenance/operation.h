// The runner of device operations (reset into bootloader, firmware update):
// the start checks, the worker thread, the outcome display and the port
// close that both share. Each operation supplies only what is its own.
//
// A worker gets a MaintenanceJob with everything it reads, the port names
// copied in when it starts, and hands it back to the completion: it reads
// nothing that the UI thread may change meanwhile.
#pragma once

#include <glib.h>

#include <string>

struct MaintenanceOperation;

// What one run of an operation needs and gives back. Made on the UI thread
// when the operation starts; the worker owns it until its completion runs.
struct MaintenanceJob {
    const MaintenanceOperation *operation = nullptr;
    // The settings, as they were at the start.
    std::string device_port;
    std::string bootloader_port;
    // The update's own: its private folder, the tool by its full path and
    // how long the tool may run (milliseconds). Set by prepare().
    std::string tool_dir;
    std::string tool_program;
    int tool_limit_ms = 0;
    // The USB serial ports plugged in since the start, as PortInfo copies
    // (device/port_list.h) that the UI thread's watch pushes and the worker
    // takes; null where udev cannot be watched.
    GAsyncQueue *plugged = nullptr;
    // Out: the worker message (nullptr for success), a log line that says
    // why the device was not found in its bootloader either, and the port
    // the bootloader appeared at when that was not the configured one.
    const char *message = nullptr;
    std::string not_there;
    std::string bootloader_found;
};

// What one operation is. Texts are untranslated message ids, looked up when
// shown.
struct MaintenanceOperation {
    // The worker thread's name.
    const char *thread_name;
    // Status text when it starts, and the log line after the separator.
    const char *requested;
    const char *heading;
    // Status template for a worker message (one %s), and the success text.
    const char *failed_template;
    const char *succeeded;
    // UI thread, after the device port was found set: the operation's own
    // checks and preparations, into the job. False refuses the request; it
    // has shown why. May be null.
    bool (*prepare)(MaintenanceJob &job);
    // UI thread: undoes what prepare() made, when the thread cannot start
    // and when the operation has ended. May be null.
    void (*release)(MaintenanceJob &job);
    // Worker thread, once the device got "b\r": the operation's own work.
    // Returns its worker message, nullptr for success. May be null.
    const char *(*after_reset)(MaintenanceJob &job);
    // Worker thread, when the device port cannot be opened or gives no
    // prompt (`reset_failure`, a worker message): the operation's own work
    // for a device that already sits where the reset would send it. Returns
    // its worker message, nullptr for success; or, when the device is not
    // there either, `reset_failure` with job.not_there set to a log line that
    // says so. May be null: the failure stands.
    const char *(*without_reset)(MaintenanceJob &job, const char *reset_failure);
    // UI thread, when the program quits while the worker runs: ends what
    // the operation started outside the process and removes its files,
    // changing nothing the worker reads. May be null.
    void (*quit)(const MaintenanceJob &job);
};

// Starts `operation`, which must outlive it. Does nothing (false) while any
// worker runs. Refuses with " Error: Invalid device port" when no device
// port is set, then with whatever prepare() says. Otherwise shows
// `requested`, logs the separator and `heading`, starts the worker, cancels a
// paused playback's resume (the device is no longer where the pause left it)
// and turns the controls busy; then true. UI thread.
//
// The worker opens the device port, waits for the console prompt, sends
// "b\r", waits up to a second for the port to hang up (the device has left
// its console: nothing it has not read is lost with the close), waits for
// the bootloader's port (maintenance_bootloader_wait(); an operation with
// no after_reset() only while udev's events are watched), then runs
// after_reset(); when the port cannot be opened or gives no prompt, it runs
// without_reset() instead. The completion shows the outcome (status, and
// "Completed" or "Failed" in the log, after the lines that say why when the
// device port could not be opened or the device was not where
// without_reset() looked), calls release(), restores the idle controls and
// closes the port. After a success whose bootloader appeared at another
// port than the configured one, it asks "Remember PATH as the bootloader
// port?": "Remember" stores and saves that port, "Keep the setting" (and
// closing the question) changes nothing.
bool maintenance_start(const MaintenanceOperation &operation);

// How long the bootloader's port may take to come up after the jump.
inline constexpr gint64 maintenance_bootloader_wait_us = 2000000;

// Worker thread, once the device has left its console: waits for its
// bootloader's port and sets job.bootloader_port to the port to use. The
// configured port, as soon as it appears and may be opened (read and
// written); else, when it did not appear within
// maintenance_bootloader_wait_us but exactly one other USB serial port did,
// that port (job.bootloader_found), and the log says "The bootloader
// appeared at PATH, not at the configured PATH"; else the configured port,
// once the wait is over (so without udev's events: after the whole wait).
void maintenance_bootloader_wait(MaintenanceJob &job);

// The program is quitting or ending otherwise (a signal, the display lost):
// lets a running operation end what would outlive the process (its quit()).
// Nothing is shown; no completion will run. UI thread.
void maintenance_quit();
