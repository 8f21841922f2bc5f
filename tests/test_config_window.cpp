// The connection settings window in the running program.
#include "app/app.h"
#include "config/config.h"
#include "config/connection_window.h"
#include "ui/main_window.h"

#include "support/harness.h"

#include <gtest/gtest.h>

#include <filesystem>

namespace fs = std::filesystem;

namespace
{

std::string five_lines(const std::string &device, const std::string &bootloader)
{
    return "# Ravelo playback client config file - do NOT edit\n\n[connection]\ndevice_port=" +
           device + "\nbootloader_port=" + bootloader + "\n";
}

std::string config_file()
{
    return test_path("config/ravelo-client/user.ini");
}

GtkWidget *settings(const char *name)
{
    auto *widget =
        static_cast<GtkWidget *>(g_object_get_data(G_OBJECT(window_connection_settings), name));
    EXPECT_NE(widget, nullptr) << name;
    return widget;
}

GtkEntry *device_entry()
{
    return GTK_ENTRY(settings("entry_connection_settings_device_port"));
}

GtkEntry *bootloader_entry()
{
    return GTK_ENTRY(settings("entry_connection_settings_bootloader_port"));
}

// Configuration > Connection..., as the user picks it.
void show_window()
{
    gtk_menu_item_activate(GTK_MENU_ITEM(test_widget("menuitem_connection")));
    ASSERT_TRUE(test_spin_until([] { return gtk_widget_get_mapped(window_connection_settings); }));
}

void press_ok()
{
    gtk_button_clicked(GTK_BUTTON(settings("button_connection_settings_ok")));
    test_spin_for(20);
}

void close_window()
{
    test_send_delete(window_connection_settings);
    test_spin_for(20);
}

std::string tip_of(GtkWidget *widget)
{
    GtkTooltipsData *data = gtk_tooltips_data_get(widget);
    return data != nullptr && data->tip_text != nullptr ? data->tip_text : "";
}

GtkAttachOptions attach_option(GtkWidget *child, const char *property)
{
    guint options = 0;
    gtk_container_child_get(GTK_CONTAINER(settings("table_connection_settings_inputs")), child,
                            property, &options, nullptr);
    return GtkAttachOptions(options);
}

guint attach_position(GtkWidget *child, const char *property)
{
    guint value = 99;
    gtk_container_child_get(GTK_CONTAINER(settings("table_connection_settings_inputs")), child,
                            property, &value, nullptr);
    return value;
}

} // namespace

TEST(ConnectionWindow, IsBuiltHiddenWithItsTree)
{
    test_app_start();
    GtkWidget *window = window_connection_settings;
    ASSERT_TRUE(GTK_IS_WINDOW(window));
    EXPECT_FALSE(gtk_widget_get_visible(window));
    EXPECT_STREQ(gtk_window_get_title(GTK_WINDOW(window)), "Connection settings");
    EXPECT_TRUE(gtk_window_get_modal(GTK_WINDOW(window)));
    EXPECT_FALSE(gtk_window_get_resizable(GTK_WINDOW(window)));
    EXPECT_EQ(gtk_window_get_transient_for(GTK_WINDOW(window)), nullptr);
    GtkWindowPosition position = GTK_WIN_POS_NONE;
    g_object_get(window, "window-position", &position, nullptr);
    EXPECT_EQ(position, GTK_WIN_POS_CENTER);
    EXPECT_EQ(settings("window_connection_settings"), window);
    EXPECT_TRUE(GTK_IS_TOOLTIPS(g_object_get_data(G_OBJECT(window), "tooltips")));

    GtkWidget *vbox = settings("vbox_connection_settings_top_most");
    EXPECT_EQ(gtk_bin_get_child(GTK_BIN(window)), vbox);
    EXPECT_EQ(gtk_box_get_spacing(GTK_BOX(vbox)), 6);
    EXPECT_EQ(gtk_container_get_border_width(GTK_CONTAINER(vbox)), 6u);
    EXPECT_FALSE(gtk_box_get_homogeneous(GTK_BOX(vbox)));

    GtkWidget *table = settings("table_connection_settings_inputs");
    guint rows = 0, columns = 0;
    gtk_table_get_size(GTK_TABLE(table), &rows, &columns);
    EXPECT_EQ(rows, 2u);
    EXPECT_EQ(columns, 2u);
    EXPECT_EQ(gtk_table_get_default_row_spacing(GTK_TABLE(table)), 2u);
    EXPECT_EQ(gtk_table_get_default_col_spacing(GTK_TABLE(table)), 0u);

    GtkWidget *device_label = settings("label_connection_settings_select");
    GtkWidget *bootloader_label = settings("label_connection_settings_bootloader_port");
    EXPECT_STREQ(gtk_label_get_text(GTK_LABEL(device_label)), "Device port: ");
    EXPECT_STREQ(gtk_label_get_text(GTK_LABEL(bootloader_label)), "Bootloader port: ");
    gfloat x = -1, y = -1;
    gtk_misc_get_alignment(GTK_MISC(bootloader_label), &x, &y);
    EXPECT_FLOAT_EQ(x, 0);
    EXPECT_FLOAT_EQ(y, 0.5);

    struct Cell {
        GtkWidget *widget;
        guint column, row;
        GtkAttachOptions horizontal;
    };
    const auto expand_fill = GtkAttachOptions(GTK_EXPAND | GTK_FILL);
    for (const Cell &cell :
         {Cell{device_label, 0, 0, GTK_FILL}, Cell{GTK_WIDGET(device_entry()), 1, 0, expand_fill},
          Cell{bootloader_label, 0, 1, GTK_FILL},
          Cell{GTK_WIDGET(bootloader_entry()), 1, 1, expand_fill}}) {
        EXPECT_EQ(attach_position(cell.widget, "left-attach"), cell.column);
        EXPECT_EQ(attach_position(cell.widget, "top-attach"), cell.row);
        EXPECT_EQ(attach_option(cell.widget, "x-options"), cell.horizontal);
        EXPECT_EQ(attach_option(cell.widget, "y-options"), GtkAttachOptions(0));
        EXPECT_TRUE(gtk_widget_get_visible(cell.widget));
    }
    EXPECT_EQ(tip_of(GTK_WIDGET(device_entry())), "USB serial port to use");
    EXPECT_EQ(tip_of(GTK_WIDGET(bootloader_entry())), "USB serial port to use");

    GtkWidget *button = settings("button_connection_settings_ok");
    GtkWidget *alignment = settings("alignment_connection_settings_ok");
    GtkWidget *hbox = settings("hbox_connection_settings_ok");
    EXPECT_EQ(gtk_widget_get_parent(button), vbox);
    EXPECT_EQ(gtk_bin_get_child(GTK_BIN(button)), alignment);
    EXPECT_EQ(gtk_bin_get_child(GTK_BIN(alignment)), hbox);
    EXPECT_EQ(gtk_box_get_spacing(GTK_BOX(hbox)), 2);
    gchar *stock = nullptr;
    GtkIconSize size = GTK_ICON_SIZE_INVALID;
    gtk_image_get_stock(GTK_IMAGE(settings("image_connection_settings_ok")), &stock, &size);
    EXPECT_STREQ(stock, "gtk-ok");
    EXPECT_EQ(size, GTK_ICON_SIZE_BUTTON);
    EXPECT_STREQ(gtk_label_get_text(GTK_LABEL(settings("label_connection_settings_ok"))), "OK");

    // The device port is where typing goes when the window first shows.
    EXPECT_EQ(gtk_window_get_focus(GTK_WINDOW(window)), GTK_WIDGET(device_entry()));
}

