// Firmware, Reset into bootloader and Update firmware through the real
// window, against the emulated device and the installed avrdude; a device
// left in its bootloader is flashed where it sits, with progress in the
// status bar, into a log that cannot be typed into, wraps and follows.
#include "support/emulator.h"

#include "device/messages.h"
#include "maintenance/firmware.h"
#include "maintenance/update.h"
#include "player/player_state.h"
#include "ui/feedback.h"
#include "ui/registry.h"

#include <glib/gstdio.h>

namespace
{

const char tool_failed[] = " Firmware update failed: The avrdude executable exited with error";

struct Request {
    const char *item, *requested, *heading;
};
const Request reset_request{"menuitem_reset_into_bootloader", " Device reset requested",
                            "Resetting device\n"};
const Request update_request{"menuitem_update", " Firmware update requested",
                             "Updating device firmware\n"};

// Runs the request (a second one meanwhile does nothing) to its end, after
// which nothing is left open and no image file left behind.
void run_request(const Request &request, const std::string &status, int timeout_ms = 30000)
{
    const size_t descriptors = test_open_descriptors();
    const std::string log = test_log_text();
    for (const Request *item : {&request, &reset_request, &update_request})
        gtk_menu_item_activate(GTK_MENU_ITEM(test_widget(item->item)));
    EXPECT_TRUE(test_status_text() == request.requested && test_controls_are(false));
    ASSERT_TRUE(test_spin_until([] { return test_controls_are(true); }, timeout_ms))
        << test_status_text();
    EXPECT_EQ(test_status_text(), status);
    const bool ok = status.find(" failed: ") == std::string::npos;
    const std::string added = test_log_after(log); // between: why a port failed, the tool's lines
    EXPECT_TRUE(g_str_has_prefix(added.c_str(), (test_separator + request.heading).c_str()) &&
                g_str_has_suffix(added.c_str(), ok ? "\nCompleted\n" : "\nFailed\n"))
        << added;
    EXPECT_EQ(test_open_descriptors(), descriptors) << "left open, the port or another";
    EXPECT_FALSE(g_file_test(maintenance_firmware_file, G_FILE_TEST_EXISTS));
}

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

// A refusal shows its text and starts nothing; each step mends one refusal,
// so their order shows too.
TEST(MaintenanceRequest, RefusalsShowTheirTextAndStartNothing)
{
    const auto refused = [](const Request &request, const char *status, const char *log = "") {
        status_show("");
        const std::string before = test_log_text();
        gtk_menu_item_activate(GTK_MENU_ITEM(test_widget(request.item)));
        EXPECT_EQ(test_status_text(), status) << request.item;
        EXPECT_EQ(test_log_after(before), status + 1 + std::string("\n") + log);
        EXPECT_FALSE(g_file_test(maintenance_firmware_file, G_FILE_TEST_IS_REGULAR));
        EXPECT_TRUE(test_sensitive("menuitem_update") && test_sensitive("button_stop"));
    };
    const std::string gone = test_path("ttyGONE"), boot = test_path("ttyBOOT");
    test_set_ports("", "");
    refused(reset_request, " Error: Invalid device port");
    refused(update_request, " Error: Invalid device port");
    test_set_ports(gone.c_str());
    refused(update_request, " Error: Invalid bootloader port");
    const char missing[] = " Error: Some update components are missing";
    test_set_ports(gone.c_str(), boot.c_str());
    ASSERT_TRUE(avrdude_fixture_write(test_dir()));
    // "", "." and "sub" on PATH are never searched; a file not executable is
    // no tool.
    ASSERT_TRUE(avrdude_fixture_fake_tool("#!/bin/sh\n") && g_mkdir("sub", 0755) == 0 &&
                test_run("cp -p fake-bin/avrdude . && cp -p avrdude sub/ && "
                         "chmod -x fake-bin/avrdude") == 0);
    setenv("PATH", (":.:sub:" + test_path("fake-bin")).c_str(), 1);
    refused(update_request, missing,
            "The avrdude program was not found on the program search path: install the avrdude "
            "package\n");
    // No avrdude.conf here, and the tool names a system's that is not there.
    ASSERT_TRUE(avrdude_fixture_fake_tool("#!/bin/sh\necho 'System wide configuration file is "
                                          "\"/none.conf\"'") &&
                g_remove("avrdude.conf") == 0);
    refused(update_request, missing,
            "No avrdude configuration was found, neither avrdude.conf in the working folder nor "
            "the system's: install the avrdude package\n");
    ASSERT_EQ(g_mkdir("avrdude.conf", 0755), 0);
    refused(update_request, " Error: Could not copy firmware");
}

// Each failure names its cause, and every request forgets a paused run; a
// mute device gets no further than a missing one (below), not as far as the
// tool. Only the tool's status 0 succeeds, and one that waits for ever on a
// bootloader port that vanished mid-write is ended at the (here shortened)
// time limit. (Its words, input, folder, output lines and group:
// test_flash_from_anywhere.)
TEST(Update, FailuresNameTheirCause)
{
    ASSERT_TRUE(avrdude_fixture_write(test_dir()));
    // Two pages on a loaded machine (6 s was not enough).
    maintenance_update_set_tool_limit_ms(20000);
    const std::string failed = " Firmware update failed: ",
                      no_port = "Unable to access communication port to device";
    const char *tool_ran = "#!/bin/sh\ntouch tool-ran\n";
    // The request, the device's options, the tool (nullptr: the installed one).
    const std::tuple<Request, std::vector<std::string>, const char *, std::string> cases[] = {
        {reset_request, {}, tool_ran, " Device reset failed: " + no_port}, // unplugged
        {update_request, {"--no-prompt"}, tool_ran, failed + "Unable to sync with device"},
        // Executable, but its interpreter is missing: no tool at all.
        {update_request, {}, "#!/nonexistent/interpreter\n", tool_failed},
        {update_request, {}, "#!/bin/sh\nkill -9 $$\n", tool_failed}, // ended by a signal
        {update_request, {"--bootloader-vanish-after", "2"}, nullptr, tool_failed},
    };
    for (const auto &[request, options, tool, status] : cases) {
        SCOPED_TRACE(status + (tool ? tool : " (installed tool)"));
        Emulator device(options);
        const bool plugged = status.find(no_port) == std::string::npos;
        test_set_ports(plugged ? device.link().c_str() : "ttyGONE",
                       device.bootloader_link().c_str());
        g_remove("fake-bin/avrdude");
        ASSERT_TRUE(tool == nullptr || avrdude_fixture_fake_tool(tool));
        player_set_resume_pending(true); // no worker runs now
        run_request(request, status, 90000);
        EXPECT_FALSE(player_resume_pending() || g_file_test("tool-ran", G_FILE_TEST_EXISTS));
        // The installed tool was ended only after the port vanished.
        EXPECT_EQ(test_read_file(device.flash_path()).size() >= 256, tool == nullptr);
    }
}

// After the prompt the console receives "b\r" and nothing else. (The
// emulated device goes into its bootloader on it in every update.)
TEST(Reset, SucceedsAndTheDeviceGetsItsCommand)
{
    PtyDevice console;
    ASSERT_TRUE(console.write("Ravelo\r\n> "));
    test_set_ports(console.slave.c_str());
    run_request(reset_request, " Device reset succeeded");
    EXPECT_EQ(console.read_for(300), "b\r");
}

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
    EXPECT_EQ(test_log_after(before),
              test_separator + update_request.heading + "Firmware update requested\n" +
                  line(console) + line(boot) + "Firmware update failed: " + device_msg_no_port +
                  "\nFailed\n");
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
                  test_separator + update_request.heading + "Firmware update requested\n" +
                      "The device is in its bootloader: flashing without a reset\n",
                  0),
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
