// The configuration file and the connection settings window. Every test case
// runs in a process of its own with XDG_CONFIG_HOME in its private folder;
// GLib fixes the user's configuration folder at the first call that asks.
#include "config/config.h"
#include "config/connection_window.h"
#include "ui/registry.h"

#include "support/harness.h"

namespace
{

std::string five_lines(const std::string &device, const std::string &bootloader)
{
    return "# Ravelo playback client config file - do NOT edit\n\n[connection]\ndevice_port=" +
           device + "\nbootloader_port=" + bootloader + "\n";
}

const std::string defaults = five_lines("/dev/ttyACM0", "/dev/ttyACM1");

} // namespace

// A fresh account: not even the user's configuration folder exists. Where
// our folder cannot be, the current directory holds the file.
TEST(ConfigFile, FirstStartWritesExactlyTheFiveLinesInAPrivateFolderElseHere)
{
    const std::string base = test_path("fresh/.config"), folder = base + "/ravelo-client";
    setenv("XDG_CONFIG_HOME", base.c_str(), 1);
    config_init();
    EXPECT_STREQ(config_file_path(), (folder + "/user.ini").c_str());
    EXPECT_EQ(test_read_file(config_file_path()), defaults);
    EXPECT_EQ(fs::status(folder).permissions(), fs::perms(0700));
    fs::remove_all(folder);
    test_write_file(folder, "not a folder");
    config_init();
    EXPECT_STREQ(config_file_path(), test_path("user.ini").c_str());
    EXPECT_EQ(test_read_file(test_path("user.ini")), defaults);
    EXPECT_EQ(test_read_file(folder), "not a folder");
}

TEST(ConfigFile, LoadTakesWhatTheFileGivesSaveWritesItAnew)
{
    const std::string file = test_path("config/ravelo-client/user.ini");
    config_init();
    const std::tuple<std::string, const char *, const char *> cases[] = {
        {"[connection]\ndevice_port=/dev/ttyUSB7\n", "/dev/ttyUSB7", "/dev/ttyACM1"},
        {"# mine\n[connection]\nbootloader_port=/dev/ttyS9\ndevice_port=/dev/ttyS8\n", "/dev/ttyS8",
         "/dev/ttyS9"},
        {five_lines("", "/dev/ttyACM5"), "", "/dev/ttyACM5"},
        {"[other]\ndevice_port=/dev/wrong\n[connection]\ncolour=blue\ndevice_port=/dev/ttyUSB1\n",
         "/dev/ttyUSB1", "/dev/ttyACM1"},
        // Unparsable, empty, or a value that is not UTF-8: the defaults.
        {"device_port /dev/ttyUSB0\nno equals sign here\n", "/dev/ttyACM0", "/dev/ttyACM1"},
        {"", "/dev/ttyACM0", "/dev/ttyACM1"},
        {"[connection]\ndevice_port=/dev/caf\xe9\nbootloader_port=/dev/b\n", "/dev/ttyACM0",
         "/dev/b"}};
    for (const auto &[content, device, bootloader] : cases) {
        test_write_file(file, content);
        test_set_ports("x", "y");
        config_load();
        EXPECT_STREQ(config_device_port(), device) << content;
        EXPECT_STREQ(config_bootloader_port(), bootloader) << content;
        EXPECT_EQ(test_read_file(file), content);
    }
    // Whatever the name, load gives back what save was given. (What save
    // writes: the settings window's test.)
    for (const char *name : {"/dev/tty\\nUSB0", "\\\\host\\\\port", "  /dev/ttyUSB0  ",
                             "\t/dev/tty\tUSB0\t", "#x;y=z[0]", "/dev/caf\xc3\xa9 \xe2\x82\xac",
                             "/dev/serial/by-id/usb-Ravelo_Player_0123-if00"}) {
        test_set_ports(name, name);
        EXPECT_EQ(config_save(), 1);
        test_set_ports("x", "y");
        config_load();
        EXPECT_STREQ(config_device_port(), name);
        EXPECT_STREQ(config_bootloader_port(), name);
    }
}