TEST(ConnectionWindow, ShowFillsTheEntriesAndIsModal)
{
    test_app_start();
    show_window();
    EXPECT_STREQ(gtk_entry_get_text(device_entry()), "/dev/ttyACM0");
    EXPECT_STREQ(gtk_entry_get_text(bootloader_entry()), "/dev/ttyACM1");
    EXPECT_EQ(gtk_grab_get_current(), window_connection_settings);
    EXPECT_TRUE(gtk_widget_is_focus(GTK_WIDGET(device_entry())));
    press_ok();
}

TEST(ConnectionWindow, CloseDiscardsEditsAndShowRefills)
{
    test_app_start();
    const std::string file = test_read_file(config_file());
    for (int round = 0; round < 2; ++round) {
        show_window();
        EXPECT_STREQ(gtk_entry_get_text(device_entry()), "/dev/ttyACM0");
        EXPECT_STREQ(gtk_entry_get_text(bootloader_entry()), "/dev/ttyACM1");
        gtk_entry_set_text(device_entry(), "/dev/abandoned");
        gtk_entry_set_text(bootloader_entry(), "");
        close_window();
        // Hidden, not destroyed; nothing stored, nothing written.
        ASSERT_TRUE(GTK_IS_WINDOW(window_connection_settings));
        EXPECT_FALSE(gtk_widget_get_visible(window_connection_settings));
        EXPECT_STREQ(device_port, "/dev/ttyACM0");
        EXPECT_STREQ(bootloader_port, "/dev/ttyACM1");
        EXPECT_EQ(test_read_file(config_file()), file);
    }
}

TEST(ConnectionWindow, OkStoresHidesAndSaves)
{
    test_app_start();
    show_window();
    gtk_entry_set_text(device_entry(), " /dev/ttyUSB0");
    gtk_entry_set_text(bootloader_entry(), "/dev/ttyUSB1 ");
    press_ok();
    EXPECT_FALSE(gtk_widget_get_visible(window_connection_settings));
    // Taken as typed.
    EXPECT_STREQ(device_port, " /dev/ttyUSB0");
    EXPECT_STREQ(bootloader_port, "/dev/ttyUSB1 ");
    EXPECT_EQ(test_read_file(config_file()), five_lines("/dev/ttyUSB0", "/dev/ttyUSB1 "));

    show_window();
    EXPECT_STREQ(gtk_entry_get_text(device_entry()), " /dev/ttyUSB0");
    close_window();
}

TEST(ConnectionWindow, OkWithUnchangedValuesRewritesTheFile)
{
    test_app_start();
    test_write_file(config_file(), "[connection]\ndevice_port=/dev/ttyACM0\n# edited by hand\n");
    show_window();
    press_ok();
    EXPECT_EQ(test_read_file(config_file()), five_lines("/dev/ttyACM0", "/dev/ttyACM1"));
}

TEST(ConnectionWindow, EmptyDevicePortIsStoredAndSavedEmpty)
{
    test_app_start();
    show_window();
    gtk_entry_set_text(device_entry(), "");
    press_ok();
    ASSERT_NE(device_port, nullptr);
    EXPECT_STREQ(device_port, "");
    EXPECT_EQ(test_read_file(config_file()), five_lines("", "/dev/ttyACM1"));
}

TEST(ConnectionWindow, StartUpReadsAnExistingFile)
{
    fs::create_directories(test_path("config/ravelo-client"));
    test_write_file(config_file(), five_lines("/dev/ttyUSB5", "/dev/ttyUSB6"));
    test_app_start();
    show_window();
    EXPECT_STREQ(gtk_entry_get_text(device_entry()), "/dev/ttyUSB5");
    EXPECT_STREQ(gtk_entry_get_text(bootloader_entry()), "/dev/ttyUSB6");
    close_window();
}
