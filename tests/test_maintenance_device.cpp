// Device reset and firmware update against the emulated device: its console
// on one port, its bootloader on the other, and the installed avrdude.
#include "support/avrdude_fixture.h"
#include "support/emulator.h"
#include "support/harness.h"

#include "app/app.h"
#include "config/config.h"
#include "device/serial.h"
#include "maintenance/firmware.h"
#include "maintenance/update.h"

#include <gtest/gtest.h>

#include <glib.h>
#include <glib/gstdio.h>

#include <algorithm>
#include <cstdlib>
#include <string>
#include <vector>

namespace
{

const std::string separator = "================================\n";

void set_ports(const std::string &device, const std::string &bootloader)
{
    g_free(device_port);
    device_port = g_strdup(device.c_str());
    g_free(bootloader_port);
    bootloader_port = g_strdup(bootloader.c_str());
}

void activate(const char *item)
{
    gtk_menu_item_activate(GTK_MENU_ITEM(test_widget(item)));
}

bool controls_idle()
{
    return test_sensitive("menuitem_update") && test_sensitive("menuitem_reset_into_bootloader") &&
           test_sensitive("button_play") && !test_sensitive("button_stop");
}

bool controls_busy()
{
    return !test_sensitive("menuitem_update") &&
           !test_sensitive("menuitem_reset_into_bootloader") && !test_sensitive("button_play") &&
           test_sensitive("button_stop");
}

bool image_file_exists()
{
    return g_file_test(device_firmware_file, G_FILE_TEST_EXISTS);
}

// Starts the request and spins until its completion has run.
void run_to_completion(const char *item, int timeout_ms)
{
    activate(item);
    ASSERT_TRUE(controls_busy());
    ASSERT_TRUE(test_spin_until([] { return controls_idle(); }, timeout_ms))
        << "still busy; status: " << test_status_text();
}

// The port was closed: it can be opened (exclusively) again.
bool port_free_again(const std::string &port)
{
    if (port_open != 0 || !serial_open(port.c_str()))
        return false;
    serial_close();
    return true;
}

void hide_installed_tool()
{
    const std::string empty = test_path("empty-bin");
    ASSERT_EQ(g_mkdir_with_parents(empty.c_str(), 0755), 0);
    setenv("PATH", empty.c_str(), 1);
}

std::string embedded_image()
{
    return std::string(device_firmware_image, device_firmware_image_length);
}

// A stand-in tool that records how it was called: its program word, one
// argument per line, the image it found, and whether the bootloader port
// was there when it ran.
void record_calls_tool(const std::string &bootloader)
{
    const std::string script = "echo \"$0\" > program\n"
                               "for a in \"$@\"; do echo \"$a\"; done > args\n"
                               "cp ravelo32u4.hex seen.hex\n"
                               "test -e '" +
                               bootloader + "' && touch bootloader-was-there\nexit 0";
    ASSERT_TRUE(avrdude_fixture_fake_tool(test_dir(), script));
}

} // namespace

TEST(Reset, SendsTheDeviceToItsBootloader)
{
    test_app_start();
    Emulator device;
    set_ports(device.link(), device.bootloader_link());
    activate("menuitem_reset_into_bootloader");
    EXPECT_EQ(test_status_text(), " Device reset requested");
    ASSERT_TRUE(test_spin_until([] { return controls_idle(); }, 15000));
    EXPECT_EQ(test_status_text(), " Device reset succeeded");
    EXPECT_EQ(test_log_text(), separator + "Resetting device\nCompleted\n");
    EXPECT_EQ(port_open, 0);
    // The device got "b\r": its bootloader's port comes up.
    EXPECT_TRUE(test_spin_until(
        [&] { return g_file_test(device.bootloader_link().c_str(), G_FILE_TEST_EXISTS); }, 10000));
}

TEST(Reset, ADeviceThatNeverPromptsFailsAndThePortIsClosed)
{
    test_app_start();
    Emulator device({"--no-prompt"});
    set_ports(device.link(), device.bootloader_link());
    run_to_completion("menuitem_reset_into_bootloader", 30000);
    EXPECT_EQ(test_status_text(), " Device reset failed: Unable to sync with device");
    EXPECT_EQ(test_log_text(), separator + "Resetting device\nFailed\n");
    EXPECT_TRUE(port_free_again(device.link()));
    // No jump was asked for.
    EXPECT_FALSE(g_file_test(device.bootloader_link().c_str(), G_FILE_TEST_EXISTS));
}

TEST(Update, FlashesTheEmbeddedImageWithTheInstalledTool)
{
    test_app_start();
    ASSERT_TRUE(avrdude_fixture_write(test_dir()));
    Emulator device;
    set_ports(device.link(), device.bootloader_link());
    activate("menuitem_update");
    EXPECT_EQ(test_status_text(), " Firmware update requested");
    EXPECT_TRUE(image_file_exists());
    ASSERT_TRUE(test_spin_until([] { return controls_idle(); }, 90000)) << test_status_text();

    EXPECT_EQ(test_status_text(), " Firmware update succeeded");
    EXPECT_EQ(test_log_text(), separator + "Updating device firmware\nCompleted\n");
    EXPECT_FALSE(image_file_exists());
    EXPECT_EQ(port_open, 0);
    EXPECT_TRUE(avrdude_fixture_processes(test_dir()).empty());

    // What the device holds now is the image's data, byte for byte; the
    // rest of the last page stays erased.
    const std::vector<unsigned char> data = hex_data_bytes(embedded_image());
    ASSERT_EQ(data.size(), 8048u);
    const std::string dump = test_read_file(device.flash_path());
    const std::vector<unsigned char> flash(dump.begin(), dump.end());
    ASSERT_GE(flash.size(), data.size());
    const auto differ = std::mismatch(data.begin(), data.end(), flash.begin());
    EXPECT_TRUE(differ.first == data.end())
        << "first difference at 0x" << std::hex << (differ.first - data.begin()) << ": image "
        << unsigned(*differ.first) << ", flash " << unsigned(*differ.second);
    for (std::size_t i = data.size(); i < flash.size(); ++i)
        ASSERT_EQ(flash[i], 0xFF) << "at " << i;
}

