// A device reset between Pause and Play: the device no longer holds the
// paused run, so Play starts afresh at the selected record.
#include "test_player_device.h"

#include "support/emulator.h"

#include "tap_maker.h"

#include <gtest/gtest.h>

TEST(ResetAfterPause, TheNextPlayStartsAtTheSelectedRecord)
{
    // Paced, so that the pause falls in the middle of the tape; the
    // bootloader idles back to the console half a second after the reset.
    Emulator emu({"--speed", "8", "--bootloader-timeout", "500"});
    ASSERT_TRUE(emu.ok());
    set_device_port(emu.link());
    const std::string path = test_path("game.tap");
    const std::string tap = tap_make(40);
    test_write_file(path, tap);
    test_write_file(test_path("game.idx"), tap_make_idx(tap));
    ASSERT_TRUE(open_tap_file(path));
    select_row(2);
    const long offset = selected_offset();
    ASSERT_GT(offset, 20) << "the IDX file has records inside the data";
    const std::string header =
        tap.substr(0, 16) + le32(tap_length_field(tap) - guint32(offset - 20));

    click("button_play");
    ASSERT_TRUE(test_spin_until(
        [&] { return test_read_file(emu.record_path()).size() > 20 + 3000; }, 20000));
    click("button_pause");
    ASSERT_TRUE(status_is(" Playback paused", 3000));
    const std::string first = test_read_file(emu.record_path());
    ASSERT_EQ(first.substr(0, 20), header);

    gtk_menu_item_activate(GTK_MENU_ITEM(test_widget("menuitem_reset_into_bootloader")));
    ASSERT_TRUE(status_is(" Device reset succeeded", 15000));
    // Into the bootloader and, once it idles, back to the console.
    ASSERT_TRUE(emulator_wait_path(emu.bootloader_link(), true, 5000));
    ASSERT_TRUE(emulator_wait_path(emu.bootloader_link(), false, 10000));
    ASSERT_TRUE(emulator_wait_path(emu.link(), true, 5000));

    const std::string log = test_log_text();
    click("button_play");
    // A fresh run announces itself in the log; a resumed one would not.
    EXPECT_EQ(log_after(log), std::string(separator) + "Playback started\n");
    ASSERT_TRUE(test_spin_until(
        [&] { return test_read_file(emu.record_path()).size() > first.size() + 20 + 1000; },
        20000));
    click("button_stop");
    ASSERT_TRUE(status_is(" Playback stopped", 3000));

    // The second run: the selected record's header and data from there,
    // not the bytes after the pause.
    const std::string second = test_read_file(emu.record_path()).substr(first.size());
    ASSERT_GE(second.size(), 20u + 1000u);
    EXPECT_EQ(second.substr(0, 20), header);
    EXPECT_EQ(second.substr(20, 1000), tap.substr(std::size_t(offset), 1000));
    expect_run_closed();
}
