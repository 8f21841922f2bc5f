// The USB serial ports as udev tells them, on umockdev's testbed (this
// program runs under umockdev-wrapper): sysfs, udev's database and its
// events are real to libgudev and to every program the test starts.
#include "support/emulator.h"

#include "config/config.h"
#include "config/ports.h"
#include "device/port_list.h"
#include "maintenance/operation.h"
#include "ui/feedback.h"
#include "ui/registry.h"
#include "ui/worker.h"

#include <umockdev.h>

namespace
{

// A USB CDC device on bus port 1-`bus`, its tty `tty`; a `by_id` name only
// with udev's database. Hex attributes (H:) carry any bytes.
struct Usb {
    int bus;
    std::string tty, maker, product, serial, by_id;
    const char *unreadable = nullptr; // an attribute that cannot be read
};

std::string hex(const std::string &bytes)
{
    std::string out;
    for (unsigned char c : bytes)
        out += "0123456789abcdef"[c >> 4], out += "0123456789abcdef"[c & 15];
    return out;
}

std::string device_path(const Usb &usb)
{
    const std::string dev = "/devices/usb1/1-" + std::to_string(usb.bus);
    return dev + "/1-" + std::to_string(usb.bus) + ":1.0/tty/" + usb.tty;
}

class Testbed
{
  public:
    Testbed() : bed_(umockdev_testbed_new()) {}
    ~Testbed() { g_object_unref(bed_); }
    // Adding a device tells udev's listeners, as a plug does.
    void plug(const Usb &usb)
    {
        const std::string tty = device_path(usb), interface = tty.substr(0, tty.find("/tty/"));
        const std::string device = interface.substr(0, interface.rfind('/'));
        std::string text = "P: " + device +
                           "\nE: SUBSYSTEM=usb\nE: DEVTYPE=usb_device\nA: idVendor=1209\n"
                           "A: idProduct=7261\nH: manufacturer=" +
                           hex(usb.maker) + "\nH: product=" + hex(usb.product) +
                           "\nH: serial=" + hex(usb.serial) + "\n\nP: " + interface +
                           "\nE: SUBSYSTEM=usb\nE: DEVTYPE=usb_interface\nA: bInterfaceNumber=00"
                           "\n\nP: " +
                           tty + "\nN: " + usb.tty + "\nE: SUBSYSTEM=tty\nE: DEVNAME=/dev/" +
                           usb.tty + "\n";
        if (!usb.by_id.empty())
            text += "S: serial/by-id/" + usb.by_id + "\nE: DEVLINKS=/dev/serial/by-id/" +
                    usb.by_id + "\n";
        add(text);
        if (usb.unreadable != nullptr) {
            // A folder in the attribute's place: reading it fails, even for root.
            const std::string attribute = root() + "/sys" + device + "/" + usb.unreadable;
            fs::remove(attribute);
            fs::create_directory(attribute);
        }
    }
    void unplug(const Usb &usb)
    {
        const std::string tty = "/sys" + device_path(usb);
        umockdev_testbed_uevent(bed_, tty.c_str(), "remove");
        umockdev_testbed_remove_device(bed_, tty.c_str());
        // udev removes the node and its links.
        fs::remove(root() + "/dev/" + usb.tty);
        if (!usb.by_id.empty())
            fs::remove(root() + "/dev/serial/by-id/" + usb.by_id);
    }
    std::string root() const { return umockdev_testbed_get_root_dir(bed_); }
    void add(const std::string &record)
    {
        GError *error = nullptr;
        ASSERT_TRUE(umockdev_testbed_add_from_string(bed_, record.c_str(), &error))
            << error->message;
    }

  private:
    UMockdevTestbed *bed_;
};

const Usb ravelo{
    1, "ttyACM0", "Ravelo", "Ravelo Player", "0123", "usb-Ravelo_Ravelo_Player_0123-if00"};
const std::string ravelo_path = "/dev/serial/by-id/" + ravelo.by_id;

// The rows of the connection window's drop-downs, each as it shows and
// whether it can be chosen ('-' when not).
std::vector<std::string> port_rows()
{
    GtkTreeModel *model = gtk_combo_box_get_model(GTK_COMBO_BOX(lookup_widget(
        ui_window_connection_settings(), "comboboxentry_connection_settings_device_port")));
    std::vector<std::string> rows;
    GtkTreeIter row;
    for (gboolean more = gtk_tree_model_get_iter_first(model, &row); more;
         more = gtk_tree_model_iter_next(model, &row)) {
        gchar *shown = nullptr;
        gboolean choosable = FALSE;
        gtk_tree_model_get(model, &row, 1, &shown, 2, &choosable, -1);
        rows.push_back((choosable ? "" : "-") + test_owned(shown));
    }
    return rows;
}

} // namespace