TEST(Update, RunsTheLocalToolWithTheFixedCommandLine)
{
    test_app_start();
    ASSERT_TRUE(avrdude_fixture_write(test_dir()));
    Emulator device;
    // A blank in the port name splits it into two words, as the shell's
    // rules do.
    const std::string bootloader = device.bootloader_link() + " spare";
    set_ports(device.link(), bootloader);
    record_calls_tool(device.bootloader_link());
    test_write_file(test_path(device_firmware_file), "an old image");

    run_to_completion("menuitem_update", 30000);
    EXPECT_EQ(test_status_text(), " Firmware update succeeded");
    EXPECT_EQ(test_log_text(), separator + "Updating device firmware\nCompleted\n");
    EXPECT_EQ(test_read_file(test_path("program")), "./avrdude\n");
    EXPECT_EQ(test_read_file(test_path("args")),
              "-Cavrdude.conf\n-v\n-pravelo\n-cavr109\n-P" + device.bootloader_link() +
                  "\nspare\n-b57600\n-D\n-Uflash:w:ravelo32u4.hex:i\n");
    // The tool found the whole image in place of the old file, and the
    // bootloader's port was up by then.
    EXPECT_EQ(test_read_file(test_path("seen.hex")), embedded_image());
    EXPECT_TRUE(g_file_test("bootloader-was-there", G_FILE_TEST_EXISTS));
    EXPECT_FALSE(image_file_exists());
    EXPECT_EQ(port_open, 0);
}

TEST(Update, AWrongSignatureMakesTheInstalledToolFail)
{
    test_app_start();
    ASSERT_TRUE(avrdude_fixture_write(test_dir()));
    Emulator device({"--bad-signature"});
    set_ports(device.link(), device.bootloader_link());
    test_write_file(test_path(device_firmware_file), "an old image");

    run_to_completion("menuitem_update", 90000);
    EXPECT_EQ(test_status_text(),
              " Firmware update failed: The avrdude executable exited with error");
    EXPECT_EQ(test_log_text(), separator + "Updating device firmware\nFailed\n");
    EXPECT_FALSE(image_file_exists()) << "removed after a failure too";
    EXPECT_EQ(port_open, 0);
    EXPECT_TRUE(avrdude_fixture_processes(test_dir()).empty());
}

TEST(Update, AToolThatCannotStartFailsTheUpdate)
{
    test_app_start();
    ASSERT_TRUE(avrdude_fixture_write(test_dir()));
    hide_installed_tool();
    ASSERT_TRUE(avrdude_fixture_fake_tool(test_dir(), ""));
    // Executable, but its interpreter does not exist.
    test_write_file(test_path("avrdude"), "#!/nonexistent/interpreter\n");
    Emulator device;
    set_ports(device.link(), device.bootloader_link());

    run_to_completion("menuitem_update", 30000);
    EXPECT_EQ(test_status_text(),
              " Firmware update failed: The avrdude executable exited with error");
    EXPECT_EQ(test_log_text(), separator + "Updating device firmware\nFailed\n");
    EXPECT_FALSE(image_file_exists());
    EXPECT_EQ(port_open, 0);
}

TEST(Update, ADeviceThatNeverPromptsRunsNoTool)
{
    test_app_start();
    ASSERT_TRUE(avrdude_fixture_write(test_dir()));
    Emulator device({"--no-prompt"});
    set_ports(device.link(), device.bootloader_link());
    record_calls_tool(device.bootloader_link());

    run_to_completion("menuitem_update", 30000);
    EXPECT_EQ(test_status_text(), " Firmware update failed: Unable to sync with device");
    EXPECT_EQ(test_log_text(), separator + "Updating device firmware\nFailed\n");
    EXPECT_FALSE(g_file_test("args", G_FILE_TEST_EXISTS));
    EXPECT_FALSE(image_file_exists());
    EXPECT_TRUE(port_free_again(device.link()));
}

// The installed tool never gives up on a bootloader port that vanished
// mid-write; the update ends it at its time limit instead of hanging.
TEST(Update, ABootloaderThatVanishesMidWriteEndsAtTheTimeLimit)
{
    test_app_start();
    ASSERT_TRUE(avrdude_fixture_write(test_dir()));
    Emulator device({"--bootloader-vanish-after", "2"});
    set_ports(device.link(), device.bootloader_link());
    device_update_set_tool_limit_ms(6000);

    // Reset steps, the 2 s wait, the limit, the grace period: well inside.
    run_to_completion("menuitem_update", 40000);
    EXPECT_EQ(test_status_text(),
              " Firmware update failed: The avrdude executable exited with error");
    EXPECT_EQ(test_log_text(), separator + "Updating device firmware\nFailed\n");
    EXPECT_FALSE(image_file_exists());
    EXPECT_EQ(port_open, 0);
    EXPECT_TRUE(avrdude_fixture_processes(test_dir()).empty()) << "no tool left behind";
    // The device took some pages before its port vanished: the tool did run.
    const std::string flash = test_read_file(device.flash_path());
    EXPECT_GE(flash.size(), 256u);
}
