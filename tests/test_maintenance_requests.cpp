// Firmware menu requests that end before or without a device: refused
// requests, an unplugged device, and what a started request changes at once.
#include "support/avrdude_fixture.h"
#include "support/harness.h"

#include "app/app.h"
#include "config/config.h"
#include "device/serial.h"
#include "maintenance/firmware.h"
#include "maintenance/reset.h"
#include "maintenance/update.h"
#include "player/playback.h"
#include "ui/feedback.h"
#include "ui/glib_ptr.h"

#include <gtest/gtest.h>

#include <glib.h>
#include <glib/gstdio.h>

#include <cstdlib>
#include <string>

namespace
{

const std::string separator = "================================\n";

void set_ports(const char *device, const char *bootloader)
{
    g_free(device_port);
    device_port = device != nullptr ? g_strdup(device) : nullptr;
    g_free(bootloader_port);
    bootloader_port = bootloader != nullptr ? g_strdup(bootloader) : nullptr;
}

void activate(const char *item)
{
    gtk_menu_item_activate(GTK_MENU_ITEM(test_widget(item)));
}

// Nothing has applied an arrangement yet, so every control is sensitive;
// an arrangement of either kind would make one of these two insensitive.
bool controls_untouched()
{
    return test_sensitive("menuitem_update") && test_sensitive("button_stop");
}

bool controls_busy()
{
    return !test_sensitive("menuitem_update") &&
           !test_sensitive("menuitem_reset_into_bootloader") &&
           !test_sensitive("menuitem_configuration") && !test_sensitive("button_play") &&
           test_sensitive("button_stop");
}

bool controls_idle()
{
    return test_sensitive("menuitem_update") && test_sensitive("menuitem_reset_into_bootloader") &&
           test_sensitive("menuitem_configuration") && test_sensitive("button_play") &&
           !test_sensitive("button_stop");
}

bool image_file_exists()
{
    return g_file_test(device_firmware_file, G_FILE_TEST_EXISTS);
}

// A PATH on which no avrdude can be found.
void hide_installed_tool()
{
    const std::string empty = test_path("empty-bin");
    ASSERT_EQ(g_mkdir_with_parents(empty.c_str(), 0755), 0);
    setenv("PATH", empty.c_str(), 1);
}

int resume_pending_now()
{
    g_mutex_lock(&resume_lock);
    const int value = resume_pending;
    g_mutex_unlock(&resume_lock);
    return value;
}

const char unplugged_failure_reset[] =
    " Device reset failed: Unable to access communication port to device";
const char unplugged_failure_update[] =
    " Firmware update failed: Unable to access communication port to device";

} // namespace

TEST(ResetRequest, WithoutADevicePortOnlyShowsAnError)
{
    test_app_start();
    for (const char *port : {"", static_cast<const char *>(nullptr)}) {
        set_ports(port, "/dev/ttyACM1");
        activate("menuitem_reset_into_bootloader");
        EXPECT_EQ(test_status_text(), " Error: Invalid device port");
        test_spin_for(100);
        EXPECT_EQ(test_log_text(), "");
        EXPECT_TRUE(controls_untouched());
    }
}

TEST(ResetRequest, AnUnpluggedDeviceFailsAndRestoresTheControls)
{
    test_app_start();
    set_ports(test_path("ttyGONE").c_str(), "");
    activate("menuitem_reset_into_bootloader");
    EXPECT_EQ(test_status_text(), " Device reset requested");
    EXPECT_TRUE(controls_busy());
    ASSERT_TRUE(test_spin_until([] { return test_status_text() != " Device reset requested"; }));
    EXPECT_EQ(test_status_text(), unplugged_failure_reset);
    EXPECT_EQ(test_log_text(), separator + "Resetting device\nFailed\n");
    EXPECT_TRUE(controls_idle());
    EXPECT_EQ(port_open, 0);
}

TEST(ResetRequest, StartingClearsAPendingResume)
{
    test_app_start();
    set_ports(test_path("ttyGONE").c_str(), "");
    g_mutex_lock(&resume_lock);
    resume_pending = 1;
    g_mutex_unlock(&resume_lock);
    activate("menuitem_reset_into_bootloader");
    EXPECT_EQ(resume_pending_now(), 0);
    EXPECT_TRUE(test_spin_until([] { return controls_idle(); }));
}

TEST(UpdateRequest, WithBothPortsEmptyOnlyTheDevicePortIsReported)
{
    test_app_start();
    ASSERT_TRUE(avrdude_fixture_write(test_dir()));
    for (const char *port : {"", static_cast<const char *>(nullptr)}) {
        set_ports(port, port);
        activate("menuitem_update");
        EXPECT_EQ(test_status_text(), " Error: Invalid device port");
        EXPECT_EQ(test_log_text(), "");
        EXPECT_FALSE(image_file_exists());
        EXPECT_TRUE(controls_untouched());
    }
}