// Every kind of port with what --list-ports and the window show of it: odd
// bytes cleaned, a long name cut, an unreadable attribute unknown, a port
// without udev's database by its node, a tty with no USB parent left out.
TEST(PortList, EveryPortWithItsFactsAndOddTextShownSafely)
{
    Testbed bed;
    const std::string cut = std::string(64, 'n') + "…";
    const std::pair<Usb, std::string> cases[] = {
        {ravelo, "Ravelo Player (Ravelo, serial 0123) – " + ravelo_path},
        {{3, "ttyACM2", "", "", "", ""}, "USB 1209:7261 – /dev/ttyACM2"},
        {{4, "ttyACM3", "Say\n\"hi\"", "caf\xc3\xa9\t\xff\x01 ", "x\x7f", ""},
         "café��� (Say�\"hi\", serial x�) – /dev/ttyACM3"},
        {{5, "ttyACM4", "Maker", std::string(300, 'n'), "", "", "manufacturer"},
         cut + " – /dev/ttyACM4"},
        {{2, "ttyUSB0", "Acme", "Serial bridge", "A9", "usb-Acme_Serial_bridge_A9-if00"},
         "Serial bridge (Acme, serial A9) – /dev/serial/by-id/usb-Acme_Serial_bridge_A9-if00"},
    };
    for (const auto &[usb, shown] : cases)
        bed.plug(usb);
    bed.add("P: /devices/platform/serial8250/tty/ttyS0\nN: ttyS0\nE: SUBSYSTEM=tty\n"
            "E: DEVNAME=/dev/ttyS0\n");
    const std::vector<PortInfo> ports = port_list_find();
    ASSERT_EQ(ports.size(), std::size(cases));
    for (std::size_t i = 0; i < ports.size(); ++i) {
        EXPECT_EQ(port_list_describe(ports[i]), cases[i].second);
        EXPECT_EQ(ports[i].node, "/dev/" + cases[i].first.tty);
    }
    // The program itself, with no display, under the same testbed.
    config_init();
    test_set_ports(ravelo_path.c_str(), "ttyACM2");
    config_save();
    ASSERT_EQ(test_run("env -u DISPLAY " RAVELO_CLIENT " --list-ports"), 0);
    // A line per port with its facts, the configured ones marked.
    const std::string out = test_read_file("out");
    EXPECT_EQ(out.substr(0, out.find("/dev/ttyACM3")),
              ravelo_path +
                  " (node /dev/ttyACM0): Ravelo Player (Ravelo, serial 0123), USB "
                  "1209:7261, interface 00 [device port]\n/dev/ttyACM2 (node /dev/ttyACM2): "
                  "USB 1209:7261, USB 1209:7261, interface 00 [bootloader port]\n");
    EXPECT_EQ(std::count(out.begin(), out.end(), '\n'), 5) << out;
}

// The window lists what is plugged in and follows plugging while it is
// open; the status bar tells the configured device's coming and going.
// Choosing a port fills in its by-id path; the empty list's row fills in
// nothing; 64 ports, and one that vanishes, list as they are.
TEST(ConnectionWindow, DropDownsFollowPluggingAndFillInTheByIdPath)
{
    Testbed bed;
    test_app_start();
    test_set_ports(ravelo_path.c_str(), "/dev/ttyACM1");
    GtkWidget *window = ui_window_connection_settings();
    const auto widget = [&](const char *name) { return lookup_widget(window, name); };
    auto *boot = GTK_COMBO_BOX(widget("comboboxentry_connection_settings_bootloader_port"));
    gtk_menu_item_activate(GTK_MENU_ITEM(test_widget("menuitem_connection")));
    ASSERT_TRUE(test_spin_until([&] { return gtk_widget_get_mapped(window); }));
    EXPECT_EQ(port_rows(), std::vector<std::string>{"-No USB serial port found"});
    gtk_combo_box_set_active(boot, 0);
    EXPECT_EQ(gtk_entry_get_text(GTK_ENTRY(widget("entry_connection_settings_bootloader_port"))),
              std::string("/dev/ttyACM1"));

    bed.plug(ravelo);
    EXPECT_TRUE(test_status_is(" Device connected: Ravelo Player"));
    EXPECT_EQ(port_rows(),
              std::vector<std::string>{"Ravelo Player (Ravelo, serial 0123) – " + ravelo_path});
    // udev's listeners are read between plugs, as a real queue is.
    for (std::size_t i = 1; i <= 64; ++i) {
        bed.plug(
            {int(10 + i), "ttyACM" + std::to_string(i), "Maker", "Board", std::to_string(i), ""});
        ASSERT_TRUE(test_spin_until([&] { return port_rows().size() == i + 1; }));
    }
    EXPECT_EQ(port_rows()[64], "Board (Maker, serial 64) – /dev/ttyACM64");
    // A run keeps its own ending for a vanished device.
    ASSERT_TRUE(ui_start_worker("busy", [](gpointer) -> gpointer { return nullptr; }));
    status_show("running");
    bed.unplug(ravelo);
    EXPECT_TRUE(test_spin_until([] { return port_rows().size() == 64; }));
    EXPECT_EQ(test_status_text(), "running");
    ui_worker_done();
    Usb again = ravelo;
    again.bus = 80; // plugged in elsewhere: another node, the same by-id name
    again.tty = "ttyACM80";
    bed.plug(again);
    EXPECT_TRUE(test_status_is(" Device connected: Ravelo Player"));
    bed.unplug(again);
    EXPECT_TRUE(test_status_is(" Device unplugged"));
    gtk_combo_box_set_active(boot, 1);
    gtk_button_clicked(GTK_BUTTON(widget("button_connection_settings_ok")));
    EXPECT_STREQ(config_bootloader_port(), "/dev/ttyACM2");
    EXPECT_STREQ(config_device_port(), ravelo_path.c_str());
}

