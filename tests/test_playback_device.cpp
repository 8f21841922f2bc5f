// Playback through the real main window against a device played by the test
// over a pseudo-terminal: every request and every answer is checked exactly.
#include "test_player_device.h"

#include "index/index_list.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>

TEST(PlaybackDevice, StreamsHeaderThenChunksOfAtMost64)
{
    PtyDevice device;
    set_device_port(device.path());
    const Fixture f = attach(data_of(100));
    ASSERT_EQ(selected_offset(), 20);

    click("button_play");
    EXPECT_EQ(test_status_text(), " Playback started");
    EXPECT_EQ(test_log_text(), std::string(separator) + "Playback started\n");
    EXPECT_TRUE(controls_busy());

    ASSERT_TRUE(device.start_playback());
    EXPECT_EQ(device.header(), f.tap.substr(0, 20)) << "the header goes out unchanged";
    EXPECT_EQ(device.chunk(), f.data.substr(0, 64));
    EXPECT_EQ(device.chunk(), f.data.substr(64, 36));
    EXPECT_EQ(device.chunk(), "") << "nothing once the file is exhausted";
    EXPECT_EQ(device.chunk(), "");
    device.send("e");
    ASSERT_TRUE(status_is(" Playback over: Success condition received"));
    EXPECT_EQ(test_log_text(), std::string(separator) + "Playback started\n")
        << "a run that ends by itself logs nothing more";
    expect_run_closed();
    EXPECT_TRUE(device.wait_closed());
    EXPECT_EQ(resume_pending, 0);
    EXPECT_EQ(player_running, 0);
}

TEST(PlaybackDevice, StartsInsideTheDataWithTheLengthAdjusted)
{
    PtyDevice device;
    set_device_port(device.path());
    const Fixture f = attach(data_of(5000), "0x14\t\tTape start\r\n1000\t\tLevel 2\r\n");
    select_row(1);
    ASSERT_EQ(selected_offset(), 1000);

    click("button_play");
    ASSERT_TRUE(device.start_playback());
    const std::string header = device.header();
    ASSERT_EQ(header.size(), 20u);
    EXPECT_EQ(header.substr(0, 16), f.tap.substr(0, 16));
    EXPECT_EQ(header.substr(16), le32(4020));
    EXPECT_EQ(device.chunk_of(64), f.tap.substr(1000, 64)) << "the data starts at byte 1000";
    // Everything from the start offset to the end of the file, nothing more.
    EXPECT_EQ(device.rest_of_data(), f.tap.substr(1064));
    device.send("e");
    ASSERT_TRUE(status_is(" Playback over: Success condition received"));
    expect_run_closed();
}

TEST(PlaybackDevice, OffsetAtOrPastTheEndOfTheDataIsInvalid)
{
    PtyDevice device;
    set_device_port(device.path());
    const Fixture f =
        attach(data_of(5000), "0x14\t\tStart\r\n5019\t\tLast\r\n5020\t\tEnd\r\n6000\t\tBeyond\r\n");
    for (int row : {2, 3}) {
        select_row(row);
        click("button_play");
        ASSERT_TRUE(device.start_playback());
        device.send("h");
        EXPECT_EQ(device.receive_quiet(), "") << "nothing but the echo of p goes out";
        ASSERT_TRUE(status_is(" Playback over: Invalid index supplied for file"));
        expect_run_closed();
        ASSERT_TRUE(device.wait_closed());
    }

    // The last data byte is still inside: a header for one byte, then it.
    select_row(1);
    click("button_play");
    ASSERT_TRUE(device.start_playback());
    const std::string header = device.header();
    EXPECT_EQ(header.substr(16), le32(1));
    EXPECT_EQ(device.rest_of_data(), f.tap.substr(5019));
    device.send("e");
    ASSERT_TRUE(status_is(" Playback over: Success condition received"));
}