TEST(UpdateRequest, WithoutABootloaderPortShowsThatError)
{
    test_app_start();
    ASSERT_TRUE(avrdude_fixture_write(test_dir()));
    for (const char *port : {"", static_cast<const char *>(nullptr)}) {
        set_ports(test_path("ttyGONE").c_str(), port);
        activate("menuitem_update");
        EXPECT_EQ(test_status_text(), " Error: Invalid bootloader port");
        EXPECT_EQ(test_log_text(), "");
        EXPECT_FALSE(image_file_exists());
        EXPECT_TRUE(controls_untouched());
    }
}

TEST(UpdateRequest, WithoutTheToolsConfigurationComponentsAreMissing)
{
    test_app_start();
    // The installed tool alone is not enough.
    ASSERT_NE(GCharPtr(g_find_program_in_path("avrdude")), nullptr) << "avrdude must be installed";
    set_ports(test_path("ttyGONE").c_str(), test_path("ttyBOOT").c_str());
    activate("menuitem_update");
    EXPECT_EQ(test_status_text(), " Error: Some update components are missing");
    EXPECT_EQ(test_log_text(), "");
    EXPECT_FALSE(image_file_exists()) << "no image is written before the checks pass";
    EXPECT_TRUE(controls_untouched());
}

TEST(UpdateRequest, WithoutAToolComponentsAreMissing)
{
    test_app_start();
    ASSERT_TRUE(avrdude_fixture_write(test_dir()));
    hide_installed_tool();
    // A file of that name that cannot be run is no tool, nor is a folder.
    test_write_file(test_path("avrdude"), "#!/bin/sh\nexit 0\n");
    ASSERT_EQ(g_chmod("avrdude", 0644), 0);
    set_ports(test_path("ttyGONE").c_str(), test_path("ttyBOOT").c_str());
    activate("menuitem_update");
    EXPECT_EQ(test_status_text(), " Error: Some update components are missing");
    EXPECT_FALSE(image_file_exists());

    ASSERT_EQ(g_unlink("avrdude"), 0);
    ASSERT_EQ(g_mkdir("avrdude", 0755), 0);
    status_show("");
    activate("menuitem_update");
    EXPECT_EQ(test_status_text(), " Error: Some update components are missing");
    EXPECT_EQ(test_log_text(), "");
    EXPECT_FALSE(image_file_exists());
    EXPECT_TRUE(controls_untouched());
}

TEST(UpdateRequest, WhenTheImageCannotBeWrittenNothingStarts)
{
    test_app_start();
    ASSERT_TRUE(avrdude_fixture_write(test_dir()));
    ASSERT_EQ(g_mkdir(device_firmware_file, 0755), 0);
    set_ports(test_path("ttyGONE").c_str(), test_path("ttyBOOT").c_str());
    activate("menuitem_update");
    EXPECT_EQ(test_status_text(), " Error: Could not copy firmware");
    test_spin_for(100);
    EXPECT_EQ(test_log_text(), "");
    EXPECT_TRUE(controls_untouched());
}

TEST(UpdateRequest, AnUnpluggedDeviceRunsNoToolAndRemovesTheImage)
{
    test_app_start();
    ASSERT_TRUE(avrdude_fixture_write(test_dir()));
    // Only the tool in the working directory: enough for the request, and
    // it leaves a mark if it is ever run.
    hide_installed_tool();
    ASSERT_TRUE(avrdude_fixture_fake_tool(test_dir(), "touch tool-ran"));
    test_write_file(test_path(device_firmware_file), "old image");
    set_ports(test_path("ttyGONE").c_str(), test_path("ttyBOOT").c_str());
    g_mutex_lock(&resume_lock);
    resume_pending = 1;
    g_mutex_unlock(&resume_lock);

    activate("menuitem_update");
    EXPECT_EQ(test_status_text(), " Firmware update requested");
    EXPECT_EQ(resume_pending_now(), 0);
    EXPECT_TRUE(controls_busy());
    // Written whole over the old file before the worker starts.
    EXPECT_EQ(test_read_file(test_path(device_firmware_file)),
              std::string(device_firmware_image, device_firmware_image_length));

    ASSERT_TRUE(test_spin_until([] { return test_status_text() != " Firmware update requested"; }));
    EXPECT_EQ(test_status_text(), unplugged_failure_update);
    EXPECT_EQ(test_log_text(), separator + "Updating device firmware\nFailed\n");
    EXPECT_FALSE(image_file_exists());
    EXPECT_FALSE(g_file_test("tool-ran", G_FILE_TEST_EXISTS));
    EXPECT_TRUE(controls_idle());
    EXPECT_EQ(port_open, 0);
}
