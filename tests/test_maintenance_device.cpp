// Firmware, Reset into bootloader and Firmware, Update firmware through the
// real window: refused requests, an unplugged device, and the emulated
// device (its console on one port, its bootloader on the other) with the
// installed avrdude.
#include "test_player_device.h"

#include "support/avrdude_fixture.h"
#include "support/emulator.h"

#include "maintenance/firmware.h"
#include "maintenance/update.h"
#include "ui/feedback.h"
#include "ui/glib_ptr.h"

#include "tap_maker.h"

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

void set_ports(const char *device, const char *bootloader)
{
    test_app_start();
    g_free(device_port);
    device_port = g_strdup(device);
    g_free(bootloader_port);
    bootloader_port = g_strdup(bootloader);
}

void set_ports(const Emulator &device)
{
    set_ports(device.link().c_str(), device.bootloader_link().c_str());
}

// Starts the request, which turns the controls busy at once, and spins
// until its completion has run. Whatever the outcome, the log then holds
// the separator, the request's heading and its outcome, the controls are
// idle, the port is closed, and no image file or avrdude is left.
void run_request(const Request &request, const std::string &status, int timeout_ms = 30000)
{
    const std::string log = test_log_text();
    gtk_menu_item_activate(GTK_MENU_ITEM(test_widget(request.item)));
    EXPECT_EQ(test_status_text(), request.requested);
    EXPECT_TRUE(controls_busy());
    ASSERT_TRUE(test_spin_until([] { return controls_idle(); }, timeout_ms)) << test_status_text();
    EXPECT_EQ(test_status_text(), status);
    const bool ok = status.find(" failed: ") == std::string::npos;
    const std::string added = log_after(log); // between: why a port failed, the tool's lines
    EXPECT_TRUE(g_str_has_prefix(added.c_str(), (separator + request.heading).c_str()) &&
                g_str_has_suffix(added.c_str(), ok ? "\nCompleted\n" : "\nFailed\n"))
        << added;
    EXPECT_FALSE(port_is_open());
    EXPECT_FALSE(g_file_test(device_firmware_file, G_FILE_TEST_EXISTS));
    EXPECT_TRUE(avrdude_fixture_processes(test_dir()).empty());
}

} // namespace

// A refusal shows its text only: no log, no image file, and no arrangement
// of the controls (none was applied since start-up, so all are sensitive).
// The steps mend one refusal after the other, so their order shows too.
TEST(MaintenanceRequest, RefusalsShowTheirTextAndStartNothing)
{
    const auto refused = [](const Request &request, const char *status) {
        status_show("");
        gtk_menu_item_activate(GTK_MENU_ITEM(test_widget(request.item)));
        EXPECT_EQ(test_status_text(), status) << request.item;
        EXPECT_EQ(test_log_text(), "");
        EXPECT_FALSE(g_file_test(device_firmware_file, G_FILE_TEST_IS_REGULAR));
        EXPECT_TRUE(test_sensitive("menuitem_update") && test_sensitive("button_stop"));
    };
    const std::string gone = test_path("ttyGONE"), boot = test_path("ttyBOOT");
    for (const char *empty : {static_cast<const char *>(nullptr), ""}) {
        set_ports(empty, empty);
        refused(reset_request, " Error: Invalid device port");
        refused(update_request, " Error: Invalid device port");
        set_ports(gone.c_str(), empty);
        refused(update_request, " Error: Invalid bootloader port");
    }
    const char missing[] = " Error: Some update components are missing";
    set_ports(gone.c_str(), boot.c_str());
    ASSERT_TRUE(avrdude_fixture_write(test_dir()));
    // With no avrdude on PATH, a file that cannot be run is no tool.
    ASSERT_EQ(g_mkdir("empty-bin", 0755), 0);
    setenv("PATH", test_path("empty-bin").c_str(), 1);
    test_write_file(test_path("avrdude"), "#!/bin/sh\n");
    refused(update_request, missing);
    ASSERT_TRUE(avrdude_fixture_fake_tool(test_dir(), "exit 0"));
    ASSERT_TRUE(g_remove("avrdude.conf") == 0 && g_mkdir("avrdude.conf", 0755) == 0);
    refused(update_request, " Error: Could not copy firmware");
}

