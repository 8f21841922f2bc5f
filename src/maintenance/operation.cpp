#include "maintenance/operation.h"

#include "base/glib_ptr.h"
#include "base/i18n.h"
#include "config/config.h"
#include "device/messages.h"
#include "device/serial.h"
#include "player/player_state.h"
#include "ui/feedback.h"
#include "ui/worker.h"

#include <gdk/gdk.h>

namespace
{
// The console command that makes the device jump to its bootloader.
constexpr char reset_command[] = "b\r";
// How long the device may take to leave its console after the command.
constexpr gint64 leave_wait_us = 1000000;

// The job whose worker runs, for quitting; UI thread.
const MaintenanceJob *running = nullptr;

// Stops at the first failure and returns its worker message. The port is
// left open in every case: the completion closes it.
const char *reset_steps(const MaintenanceJob &job)
{
    if (!serial_open(job.device_port.c_str()))
        return device_msg_no_port;
    if (!serial_wait_prompt())
        return device_msg_no_sync;
    if (!serial_write_all(reset_command, sizeof reset_command - 1))
        return device_msg_no_reset;
    // Closing the port discards what the device has not read yet, the
    // command too; once the device has jumped, its port hangs up.
    char ignored[64];
    for (const gint64 deadline = g_get_monotonic_time() + leave_wait_us;
         g_get_monotonic_time() < deadline;)
        if (serial_read(ignored, sizeof ignored) < 0)
            break;
    return nullptr;
}

void show_outcome(const MaintenanceOperation &operation, const char *message)
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
    auto *job = static_cast<MaintenanceJob *>(data);
    if (job->message == device_msg_no_port) {
        GCharPtr why(port_failure_text(job->device_port.c_str(), serial_open_error()));
        log_append(why.get());
    }
    if (!job->not_there.empty())
        log_append(job->not_there.c_str());
    running = nullptr;
    show_outcome(*job->operation, job->message);
    if (job->operation->release != nullptr)
        job->operation->release(*job);
    delete job;
    set_controls_state(1);
    serial_close();
    ui_worker_done();
    return FALSE;
}

gpointer operation_worker(gpointer data)
{
    auto *job = static_cast<MaintenanceJob *>(data);
    const MaintenanceOperation &operation = *job->operation;
    const char *message = reset_steps(*job);
    if (message == nullptr && operation.after_reset != nullptr)
        message = operation.after_reset(*job);
    else if ((message == device_msg_no_port || message == device_msg_no_sync) &&
             operation.without_reset != nullptr)
        message = operation.without_reset(*job, message);
    job->message = message;
    gdk_threads_add_idle(operation_done, job);
    return nullptr;
}
} // namespace

bool maintenance_start(const MaintenanceOperation &operation)
{
    if (ui_worker_active() || !config_device_port_ready())
        return false;
    auto *job = new MaintenanceJob;
    job->operation = &operation;
    job->device_port = config_device_port();
    job->bootloader_port = config_bootloader_port();
    if (operation.prepare != nullptr && !operation.prepare(*job)) {
        delete job;
        return false;
    }
    ui_log_operation(_(operation.heading));
    status_show(_(operation.requested));
    if (!ui_start_worker(operation.thread_name, operation_worker, job)) {
        if (operation.release != nullptr)
            operation.release(*job);
        delete job;
        serial_close();
        return false;
    }
    running = job;
    player_set_resume_pending(false);
    set_controls_state(0);
    return true;
}

void maintenance_quit()
{
    if (running != nullptr && running->operation->quit != nullptr)
        running->operation->quit(*running);
}
