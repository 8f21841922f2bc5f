#include "device/port_list.h"

#include "base/glib_ptr.h"
#include "base/i18n.h"

#include <gudev/gudev.h>

#include <algorithm>
#include <map>
#include <utility>

#include <linux/netlink.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

namespace
{

constexpr char by_id_folder[] = "/dev/serial/by-id/";
// More than a real by-id name ever needs; a longer one is not used.
constexpr gsize path_max = 1024;

struct ObjectDeleter {
    void operator()(gpointer object) const { g_object_unref(object); }
};
using ClientPtr = std::unique_ptr<GUdevClient, ObjectDeleter>;
using DevicePtr = std::unique_ptr<GUdevDevice, ObjectDeleter>;

// A path that may be shown and stored as it is: valid UTF-8, no control
// character, of a sane length.
bool plain_path(const char *path)
{
    if (path == nullptr || path[0] != '/' || strlen(path) > path_max ||
        !g_utf8_validate(path, -1, nullptr))
        return false;
    return std::none_of(path, path + strlen(path),
                        [](char c) { return static_cast<unsigned char>(c) < 0x20 || c == 0x7F; });
}

std::string by_id_link(GUdevDevice *tty)
{
    const gchar *const *links = g_udev_device_get_device_file_symlinks(tty);
    GStrv split = nullptr;
    if (links == nullptr || links[0] == nullptr) {
        // Without its database, udev has the links only as a property.
        const gchar *property = g_udev_device_get_property(tty, "DEVLINKS");
        split = g_strsplit(property != nullptr ? property : "", " ", -1);
        links = split;
    }
    std::string found;
    for (const gchar *const *link = links; *link != nullptr && found.empty(); ++link)
        if (g_str_has_prefix(*link, by_id_folder) && plain_path(*link))
            found = *link;
    g_strfreev(split);
    return found;
}

// The sysfs attribute `attribute` of `device`, else udev's `property` of
// `tty`; cleaned.
std::string fact(GUdevDevice *device, const char *attribute, GUdevDevice *tty, const char *property)
{
    const gchar *text =
        device != nullptr ? g_udev_device_get_sysfs_attr(device, attribute) : nullptr;
    if (text == nullptr && property != nullptr)
        text = g_udev_device_get_property(tty, property);
    return port_list_clean(text);
}

// The facts of `tty`, or false when it is no USB serial port.
bool port_of(GUdevDevice *tty, PortInfo &port)
{
    const DevicePtr interface(g_udev_device_get_parent_with_subsystem(tty, "usb", "usb_interface"));
    const gchar *node = g_udev_device_get_device_file(tty);
    if (!interface || !plain_path(node))
        return false;
    const DevicePtr usb(g_udev_device_get_parent_with_subsystem(tty, "usb", "usb_device"));
    port.node = node;
    port.by_id = by_id_link(tty);
    port.vendor_id = fact(usb.get(), "idVendor", tty, "ID_VENDOR_ID");
    port.product_id = fact(usb.get(), "idProduct", tty, "ID_MODEL_ID");
    port.maker = fact(usb.get(), "manufacturer", tty, "ID_VENDOR_FROM_DATABASE");
    port.product = fact(usb.get(), "product", tty, "ID_MODEL_FROM_DATABASE");
    port.serial = fact(usb.get(), "serial", tty, "ID_SERIAL_SHORT");
    port.interface = fact(interface.get(), "bInterfaceNumber", tty, "ID_USB_INTERFACE_NUM");
    return true;
}

// The watch: one client for the UI thread, the ports it has seen (an
// unplugged device's sysfs is gone, so its facts are kept from before) and
// who listens.
ClientPtr watch_client;
std::map<std::string, PortInfo> seen;
std::vector<std::pair<PortListener, gpointer>> listeners;

void tell(const PortInfo &port, bool plugged)
{
    // A listener may come or go while it is told.
    const auto told = listeners;
    for (const auto &[listener, data] : told)
        if (std::find(listeners.begin(), listeners.end(), std::make_pair(listener, data)) !=
            listeners.end())
            listener(port, plugged, data);
}

void on_uevent(GUdevClient *, const gchar *action, GUdevDevice *tty, gpointer)
{
    if (g_strcmp0(action, "add") == 0) {
        PortInfo port;
        if (!port_of(tty, port))
            return;
        seen[port.node] = port;
        tell(port, true);
    } else if (g_strcmp0(action, "remove") == 0) {
        const gchar *node = g_udev_device_get_device_file(tty);
        const auto found = seen.find(node != nullptr ? node : "");
        if (found == seen.end())
            return;
        const PortInfo port = found->second;
        seen.erase(found);
        tell(port, false);
    }
}

// udev's events come through a netlink socket; where none can be made
// (a sandbox), libgudev watches nothing and does not say so.
bool events_possible()
{
    const int probe = socket(AF_NETLINK, SOCK_RAW | SOCK_CLOEXEC, NETLINK_KOBJECT_UEVENT);
    if (probe < 0)
        return false;
    close(probe);
    return true;
}

} // namespace

