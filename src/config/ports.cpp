#include "config/ports.h"

#include "base/glib_ptr.h"
#include "base/i18n.h"
#include "config/config.h"
#include "device/port_list.h"
#include "ui/feedback.h"
#include "ui/worker.h"

namespace
{

void on_plug(const PortInfo &port, bool plugged, gpointer)
{
    if (ui_worker_active() || !port_list_names(port, config_device_port()))
        return;
    if (!plugged) {
        status_show(_(" Device unplugged"));
        return;
    }
    const GCharPtr text(
        g_strdup_printf(_(" Device connected: %s"), port_list_product(port).c_str()));
    status_show(text.get());
}

// What is unknown shows as "?".
const char *or_unknown(const std::string &text)
{
    return text.empty() ? "?" : text.c_str();
}

} // namespace

void ports_watch_start()
{
    if (!port_list_watch(on_plug, nullptr))
        log_append(_("Plugging and unplugging are not noticed: udev's events cannot be "
                     "received\n"));
}

void ports_print_list(FILE *out)
{
    const std::vector<PortInfo> ports = port_list_find();
    if (ports.empty())
        std::fprintf(out, "%s\n", _("No USB serial port found"));
    for (const PortInfo &port : ports) {
        const GCharPtr line(g_strdup_printf(
            _("%s (node %s): %s, USB %s:%s, interface %s"), port_list_path(port).c_str(),
            port.node.c_str(), port_list_what(port).c_str(), or_unknown(port.vendor_id),
            or_unknown(port.product_id), or_unknown(port.interface)));
        std::fprintf(out, "%s", line.get());
        if (port_list_names(port, config_device_port()))
            std::fprintf(out, " %s", _("[device port]"));
        if (port_list_names(port, config_bootloader_port()))
            std::fprintf(out, " %s", _("[bootloader port]"));
        std::fprintf(out, "\n");
    }
}