// After the reset the worker takes the configured port as soon as it
// appears, else a single new port; two new ports, or none (no udev events
// at all), leave the configured one after the whole wait.
TEST(BootloaderWait, TheConfiguredPortAtOnceElseASingleNewOne)
{
    test_app_start();
    const std::string node = test_path("ttyACM9");
    test_write_file(node, "");
    const PortInfo configured{node, "", "1209", "7262", "", "", "", "00"},
        other{
            "/dev/ttyACM5", "/dev/serial/by-id/usb-Ravelo_Bootloader-if00", "", "", "", "", "", ""},
        third{"/dev/ttyACM6", "", "", "", "", "", "", ""};
    const std::tuple<std::vector<PortInfo>, bool, std::string, bool> cases[] = {
        {{other, configured}, true, node, true},
        {{other}, true, other.by_id, false},
        {{other, third}, true, node, false},
        {{}, false, node, false},
    };
    for (const auto &[plugged, watched, used, early] : cases) {
        MaintenanceJob job;
        job.bootloader_port = node;
        if (watched)
            job.plugged = g_async_queue_new();
        for (const PortInfo &port : plugged)
            g_async_queue_push(job.plugged, new PortInfo(port));
        const gint64 start = g_get_monotonic_time();
        maintenance_bootloader_wait(job);
        const gint64 took = g_get_monotonic_time() - start;
        EXPECT_EQ(job.bootloader_port, used);
        EXPECT_EQ(job.bootloader_found, used == node ? "" : used);
        EXPECT_TRUE(early ? took < maintenance_bootloader_wait_us / 2
                          : took >= maintenance_bootloader_wait_us)
            << took;
        if (job.plugged != nullptr)
            g_async_queue_unref(job.plugged);
    }
}

// A whole update whose bootloader comes up at a new port, not at the
// configured one: the emulator's bootloader pty appears as a new USB serial
// port, is flashed through the real avrdude by its by-id path, and the user
// is asked whether to remember it.
TEST(BootloaderWait, AnUpdateFlashesTheNewPortAndOffersToRememberIt)
{
    Testbed bed;
    test_app_start();
    ASSERT_TRUE(avrdude_fixture_write(test_dir()));
    Emulator device({"--boot-delay", "300"});
    test_set_ports(device.link().c_str(), "/dev/ttyACM7");
    const Usb boot{1, "ttyACM1", "Ravelo", "Ravelo Bootloader", "", "usb-Ravelo_Bootloader-if00"};
    const std::string found = "/dev/serial/by-id/" + boot.by_id, before = test_log_text();
    const std::string asked = test_answering(GTK_RESPONSE_ACCEPT, [&] {
        gtk_menu_item_activate(GTK_MENU_ITEM(test_widget("menuitem_update")));
        ASSERT_TRUE(test_spin_until([&] { return fs::exists(device.bootloader_link()); }));
        // The node udev makes is the emulator's bootloader pty; avrdude
        // opens it only after the wait.
        bed.plug(boot);
        const std::string node = bed.root() + "/dev/" + boot.tty;
        fs::remove(node);
        fs::create_symlink(fs::canonical(device.bootloader_link()), node);
        ASSERT_TRUE(test_spin_until([] { return test_controls_are(true); }, 90000));
        test_spin_until([] { return false; }, 300);
    });
    EXPECT_EQ(test_status_text(), " Firmware update succeeded");
    const std::string log = test_log_after(before);
    EXPECT_NE(
        log.find("The bootloader appeared at " + found + ", not at the configured /dev/ttyACM7\n"),
        std::string::npos)
        << log;
    EXPECT_NE(log.find("Using Port                    : " + found + "\n"), std::string::npos);
    EXPECT_EQ(asked, "Remember " + found +
                         " as the bootloader port? [Remember*|Keep the setting|] transient\n");
    EXPECT_EQ(config_bootloader_port(), found);
    EXPECT_NE(test_read_file(config_file_path()).find("bootloader_port=" + found),
              std::string::npos);
    EXPECT_GE(test_read_file(device.flash_path()).size(), 256u);
}