std::string port_list_clean(const char *text, long max_chars)
{
    if (text == nullptr)
        return {};
    const GCharPtr valid(g_utf8_make_valid(text, -1));
    std::string cleaned;
    long kept = 0;
    for (const gchar *at = valid.get(); *at != '\0'; at = g_utf8_next_char(at)) {
        const gunichar c = g_utf8_get_char(at);
        if (kept == max_chars) {
            cleaned += "…";
            break;
        }
        gchar bytes[6];
        const bool control = c < 0x20 || (c >= 0x7F && c <= 0x9F);
        cleaned.append(bytes, g_unichar_to_utf8(control ? 0xFFFD : c, bytes));
        ++kept;
    }
    const auto first = cleaned.find_first_not_of(' ');
    if (first == std::string::npos)
        return {};
    return cleaned.substr(first, cleaned.find_last_not_of(' ') - first + 1);
}

std::vector<PortInfo> port_list_find()
{
    // Every client listens for events: once the watch runs, its own asks.
    ClientPtr own;
    if (!watch_client)
        own.reset(g_udev_client_new(nullptr));
    GUdevClient *client = watch_client ? watch_client.get() : own.get();
    std::vector<PortInfo> ports;
    GList *ttys = g_udev_client_query_by_subsystem(client, "tty");
    for (GList *tty = ttys; tty != nullptr; tty = tty->next) {
        PortInfo port;
        if (port_of(G_UDEV_DEVICE(tty->data), port))
            ports.push_back(port);
        g_object_unref(tty->data);
    }
    g_list_free(ttys);
    std::sort(ports.begin(), ports.end(), [](const PortInfo &a, const PortInfo &b) {
        // ttyACM2 before ttyACM10.
        return std::make_pair(a.node.size(), a.node) < std::make_pair(b.node.size(), b.node);
    });
    return ports;
}

const std::string &port_list_path(const PortInfo &port)
{
    return port.by_id.empty() ? port.node : port.by_id;
}

std::string port_list_product(const PortInfo &port)
{
    if (!port.product.empty())
        return port.product;
    if (port.vendor_id.empty() && port.product_id.empty())
        return _("USB serial port");
    return "USB " + port.vendor_id + ":" + port.product_id;
}

std::string port_list_what(const PortInfo &port)
{
    std::string about;
    if (!port.maker.empty())
        about = port.maker;
    if (!port.serial.empty()) {
        const GCharPtr serial(g_strdup_printf(_("serial %s"), port.serial.c_str()));
        about += (about.empty() ? "" : ", ") + std::string(serial.get());
    }
    std::string text = port_list_product(port);
    if (!about.empty())
        text += " (" + about + ")";
    return text;
}

std::string port_list_describe(const PortInfo &port)
{
    return port_list_what(port) + " – " + port_list_path(port);
}

bool port_list_names(const PortInfo &port, const char *name)
{
    if (name == nullptr || name[0] == '\0')
        return false;
    if (port.node == name || port.by_id == name || port.node == std::string("/dev/") + name)
        return true;
    // The same file, reached through links. (Compared by identity, not by
    // realpath(): umockdev's stand-in for it overruns its buffer.)
    struct stat named {
    }, node{};
    return stat(name, &named) == 0 && stat(port.node.c_str(), &node) == 0 &&
           named.st_dev == node.st_dev && named.st_ino == node.st_ino;
}

bool port_list_watch(PortListener listener, gpointer data)
{
    if (!watch_client) {
        if (!events_possible())
            return false;
        const gchar *const subsystems[] = {"tty", nullptr};
        watch_client.reset(g_udev_client_new(subsystems));
        g_signal_connect(watch_client.get(), "uevent", G_CALLBACK(on_uevent), nullptr);
        for (const PortInfo &port : port_list_find())
            seen[port.node] = port;
    }
    listeners.emplace_back(listener, data);
    return true;
}

void port_list_unwatch(PortListener listener, gpointer data)
{
    listeners.erase(std::remove(listeners.begin(), listeners.end(), std::make_pair(listener, data)),
                    listeners.end());
}
