#include "maintenance/reset.h"

#include "config/config.h"
#include "device/serial.h"
#include "player/playback.h"
#include "ui/feedback.h"
#include "ui/glib_ptr.h"
#include "ui/i18n.h"
#include "ui/worker.h"

namespace
{
// The console command that makes the device jump to its bootloader.
constexpr char reset_command[] = "b\r";
} // namespace

const char *device_reset_steps()
{
    if (!serial_open(device_port))
        return device_msg_no_port;
    if (!serial_wait_prompt())
        return device_msg_no_sync;
    if (!serial_write_all(reset_command, sizeof reset_command - 1))
        return device_msg_no_reset;
    return nullptr;
}

void device_reset_activate(GtkMenuItem *, gpointer)
{
    if (device_port == nullptr || device_port[0] == '\0') {
        status_show(_(" Error: Invalid device port"));
        return;
    }
    status_show(_(" Device reset requested"));
    log_operation(_("Resetting device\n"));
    if (!ui_start_worker("reset", device_reset_worker)) {
        serial_close();
        return;
    }
    device_cancel_resume();
    set_controls_state(0);
}

gpointer device_reset_worker(gpointer)
{
    const char *message = device_reset_steps();
    gdk_threads_add_idle(device_reset_done, const_cast<char *>(message));
    return nullptr;
}

void device_cancel_resume()
{
    g_mutex_lock(&resume_lock);
    resume_pending = 0;
    g_mutex_unlock(&resume_lock);
}

void device_show_outcome(const char *message, const char *failed_template, const char *succeeded)
{
    if (message != nullptr) {
        GCharPtr text(g_strdup_printf(failed_template, message));
        status_show(text.get());
        log_append(_("Failed\n"));
    } else {
        status_show(succeeded);
        log_append(_("Completed\n"));
    }
}

gboolean device_reset_done(gpointer message)
{
    device_show_outcome(static_cast<const char *>(message), _(" Device reset failed: %s"),
                        _(" Device reset succeeded"));
    set_controls_state(1);
    serial_close();
    return FALSE;
}