TEST(PlaybackDevice, IgnoresUnknownBytesAndDataRequestsBeforeTheHeader)
{
    PtyDevice device;
    set_device_port(device.path());
    const Fixture f = attach(data_of(200));
    click("button_play");
    ASSERT_TRUE(device.start_playback());
    device.send(std::string("x\0?\r\nHD", 7));
    EXPECT_EQ(device.chunk(), "") << "no data before the header";
    EXPECT_EQ(device.header(), f.tap.substr(0, 20));
    device.send("zz");
    EXPECT_EQ(device.chunk_of(64), f.data.substr(0, 64));
    EXPECT_EQ(device.receive_quiet(), "");
    device.send("e");
    ASSERT_TRUE(status_is(" Playback over: Success condition received"));
}

TEST(PlaybackDevice, RepeatedHeaderRequestNeverSendsDataAsHeader)
{
    PtyDevice device;
    set_device_port(device.path());
    const Fixture f = attach(data_of(200));
    click("button_play");
    ASSERT_TRUE(device.start_playback());
    EXPECT_EQ(device.header(), f.tap.substr(0, 20));
    EXPECT_EQ(device.header(), f.tap.substr(0, 20));
    EXPECT_EQ(device.chunk_of(64), f.data.substr(0, 64));
    // Asked again mid-stream: the header counts what is still to come, and
    // the data goes on where it was.
    const std::string again = device.header();
    EXPECT_EQ(again.substr(0, 16), f.tap.substr(0, 16));
    EXPECT_EQ(again.substr(16), le32(200 - 64));
    EXPECT_EQ(device.rest_of_data(), f.data.substr(64));
    device.send("e");
    ASSERT_TRUE(status_is(" Playback over: Success condition received"));
}

TEST(PlaybackDevice, DeviceFailureEndsTheRunAndClearsTheResume)
{
    PtyDevice device;
    set_device_port(device.path());
    const Fixture f = attach(data_of(300));
    click("button_play");
    ASSERT_TRUE(device.start_playback());
    device.header();
    device.chunk_of(64);
    device.send("f");
    ASSERT_TRUE(status_is(" Playback over: Failure condition received"));
    expect_run_closed();
    EXPECT_EQ(resume_pending, 0);
    EXPECT_EQ(player_running, 0);

    // The next Play starts at the selected record again.
    const std::string log = test_log_text();
    click("button_play");
    EXPECT_EQ(log_after(log), std::string(separator) + "Playback started\n");
    ASSERT_TRUE(device.start_playback());
    EXPECT_EQ(device.header(), f.tap.substr(0, 20));
    EXPECT_EQ(device.chunk_of(64), f.data.substr(0, 64));
    device.send("e");
    ASSERT_TRUE(status_is(" Playback over: Success condition received"));
}

TEST(PlaybackDevice, SilentDeviceAndWrongEchoEndTheStart)
{
    PtyDevice device;
    set_device_port(device.path());
    attach(data_of(100));

    click("button_play");
    ASSERT_TRUE(device.wait_opened());
    ASSERT_TRUE(status_is(" Playback over: Unable to sync with device", 20000));
    expect_run_closed();
    ASSERT_TRUE(device.wait_closed());

    click("button_play");
    ASSERT_TRUE(device.wait_opened());
    device.send("\r\n> ");
    EXPECT_EQ(device.receive(2), "p\r");
    device.send("P\r\n");
    ASSERT_TRUE(status_is(" Playback over: Unable to start playback on device", 20000));
    expect_run_closed();
}

