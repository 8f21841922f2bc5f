#include "maintenance/operation.h"

#include "base/glib_ptr.h"
#include "base/i18n.h"
#include "config/config.h"
#include "device/messages.h"
#include "device/port_list.h"
#include "device/serial.h"
#include "player/player_state.h"
#include "ui/feedback.h"
#include "ui/registry.h"
#include "ui/worker.h"

#include <gdk/gdk.h>

#include <algorithm>
#include <vector>

#include <unistd.h>

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

// How often a port that has appeared is tried until it may be opened (udev
// may still be setting its owner and mode).
constexpr gulong open_retry_us = 50000;

void port_free(gpointer port)
{
    delete static_cast<PortInfo *>(port);
}

// The UI thread's watch hands each plugged port to the worker.
void on_plug(const PortInfo &port, bool plugged, gpointer queue)
{
    if (plugged)
        g_async_queue_push(static_cast<GAsyncQueue *>(queue), new PortInfo(port));
}

void watch_plugging(MaintenanceJob &job)
{
    job.plugged = g_async_queue_new_full(port_free);
    if (port_list_watch(on_plug, job.plugged))
        return;
    g_async_queue_unref(job.plugged);
    job.plugged = nullptr;
}

void unwatch_plugging(MaintenanceJob &job)
{
    if (job.plugged == nullptr)
        return;
    port_list_unwatch(on_plug, job.plugged);
    g_async_queue_unref(job.plugged);
}

gboolean log_owned(gpointer text)
{
    log_append(static_cast<const gchar *>(text));
    g_free(text);
    return FALSE;
}

// Asks whether `found` is to be the bootloader port from now on.
void offer_bootloader(const std::string &found)
{
    GtkWidget *dialog = gtk_message_dialog_new(
        GTK_WINDOW(ui_window_main()),
        GtkDialogFlags(GTK_DIALOG_MODAL | GTK_DIALOG_DESTROY_WITH_PARENT), GTK_MESSAGE_QUESTION,
        GTK_BUTTONS_NONE, _("Remember %s as the bootloader port?"), found.c_str());
    gtk_dialog_add_buttons(GTK_DIALOG(dialog), _("Keep the setting"), GTK_RESPONSE_REJECT,
                           _("Remember"), GTK_RESPONSE_ACCEPT, nullptr);
    gtk_dialog_set_default_response(GTK_DIALOG(dialog), GTK_RESPONSE_ACCEPT);
    const gint answer = gtk_dialog_run(GTK_DIALOG(dialog));
    gtk_widget_destroy(dialog);
    if (answer != GTK_RESPONSE_ACCEPT)
        return;
    config_set_ports(nullptr, found.c_str());
    config_save();
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
    unwatch_plugging(*job);
    const std::string found = job->message == nullptr ? job->bootloader_found : "";
    delete job;
    set_controls_state(1);
    serial_close();
    ui_worker_done();
    if (!found.empty())
        offer_bootloader(found);
    return FALSE;
}

gpointer operation_worker(gpointer data)
{
    auto *job = static_cast<MaintenanceJob *>(data);
    const MaintenanceOperation &operation = *job->operation;
    const char *message = reset_steps(*job);
    // An update needs the bootloader; a reset looks for it only to offer
    // the port it appeared at, which takes udev's events.
    if (message == nullptr && (operation.after_reset != nullptr || job->plugged != nullptr))
        maintenance_bootloader_wait(*job);
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
    watch_plugging(*job);
    if (!ui_start_worker(operation.thread_name, operation_worker, job)) {
        if (operation.release != nullptr)
            operation.release(*job);
        unwatch_plugging(*job);
        delete job;
        serial_close();
        return false;
    }
    running = job;
    player_set_resume_pending(false);
    set_controls_state(0);
    return true;
}

void maintenance_bootloader_wait(MaintenanceJob &job)
{
    const gint64 deadline = g_get_monotonic_time() + maintenance_bootloader_wait_us;
    std::vector<PortInfo> others;
    const char *configured = job.bootloader_port.c_str();
    while (job.plugged != nullptr) {
        const gint64 left = deadline - g_get_monotonic_time();
        auto *port = left > 0
                         ? static_cast<PortInfo *>(g_async_queue_timeout_pop(job.plugged, left))
                         : nullptr;
        if (port == nullptr)
            break;
        const PortInfo seen = *port;
        delete port;
        if (!port_list_names(seen, configured)) {
            // A port is told again when it changes.
            if (std::none_of(others.begin(), others.end(),
                             [&](const PortInfo &other) { return other.node == seen.node; }))
                others.push_back(seen);
            continue;
        }
        while (access(seen.node.c_str(), R_OK | W_OK) != 0 && g_get_monotonic_time() < deadline)
            g_usleep(open_retry_us);
        return;
    }
    const gint64 left = deadline - g_get_monotonic_time();
    if (left > 0)
        g_usleep(left);
    if (others.size() != 1)
        return;
    job.bootloader_found = port_list_path(others.front());
    gdk_threads_add_idle(
        log_owned, g_strdup_printf(_("The bootloader appeared at %s, not at the configured %s\n"),
                                   job.bootloader_found.c_str(), configured));
    job.bootloader_port = job.bootloader_found;
}

void maintenance_quit()
{
    if (running != nullptr && running->operation->quit != nullptr)
        running->operation->quit(*running);
}
