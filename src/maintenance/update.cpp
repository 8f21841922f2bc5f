#include "maintenance/update.h"

#include "config/config.h"
#include "device/serial.h"
#include "maintenance/firmware.h"
#include "maintenance/reset.h"
#include "maintenance/tool_run.h"
#include "player/playback.h"
#include "ui/feedback.h"
#include "ui/glib_ptr.h"
#include "ui/i18n.h"
#include "ui/worker.h"

#include <atomic>

namespace
{

std::atomic<int> tool_limit_ms{device_update_tool_limit_default_ms};

// The time the bootloader's port needs to come up after the jump.
constexpr gulong bootloader_wait_us = 2000000;

constexpr char tool_config[] = "avrdude.conf";
constexpr char tool_name[] = "avrdude";
constexpr char tool_local[] = "./avrdude";
// The program word, then the fixed options with the bootloader port.
constexpr char tool_command[] =
    "%s -Cavrdude.conf -v -pravelo -cavr109 -P%s -b57600 -D -Uflash:w:ravelo32u4.hex:i";

bool tool_in_working_dir()
{
    return g_file_test(tool_name, G_FILE_TEST_IS_REGULAR) &&
           g_file_test(tool_name, G_FILE_TEST_IS_EXECUTABLE);
}

bool tool_components_present()
{
    if (!g_file_test(tool_config, G_FILE_TEST_EXISTS))
        return false;
    if (tool_in_working_dir())
        return true;
    GCharPtr found(g_find_program_in_path(tool_name));
    return found != nullptr;
}

bool is_empty(const gchar *text)
{
    return text == nullptr || text[0] == '\0';
}

} // namespace

void device_update_set_tool_limit_ms(int limit_ms)
{
    tool_limit_ms.store(limit_ms);
}

void device_update_activate(GtkMenuItem *, gpointer)
{
    if (is_empty(device_port)) {
        status_show(_(" Error: Invalid device port"));
        return;
    }
    if (is_empty(bootloader_port)) {
        status_show(_(" Error: Invalid bootloader port"));
        return;
    }
    if (!tool_components_present()) {
        status_show(_(" Error: Some update components are missing"));
        return;
    }
    if (!device_firmware_write()) {
        status_show(_(" Error: Could not copy firmware"));
        return;
    }
    status_show(_(" Firmware update requested"));
    log_operation(_("Updating device firmware\n"));
    if (!ui_start_worker("update", device_update_worker)) {
        device_firmware_delete();
        return;
    }
    device_cancel_resume();
    set_controls_state(0);
}

gpointer device_update_worker(gpointer)
{
    const char *message = device_reset_steps();
    if (message == nullptr) {
        g_usleep(bootloader_wait_us);
        GCharPtr command(g_strdup_printf(
            tool_command, tool_in_working_dir() ? tool_local : tool_name, bootloader_port));
        if (!device_tool_run(command.get(), tool_limit_ms.load()))
            message = device_msg_tool_failed;
    }
    gdk_threads_add_idle(device_update_done, const_cast<char *>(message));
    return nullptr;
}

gboolean device_update_done(gpointer message)
{
    device_show_outcome(static_cast<const char *>(message), _(" Firmware update failed: %s"),
                        _(" Firmware update succeeded"));
    device_firmware_delete();
    set_controls_state(1);
    serial_close();
    return FALSE;
}