// Both requests start (and forget a paused run) but fail at the port; the
// update runs no tool.
TEST(MaintenanceRequest, AnUnpluggedDeviceFailsAtThePort)
{
    set_ports(test_path("ttyGONE").c_str(), test_path("ttyBOOT").c_str());
    ASSERT_TRUE(avrdude_fixture_write(test_dir()));
    ASSERT_TRUE(avrdude_fixture_fake_tool(test_dir(), "touch tool-ran"));
    resume_pending = 1; // no worker runs now
    run_request(update_request,
                " Firmware update failed: Unable to access communication port to device");
    EXPECT_EQ(resume_pending, 0);
    resume_pending = 1;
    run_request(reset_request,
                " Device reset failed: Unable to access communication port to device");
    EXPECT_EQ(resume_pending, 0);
    EXPECT_FALSE(g_file_test("tool-ran", G_FILE_TEST_EXISTS));
}

// The installed avrdude writes and verifies the embedded image through the
// emulated bootloader: the device then holds the image's data bytes, and
// the rest of its last page stays erased.
TEST(Update, FlashesTheEmbeddedImageWithTheInstalledTool)
{
    Emulator device;
    set_ports(device);
    ASSERT_TRUE(avrdude_fixture_write(test_dir()));
    run_request(update_request, " Firmware update succeeded", 90000);
    const std::vector<unsigned char> data =
        hex_data_bytes(std::string(device_firmware_image, device_firmware_image_length));
    ASSERT_EQ(data.size(), 8048u);
    const std::string flash = test_read_file(device.flash_path());
    ASSERT_GE(flash.size(), data.size());
    std::size_t same = 0;
    while (same < data.size() && static_cast<unsigned char>(flash[same]) == data[same])
        ++same;
    EXPECT_EQ(same, data.size()) << "the flash differs from the image here first";
    EXPECT_EQ(flash.find_first_not_of('\xFF', data.size()), std::string::npos);
}

// The tool in the working directory is preferred. It gets the fixed command
// line word by word (a blank in the port name splits nothing), the whole
// image, and a bootloader port that is up by then.
TEST(Update, RunsTheLocalToolWithTheFixedCommandLine)
{
    Emulator device;
    set_ports(device.link().c_str(), (device.bootloader_link() + " spare").c_str());
    ASSERT_TRUE(avrdude_fixture_write(test_dir()));
    ASSERT_TRUE(avrdude_fixture_fake_tool(test_dir(), "printf '%s\\n' \"$0\" \"$@\" > ~/args\n"
                                                      "cp ravelo32u4.hex ~/seen.hex\ntest -e '" +
                                                          device.bootloader_link() +
                                                          "' && touch ~/bootloader-was-up"));
    run_request(update_request, " Firmware update succeeded");
    EXPECT_EQ(test_read_file(test_path("args")),
              test_path("avrdude") + "\n-Cavrdude.conf\n-v\n-pravelo\n-cavr109\n-P" +
                  device.bootloader_link() + " spare\n-b57600\n-D\n-Uflash:w:ravelo32u4.hex:i\n");
    EXPECT_EQ(test_read_file(test_path("seen.hex")),
              std::string(device_firmware_image, device_firmware_image_length));
    EXPECT_TRUE(g_file_test("bootloader-was-up", G_FILE_TEST_EXISTS));
}

