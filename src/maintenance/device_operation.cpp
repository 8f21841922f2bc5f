#include "maintenance/device_operation.h"

#include "config/config.h"
#include "device/outcomes.h"
#include "device/serial.h"
#include "player/player_state.h"
#include "ui/feedback.h"
#include "base/glib_ptr.h"
#include "base/i18n.h"
#include "ui/worker.h"

#include <gdk/gdk.h>

namespace
{
// The console command that makes the device jump to its bootloader.
constexpr char reset_command[] = "b\r";
constexpr char msg_no_reset[] = N_("Unable to initiate reset on device");
// How long the device may take to leave its console after the command.
constexpr gint64 leave_wait_us = 1000000;

// The operation whose worker runs; set on the UI thread before the thread
// starts, read by the worker and the completion.
const DeviceOperation *current = nullptr;
// Whether its worker runs (until the completion). UI thread.
bool running = false;
// Set by the worker when without_reset() did not find the device either;
// logged and freed by the completion.
gchar *not_there = nullptr;

// Stops at the first failure and returns its worker message. The port is
// left open in every case: the completion closes it.
const char *reset_steps()
{
    if (!serial_open(device_port))
        return device_msg_no_port;
    if (!serial_wait_prompt())
        return device_msg_no_sync;
    if (!serial_write_all(reset_command, sizeof reset_command - 1))
        return msg_no_reset;
    // Closing the port discards what the device has not read yet, the
    // command too; once the device has jumped, its port hangs up.
    char ignored[64];
    for (const gint64 deadline = g_get_monotonic_time() + leave_wait_us;
         g_get_monotonic_time() < deadline;)
        if (serial_read(ignored, sizeof ignored) < 0)
            break;
    return nullptr;
}

void show_outcome(const DeviceOperation &operation, const char *message)
{
    if (message != nullptr) {
        GCharPtr text(g_strdup_printf(_(operation.failed_template), _(message)));
        status_show(text.get());
        log_append(_("Failed\n"));
    } else {
        status_show(_(operation.succeeded));
        log_append(_("Completed\n"));
    }
}

gboolean operation_done(gpointer data)
{
    const auto *message = static_cast<const char *>(data);
    if (message == device_msg_no_port) {
        GCharPtr why(port_failure_text(device_port, serial_open_error()));
        log_append(why.get());
    }
    if (not_there != nullptr) {
        log_append(not_there);
        g_free(not_there);
        not_there = nullptr;
    }
    running = false;
    show_outcome(*current, message);
    if (current->release != nullptr)
        current->release();
    set_controls_state(1);
    serial_close();
    ui_worker_done();
    return FALSE;
}

gpointer operation_worker(gpointer data)
{
    const auto *operation = static_cast<const DeviceOperation *>(data);
    const char *message = reset_steps();
    if (message == nullptr && operation->after_reset != nullptr)
        message = operation->after_reset();
    else if ((message == device_msg_no_port || message == device_msg_no_sync) &&
             operation->without_reset != nullptr)
        message = operation->without_reset(message, &not_there);
    gdk_threads_add_idle(operation_done, const_cast<char *>(message));
    return nullptr;
}
} // namespace

bool device_operation_start(const DeviceOperation &operation)
{
    if (ui_worker_active() || !config_device_port_ready())
        return false;
    if (operation.prepare != nullptr && !operation.prepare())
        return false;
    status_show(_(operation.requested));
    log_operation(_(operation.heading));
    current = &operation;
    if (!ui_start_worker(operation.thread_name, operation_worker,
                         const_cast<DeviceOperation *>(&operation))) {
        if (operation.release != nullptr)
            operation.release();
        serial_close();
        return false;
    }
    running = true;
    player_set_resume_pending(false);
    set_controls_state(0);
    return true;
}

void device_operation_quit()
{
    if (running && current->quit != nullptr)
        current->quit();
}
