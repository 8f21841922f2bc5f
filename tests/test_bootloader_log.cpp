// A device left in its bootloader is flashed where it sits, with progress in
// the status bar, into a log that cannot be typed into, wraps and follows.
#include "support/emulator.h"

#include "device/messages.h"
#include "ui/feedback.h"
#include "ui/registry.h"

namespace
{
const std::string heading = test_separator + "Updating device firmware\n";

GtkAdjustment *log_scroll(bool vertical)
{
    auto *window = GTK_SCROLLED_WINDOW(test_widget("scrolledwindow_log"));
    return vertical ? gtk_scrolled_window_get_vadjustment(window)
                    : gtk_scrolled_window_get_hadjustment(window);
}
bool log_at_end()
{
    GtkAdjustment *v = log_scroll(true);
    return v->page_size < v->upper && v->value + v->page_size >= v->upper - 1;
}
} // namespace

// Reset into bootloader, where the device stays; Update firmware then runs
// the installed avrdude without a reset, its progress in the status bar and
// its lines in a monospace font in a log that shows its end. The log keeps
// its text against typing, yet copies it; a user's scroll up stays. Before
// the device is plugged in, the update fails as ever and names both ports.
TEST(BootloaderLog, AStuckDeviceIsFlashedAndTheLogShowsIt)
{
    const std::string console = test_path("ttyEMU"), boot = console + "-boot";
    test_set_ports(console.c_str(), boot.c_str());
    std::string before = test_log_text();
    gtk_menu_item_activate(GTK_MENU_ITEM(test_widget("menuitem_update")));
    EXPECT_TRUE(test_status_is(" Firmware update failed: " + std::string(device_msg_no_port)));
    const auto line = [](const std::string &port) {
        return "Cannot open port " + port +
               ": No such file or directory (is the device plugged in? see /dev/serial/by-id/)\n";
    };
    EXPECT_EQ(test_log_after(before), heading + line(console) + line(boot) + "Failed\n");
    Emulator device({"--bootloader-timeout", "0", "--block-time", "10"});
    gtk_notebook_set_current_page(GTK_NOTEBOOK(test_widget("notebook_main")), 1);
    gtk_menu_item_activate(GTK_MENU_ITEM(test_widget("menuitem_reset_into_bootloader")));
    ASSERT_TRUE(test_status_is(" Device reset succeeded"));
    ASSERT_TRUE(test_spin_until([&] { return fs::exists(device.bootloader_link()); }));
    std::vector<std::string> shown;
    g_signal_connect(test_widget("statusbar_main"), "text-pushed",
                     G_CALLBACK(+[](GtkStatusbar *, guint, gchar *text, gpointer to) {
                         static_cast<std::vector<std::string> *>(to)->push_back(text);
                     }),
                     &shown);
    before = test_log_text();
    gtk_menu_item_activate(GTK_MENU_ITEM(test_widget("menuitem_update")));
    ASSERT_TRUE(test_spin_until([] { return test_controls_are(true); }, 90000));
    EXPECT_EQ(test_status_text(), " Firmware update succeeded");
    EXPECT_EQ(test_log_after(before).rfind(
                  heading + "The device is in its bootloader: flashing without a reset\n", 0),
              0u);
    // The tool's progress as it draws it, not only its final lines.
    const auto writing = std::count_if(shown.begin(), shown.end(), [](const std::string &text) {
        return text.rfind(" Firmware update: writing ", 0) == 0;
    });
    EXPECT_TRUE(writing > 2 &&
                std::count(shown.begin(), shown.end(), " Firmware update: reading 100 %") == 1)
        << testing::PrintToString(shown);

    GtkWidget *view = test_widget("textview_log");
    GtkTextBuffer *buffer = gtk_text_view_get_buffer(GTK_TEXT_VIEW(view));
    GtkTextIter at, end;
    gtk_text_buffer_get_bounds(buffer, &at, &end);
    ASSERT_TRUE(gtk_text_iter_forward_search(&at, "avrdude done", GTK_TEXT_SEARCH_TEXT_ONLY, &at,
                                             nullptr, nullptr));
    GtkTextAttributes *look = gtk_text_view_get_default_attributes(GTK_TEXT_VIEW(view));
    gtk_text_iter_get_attributes(&at, look);
    EXPECT_STREQ(pango_font_description_get_family(look->font), "monospace");
    gtk_text_attributes_unref(look);
    EXPECT_TRUE(test_spin_until(log_at_end)) << "the log does not show its last line";

    log_append((std::string(300, 'w') + " " + std::string(30, 'o') + "\n").c_str());
    const std::string full = test_log_text();
    gtk_widget_grab_focus(view);
    gtk_text_buffer_get_bounds(buffer, &at, &end);
    gtk_text_buffer_select_range(buffer, &at, &end);
    test_send_key(ui_window_main(), GDK_x);
    test_send_key(ui_window_main(), GDK_c, GDK_CONTROL_MASK);
    EXPECT_EQ(test_log_text(), full);
    EXPECT_EQ(test_owned(gtk_clipboard_wait_for_text(gtk_clipboard_get(GDK_SELECTION_CLIPBOARD))),
              full);
    EXPECT_TRUE(test_spin_until(log_at_end)) << "the log does not follow";
    EXPECT_LE(log_scroll(false)->upper, log_scroll(false)->page_size) << "a long line is cut";
    gtk_adjustment_set_value(log_scroll(true), 0);
    log_append("more\n");
    test_spin_until([] { return false; }, 300);
    EXPECT_EQ(gtk_adjustment_get_value(log_scroll(true)), 0) << "a scroll up is lost";
}