TEST(PlaybackDevice, FileReadErrorsSendHAndEnd)
{
    PtyDevice device;
    set_device_port(device.path());
    test_app_start();
    // Too short for a header.
    const std::string short_path = test_path("short.tap");
    test_write_file(short_path, "C64-TAPE");
    ASSERT_TRUE(open_tap_file(short_path));
    click("button_play");
    ASSERT_TRUE(device.start_playback());
    device.send("h");
    EXPECT_EQ(device.receive_quiet(), "h");
    ASSERT_TRUE(status_is(" Playback over: Error reading from file"));
    expect_run_closed();
    ASSERT_TRUE(device.wait_closed());

    // The header promises more data than the file holds.
    const std::string cut_path = test_path("cut.tap");
    test_write_file(cut_path, tap_header(5000) + data_of(100));
    test_write_file(test_path("cut.idx"), "1000\t\tPast the end of the file\r\n");
    ASSERT_TRUE(open_tap_file(cut_path));
    select_row(1);
    ASSERT_EQ(selected_offset(), 1000);
    click("button_play");
    ASSERT_TRUE(device.start_playback());
    EXPECT_EQ(device.header().substr(16), le32(4020));
    EXPECT_EQ(device.chunk(), "h");
    ASSERT_TRUE(status_is(" Playback over: Error reading from file"));
    expect_run_closed();
}

TEST(PlaybackDevice, MissingOrHeldTapFileCannotBeOpened)
{
    PtyDevice device;
    set_device_port(device.path());
    const Fixture f = attach(data_of(100));

    const int holder = open(f.tap_path.c_str(), O_RDONLY);
    ASSERT_GE(holder, 0);
    ASSERT_EQ(flock(holder, LOCK_SH), 0);
    click("button_play");
    ASSERT_TRUE(status_is(" Playback over: Unable to open file"));
    expect_run_closed();
    close(holder);

    if (geteuid() != 0) {
        ASSERT_EQ(chmod(f.tap_path.c_str(), 0), 0);
        click("button_play");
        ASSERT_TRUE(status_is(" Playback over: Unable to open file"));
        expect_run_closed();
        chmod(f.tap_path.c_str(), 0644);
    }

    ASSERT_EQ(unlink(f.tap_path.c_str()), 0);
    click("button_play");
    ASSERT_TRUE(status_is(" Playback over: Unable to open file"));
    expect_run_closed();
    EXPECT_TRUE(device.wait_closed());
}

TEST(PlaybackDevice, MissingOrEmptyPort)
{
    test_app_start();
    const Fixture f = attach(data_of(100));
    set_device_port(test_path("no-such-port"));
    click("button_play");
    ASSERT_TRUE(status_is(" Playback over: Unable to access communication port to device"));
    expect_run_closed();

    const std::string log = test_log_text();
    set_device_port("");
    click("button_play");
    EXPECT_EQ(test_status_text(), " Error: Invalid device port");
    EXPECT_EQ(test_log_text(), log) << "nothing started, nothing logged";
    EXPECT_TRUE(controls_idle());
    test_spin_for(300);
    EXPECT_EQ(test_status_text(), " Error: Invalid device port");
}

TEST(PlaybackDevice, VanishedDeviceCostsNoCpuUntilStop)
{
    PtyDevice device;
    set_device_port(device.path());
    attach(data_of(1000));
    click("button_play");
    ASSERT_TRUE(device.start_playback());
    device.header();
    device.chunk_of(64);

    // Silent first, then gone: both only cost the worker its waits.
    for (bool gone : {false, true}) {
        if (gone)
            device.hang_up();
        const long before = player_thread_ticks();
        ASSERT_GE(before, 0) << "the player thread is running";
        g_usleep(2000 * 1000);
        const long used = player_thread_ticks() - before;
        EXPECT_LT(used, sysconf(_SC_CLK_TCK) / 5) << "CPU ticks in 2 s, device gone: " << gone;
        EXPECT_TRUE(controls_busy()) << "the run waits for the user";
    }

    const std::string log = test_log_text();
    click("button_stop");
    ASSERT_TRUE(status_is(" Playback stopped", 3000));
    EXPECT_EQ(log_after(log), "Stopped\n");
    expect_run_closed();
}

