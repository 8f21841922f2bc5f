#include "maintenance/reset.h"

#include "config/config.h"
#include "device/serial.h"
#include "player/playback.h"
#include "ui/feedback.h"
#include "ui/glib_ptr.h"
#include "ui/i18n.h"

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
    log_append(_("================================\n"));
    log_append(_("Resetting device\n"));

    GError *error = nullptr;
    GThread *thread = g_thread_try_new("reset", device_reset_worker, nullptr, &error);
    if (thread == nullptr) {
        GErrorPtr owned(error);
        GCharPtr text(g_strdup_printf(_(" %s"), owned->message));
        status_show(text.get());
        serial_close();
        return;
    }
    // A later Play starts afresh: the device is no longer where a pause
    // left it.
    g_mutex_lock(&resume_lock);
    resume_pending = 0;
    g_mutex_unlock(&resume_lock);
    set_controls_state(0);
    g_thread_unref(thread);
}

gpointer device_reset_worker(gpointer)
{
    const char *message = device_reset_steps();
    gdk_threads_add_idle(device_reset_done, const_cast<char *>(message));
    return nullptr;
}

gboolean device_reset_done(gpointer message)
{
    if (message != nullptr) {
        GCharPtr text(
            g_strdup_printf(_(" Device reset failed: %s"), static_cast<const char *>(message)));
        status_show(text.get());
        log_append(_("Failed\n"));
    } else {
        status_show(_(" Device reset succeeded"));
        log_append(_("Completed\n"));
    }
    set_controls_state(1);
    serial_close();
    return FALSE;
}