TEST(Update, FailuresOnTheDeviceSideNameTheirCause)
{
    ASSERT_TRUE(avrdude_fixture_write(test_dir()));
    struct Case {
        std::vector<std::string> device;
        const char *local_tool; // nullptr: the installed one
        const char *status;
    };
    const Case cases[] = {
        {{"--bad-signature"}, nullptr, tool_failed},
        // Executable, but its interpreter is missing: no tool at all.
        {{}, "#!/nonexistent/interpreter\n", tool_failed},
        // Never sent to the bootloader, so no tool runs.
        {{"--no-prompt"},
         "#!/bin/sh\ntouch tool-ran\n",
         " Firmware update failed: Unable to sync with device"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.status);
        Emulator device(c.device);
        set_ports(device);
        g_remove("avrdude");
        if (c.local_tool != nullptr) {
            test_write_file(test_path("avrdude"), c.local_tool);
            ASSERT_EQ(g_chmod("avrdude", 0755), 0);
        }
        run_request(update_request, c.status, 90000);
        EXPECT_FALSE(g_file_test("tool-ran", G_FILE_TEST_EXISTS));
    }
}

// A bootloader port that vanishes mid-write leaves the installed avrdude
// waiting for ever; the update ends it at the (here shortened) time limit.
TEST(Update, ABootloaderThatVanishesMidWriteEndsAtTheTimeLimit)
{
    Emulator device({"--bootloader-vanish-after", "2"});
    set_ports(device);
    ASSERT_TRUE(avrdude_fixture_write(test_dir()));
    device_update_set_tool_limit_ms(6000);
    // The reset steps, the 2 s wait, the limit and the grace second: well
    // inside the 40 s, far short of the default limit.
    run_request(update_request, tool_failed, 40000);
    // The device took pages before its port vanished: the tool did run.
    EXPECT_GE(test_read_file(device.flash_path()).size(), 256u)
        << "the tool ended before the port vanished";
}

// A reset between Pause and Play: the device no longer holds the paused
// run, so Play starts afresh at the selected record.
TEST(Reset, SucceedsAndTheNextPlayStartsAtTheSelectedRecord)
{
    // Paced, so that the pause falls mid-tape; the bootloader idles back to
    // the console half a second after the reset.
    Emulator device({"--speed", "8", "--bootloader-timeout", "500"});
    ASSERT_TRUE(device.ok());
    set_device_port(device.link());
    const std::string tap = tap_make(40);
    test_write_file(test_path("game.tap"), tap);
    test_write_file(test_path("game.idx"), tap_make_idx(tap));
    ASSERT_TRUE(open_tap_file(test_path("game.tap")));
    select_row(2);
    const long offset = selected_offset();
    ASSERT_GT(offset, 20) << "the IDX file has records inside the data";
    const std::string header =
        tap.substr(0, 16) + le32(tap_length_field(tap) - guint32(offset - 20));
    const auto recorded = [&device] { return test_read_file(device.record_path()); };

    click("button_play");
    ASSERT_TRUE(test_spin_until([&] { return recorded().size() > 20 + 3000; }, 20000));
    click("button_pause");
    ASSERT_TRUE(status_is(" Playback paused", 3000));
    run_request(reset_request, " Device reset succeeded", 15000);
    // The device got "b\r": into its bootloader and, once that idles, back
    // to the console.
    ASSERT_TRUE(emulator_wait_path(device.bootloader_link(), true, 10000) &&
                emulator_wait_path(device.bootloader_link(), false, 10000) &&
                emulator_wait_path(device.link(), true, 5000));
    // Only now: chunks still in flight at the pause are recorded by then.
    const std::size_t first = recorded().size();

    const std::string log = test_log_text();
    click("button_play");
    // A fresh run announces itself in the log; a resumed one would not.
    EXPECT_EQ(log_after(log), separator + std::string("Playback started\n"));
    ASSERT_TRUE(test_spin_until([&] { return recorded().size() > first + 20 + 1000; }, 20000));
    click("button_stop");
    ASSERT_TRUE(status_is(" Playback stopped", 3000));
    const std::string second = recorded().substr(first);
    EXPECT_EQ(second.substr(0, 20), header);
    EXPECT_EQ(second.substr(20, 1000), tap.substr(std::size_t(offset), 1000));
}