TEST(PlaybackDevice, PauseThenPlayContinuesExactlyWithoutLogging)
{
    PtyDevice device;
    set_device_port(device.path());
    const Fixture f = attach(data_of(300));
    click("button_play");
    ASSERT_TRUE(device.start_playback());
    std::string received;
    EXPECT_EQ(device.header(), f.tap.substr(0, 20));
    received += device.chunk_of(64);
    received += device.chunk_of(64);

    const std::string log = test_log_text();
    click("button_pause");
    ASSERT_TRUE(status_is(" Playback paused", 3000));
    EXPECT_EQ(log_after(log), "Paused\n");
    expect_run_closed();
    EXPECT_EQ(resume_pending, 1);
    ASSERT_TRUE(device.wait_closed());

    const std::string paused_log = test_log_text();
    click("button_play");
    EXPECT_EQ(test_status_text(), " Playback started");
    EXPECT_EQ(test_log_text(), paused_log) << "a resumed run logs nothing";
    ASSERT_TRUE(device.start_playback());
    std::string header = device.header();
    EXPECT_EQ(header.substr(0, 16), f.tap.substr(0, 16));
    EXPECT_EQ(header.substr(16), le32(300 - 128)) << "the header counts the unsent data";
    received += device.chunk_of(64);

    // A second pause in the same place of the protocol.
    click("button_pause");
    ASSERT_TRUE(status_is(" Playback paused", 3000));
    ASSERT_TRUE(device.wait_closed());
    click("button_play");
    ASSERT_TRUE(device.start_playback());
    header = device.header();
    EXPECT_EQ(header.substr(16), le32(300 - 192));
    received += device.rest_of_data();
    device.send("e");
    ASSERT_TRUE(status_is(" Playback over: Success condition received"));
    EXPECT_EQ(received, f.data) << "every data byte once, in order";
    EXPECT_EQ(resume_pending, 0);
    EXPECT_EQ(test_log_text(), paused_log + "Paused\n");
}

TEST(PlaybackDevice, PauseThenAnotherRecordStartsOver)
{
    PtyDevice device;
    set_device_port(device.path());
    const Fixture f = attach(data_of(300), "20\t\tStart\r\n200\t\tSecond\r\n");
    click("button_play");
    ASSERT_TRUE(device.start_playback());
    device.header();
    device.chunk_of(64);
    click("button_pause");
    ASSERT_TRUE(status_is(" Playback paused", 3000));
    ASSERT_TRUE(device.wait_closed());

    select_row(1);
    EXPECT_EQ(resume_pending, 0) << "the cursor move cancelled the resume";
    const std::string log = test_log_text();
    click("button_play");
    EXPECT_EQ(log_after(log), std::string(separator) + "Playback started\n");
    ASSERT_TRUE(device.start_playback());
    EXPECT_EQ(device.header().substr(16), le32(300 - 180));
    EXPECT_EQ(device.chunk_of(64), f.tap.substr(200, 64));
    click("button_stop");
    ASSERT_TRUE(status_is(" Playback stopped", 3000));
}

TEST(PlaybackDevice, StopThenPlayStartsAtTheRecordAgain)
{
    PtyDevice device;
    set_device_port(device.path());
    const Fixture f = attach(data_of(300));
    click("button_play");
    ASSERT_TRUE(device.start_playback());
    device.header();
    device.chunk_of(64);
    std::string log = test_log_text();
    click("button_stop");
    ASSERT_TRUE(status_is(" Playback stopped", 3000));
    EXPECT_EQ(log_after(log), "Stopped\n");
    EXPECT_EQ(resume_pending, 0);
    expect_run_closed();
    ASSERT_TRUE(device.wait_closed());

    log = test_log_text();
    click("button_play");
    EXPECT_EQ(log_after(log), std::string(separator) + "Playback started\n");
    ASSERT_TRUE(device.start_playback());
    EXPECT_EQ(device.header(), f.tap.substr(0, 20));
    EXPECT_EQ(device.chunk_of(64), f.data.substr(0, 64));
    device.send("e");
    ASSERT_TRUE(status_is(" Playback over: Success condition received"));
}

