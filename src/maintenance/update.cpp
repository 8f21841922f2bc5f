#include "maintenance/update.h"

#include "config/config.h"
#include "maintenance/device_operation.h"
#include "maintenance/firmware.h"
#include "maintenance/tool_run.h"
#include "ui/feedback.h"
#include "ui/glib_ptr.h"
#include "ui/i18n.h"

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

bool prepare()
{
    if (!config_bootloader_port_ready())
        return false;
    if (!tool_components_present()) {
        status_show(_(" Error: Some update components are missing"));
        return false;
    }
    if (!device_firmware_write()) {
        status_show(_(" Error: Could not copy firmware"));
        return false;
    }
    return true;
}

void release()
{
    device_firmware_delete();
}

const char *run_tool()
{
    g_usleep(bootloader_wait_us);
    GCharPtr command(g_strdup_printf(tool_command, tool_in_working_dir() ? tool_local : tool_name,
                                     bootloader_port));
    return device_tool_run(command.get(), tool_limit_ms.load()) ? nullptr : device_msg_tool_failed;
}

constexpr DeviceOperation update_operation{
    "update",
    N_(" Firmware update requested"),
    N_("Updating device firmware\n"),
    N_(" Firmware update failed: %s"),
    N_(" Firmware update succeeded"),
    prepare,
    release,
    run_tool,
};

} // namespace

void device_update_set_tool_limit_ms(int limit_ms)
{
    tool_limit_ms.store(limit_ms);
}

void device_update_activate(GtkMenuItem *, gpointer)
{
    device_operation_start(update_operation);
}