// Configuration > Connection... shows the stored ports, modally over the
// main window, the focus in the first entry, a by-id name whole. OK, and
// Enter in the second entry, take the texts as typed, an empty device port
// too, and write the whole file even when nothing changed; a control
// character in either name is refused in the window itself: it stays open,
// nothing is stored or written. Esc, Cancel and closing discard the edits.
TEST(ConnectionWindow, OkAndEnterStoreAndRewriteTheOtherWaysOutDiscard)
{
    test_app_start();
    GtkWidget *window = ui_window_connection_settings();
    const auto widget = [&](const char *name) { return lookup_widget(window, name); };
    GtkWidget *device = widget("entry_connection_settings_device_port"),
              *bootloader = widget("entry_connection_settings_bootloader_port"),
              *error = widget("label_connection_settings_error");
    EXPECT_EQ(gtk_window_get_transient_for(GTK_WINDOW(window)), GTK_WINDOW(ui_window_main()));
    EXPECT_FALSE(gtk_widget_get_visible(window));
    const std::function<void()>
        ok = [&] { gtk_button_clicked(GTK_BUTTON(widget("button_connection_settings_ok"))); },
        enter = [&] { test_send_key(window, GDK_KEY_Return); },
        esc = [&] { test_send_key(window, GDK_KEY_Escape); },
        cancel =
            [&] { gtk_button_clicked(GTK_BUTTON(widget("button_connection_settings_cancel"))); },
        close = [&] { test_send_delete(window); };
    const std::string file = test_path("config/ravelo-client/user.ini"),
                      by_hand = "[connection]\n# edited by hand\n",
                      by_id = "/dev/serial/by-id/usb-Ravelo_Player_0123456789AB-if00";
    // Typed, into, the way out, written (nullptr: nothing).
    const std::tuple<std::string, GtkWidget *, const std::function<void()> *, const char *>
        cases[] = {{"/dev/tty\x7f", device, &ok, nullptr},
                   {"/dev/\tx", bootloader, &ok, nullptr},
                   {by_id, device, &esc, nullptr},
                   {by_id, device, &cancel, nullptr},
                   {by_id, device, &close, nullptr},
                   {"/dev/ttyACM0", device, &ok, "/dev/ttyACM0"},
                   {"", device, &ok, ""},
                   {" /dev/ttyUSB0", device, &ok, "\\s/dev/ttyUSB0"},
                   {by_id, device, &enter, by_id.c_str()}};
    for (const auto &[typed, entry, leave, written] : cases) {
        SCOPED_TRACE(typed);
        test_write_file(file, by_hand);
        const std::string stored = config_device_port();
        gtk_menu_item_activate(GTK_MENU_ITEM(test_widget("menuitem_connection")));
        ASSERT_TRUE(test_spin_until([&] { return gtk_widget_get_mapped(window); }));
        EXPECT_TRUE(gtk_grab_get_current() == window && gtk_widget_is_focus(device) &&
                    !gtk_widget_get_visible(error));
        EXPECT_EQ(gtk_entry_get_text(GTK_ENTRY(device)), stored);
        gtk_entry_set_text(GTK_ENTRY(entry), typed.c_str());
        int shown = 0;
        pango_layout_get_pixel_size(gtk_entry_get_layout(GTK_ENTRY(entry)), &shown, nullptr);
        EXPECT_LT(shown, entry->allocation.width);
        gtk_widget_grab_focus(bootloader);
        (*leave)();
        const bool refused = leave == &ok && written == nullptr;
        EXPECT_TRUE(gtk_widget_get_visible(window) == refused &&
                    gtk_widget_get_visible(error) == refused);
        EXPECT_EQ(config_device_port(), written ? typed : stored);
        EXPECT_EQ(test_read_file(file), written ? five_lines(written, "/dev/ttyACM1") : by_hand);
    }
}