TEST(PlaybackDevice, PreviousAndNextStopAndMoveTheSelection)
{
    PtyDevice device;
    set_device_port(device.path());
    attach(data_of(300), "20\t\tFirst\r\n100\t\tSecond\r\n200\t\tThird\r\n");

    struct Case {
        int row;
        const char *button;
        long offset_after;
    };
    const Case cases[] = {
        {1, "button_next", 200},    {2, "button_next", 200},    {2, "button_previous", 100},
        {0, "button_previous", 20}, {1, "button_previous", 20},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(std::string(c.button) + " from row " + std::to_string(c.row));
        select_row(c.row);
        click("button_play");
        ASSERT_TRUE(device.start_playback());
        device.header();
        const std::string log = test_log_text();
        click(c.button);
        EXPECT_EQ(selected_offset(), c.offset_after) << "the selection moves at once";
        ASSERT_TRUE(status_is(" Playback stopped", 3000));
        EXPECT_EQ(log_after(log), "Stopped\n");
        EXPECT_EQ(resume_pending, 0);
        expect_run_closed();
        ASSERT_TRUE(device.wait_closed());
    }
}

TEST(PlaybackDevice, TransportButtonsDoNothingWithoutARun)
{
    test_app_start();
    // Right after start-up, with nothing attached.
    for (const char *button :
         {"button_play", "button_pause", "button_stop", "button_previous", "button_next"})
        click(button);
    test_spin_for(100);
    EXPECT_EQ(test_status_text(), "");
    EXPECT_EQ(test_log_text(), "");

    PtyDevice device;
    set_device_port(device.path());
    attach(data_of(300), "20\t\tFirst\r\n100\t\tSecond\r\n200\t\tThird\r\n");
    select_row(1);
    const std::string status = test_status_text();
    for (const char *button : {"button_pause", "button_stop", "button_previous", "button_next"})
        click(button);
    test_spin_for(100);
    EXPECT_EQ(selected_offset(), 100);
    EXPECT_EQ(test_status_text(), status);
    EXPECT_EQ(test_log_text(), "");
    EXPECT_EQ(resume_pending, 0);
    EXPECT_FALSE(device.wait_opened(300)) << "no run was started";
}

TEST(PlaybackDevice, OffsetInsideTheHeaderStartsAtTheDataAndResumesExactly)
{
    PtyDevice device;
    set_device_port(device.path());
    const Fixture f = attach(data_of(200), "5\t\tInside the header\r\n20\t\tStart\r\n");
    select_row(0);
    ASSERT_EQ(selected_offset(), 5);
    click("button_play");
    ASSERT_TRUE(device.start_playback());
    EXPECT_EQ(device.header(), f.tap.substr(0, 20));
    std::string received = device.chunk_of(64);
    click("button_pause");
    ASSERT_TRUE(status_is(" Playback paused", 3000));
    ASSERT_TRUE(device.wait_closed());
    click("button_play");
    ASSERT_TRUE(device.start_playback());
    EXPECT_EQ(device.header().substr(16), le32(200 - 64));
    received += device.rest_of_data();
    EXPECT_EQ(received, f.data);
    device.send("e");
    ASSERT_TRUE(status_is(" Playback over: Success condition received"));
}

TEST(PlaybackDevice, SecondPlayWhileRunningStartsNothing)
{
    PtyDevice device;
    set_device_port(device.path());
    const Fixture f = attach(data_of(100));
    click("button_play");
    click("button_play");
    EXPECT_EQ(test_log_text(), std::string(separator) + "Playback started\n");
    ASSERT_TRUE(device.start_playback());
    EXPECT_EQ(device.header(), f.tap.substr(0, 20));
    EXPECT_EQ(device.receive_quiet(), "") << "one worker only";
    device.send("e");
    ASSERT_TRUE(status_is(" Playback over: Success condition received"));
}
