// Playback end to end: a generated tape opened through the real chooser,
// played with the real buttons to the emulated device, whose recording must
// equal the expected stream byte for byte.
#include "test_player_device.h"

#include "support/emulator.h"

#include "tap_maker.h"

#include <gtest/gtest.h>

#include <glib/gstdio.h>

namespace
{
struct Tape {
    std::string path;
    std::string tap;
    std::string data;
    guint32 length;
};

// Writes a generated tape with its IDX file and attaches it.
Tape attach_tape(double seconds, unsigned seed = 1)
{
    Tape t;
    t.path = test_path("game.tap");
    t.tap = tap_make(seconds, seed);
    t.data = t.tap.substr(20);
    t.length = tap_length_field(t.tap);
    test_write_file(t.path, t.tap);
    test_write_file(test_path("game.idx"), tap_make_idx(t.tap));
    EXPECT_TRUE(open_tap_file(t.path));
    return t;
}

std::string header_for(const Tape &t, guint32 offset)
{
    return t.tap.substr(0, 16) + le32(t.length - (offset - 20));
}

std::string expected_label(const std::string &data)
{
    gchar *text = player_format_buffer_time(guint32(tap_data_cycles(data) / player_clock_hz));
    std::string result = text;
    g_free(text);
    return result;
}

// Plays the selected record to the end; true when the device reported
// success.
bool play_to_end(int timeout_ms = 30000)
{
    click("button_play");
    return status_is(" Playback over: Success condition received", timeout_ms);
}

std::string recording(const Emulator &emu)
{
    return test_read_file(emu.record_path());
}

std::size_t recorded_size(const Emulator &emu)
{
    GStatBuf st;
    return g_stat(emu.record_path().c_str(), &st) == 0 ? std::size_t(st.st_size) : 0;
}
} // namespace

TEST(PlaybackEmulator, WholeTapeArrivesExactlyAndTheLabelMatchesThePulseSum)
{
    Emulator emu({"--fast"});
    ASSERT_TRUE(emu.ok());
    set_device_port(emu.link());
    const Tape t = attach_tape(20);
    ASSERT_EQ(selected_offset(), 20);
    ASSERT_TRUE(play_to_end());
    EXPECT_EQ(recording(emu), t.tap) << "the header unchanged, then all the data";
    test_spin_for(100);
    EXPECT_EQ(buffer_label(), expected_label(t.data));
    EXPECT_EQ(test_log_text(), std::string(separator) + "Playback started\n");
    expect_run_closed();
}

TEST(PlaybackEmulator, FromAnIndexRecord)
{
    Emulator emu({"--fast"});
    ASSERT_TRUE(emu.ok());
    set_device_port(emu.link());
    const Tape t = attach_tape(20);
    select_row(2);
    const long offset = selected_offset();
    ASSERT_GT(offset, 20) << "the IDX file has records inside the data";
    ASSERT_TRUE(play_to_end());
    EXPECT_EQ(recording(emu), header_for(t, guint32(offset)) + t.tap.substr(offset));
    test_spin_for(100);
    EXPECT_EQ(buffer_label(), expected_label(t.tap.substr(offset)));
}

TEST(PlaybackEmulator, PausesContinueTheStreamExactly)
{
    // Paced, so that the pauses fall in the middle of the tape.
    Emulator emu({"--speed", "8"});
    ASSERT_TRUE(emu.ok());
    set_device_port(emu.link());
    const Tape t = attach_tape(40);
    click("button_play");
    const std::string log = test_log_text();
    for (int pause = 0; pause < 2; ++pause) {
        // Well into the run's data, as the device's recording tells.
        const std::size_t from = recorded_size(emu);
        ASSERT_TRUE(test_spin_until([&] { return recorded_size(emu) > from + 2000; }, 20000));
        click("button_pause");
        ASSERT_TRUE(status_is(" Playback paused", 3000));
        expect_run_closed();
        click("button_play");
        EXPECT_EQ(test_status_text(), " Playback started");
    }
    ASSERT_TRUE(status_is(" Playback over: Success condition received", 60000));
    EXPECT_EQ(test_log_text(), log + "Paused\nPaused\n");

    // The recording is three runs: each a header counting the data still to
    // come, then data going on where the previous run stopped.
    const std::string rec = recording(emu);
    std::string data;
    std::size_t at = 0;
    int runs = 0;
    while (at < rec.size()) {
        ++runs;
        ASSERT_LE(at + 20, rec.size());
        ASSERT_EQ(rec.substr(at, 20), header_for(t, guint32(20 + data.size())))
            << "header of run " << runs;
        at += 20;
        // The run's data ends where the next header begins, if any.
        std::size_t end = rec.size();
        for (std::size_t k = at; k + 20 <= rec.size() && runs < 3; ++k) {
            const guint32 sent = guint32(data.size() + (k - at));
            if (rec.compare(k, 20, header_for(t, 20 + sent)) == 0 &&
                rec.compare(at, k - at, t.data, data.size(), k - at) == 0) {
                end = k;
                break;
            }
        }
        data += rec.substr(at, end - at);
        at = end;
    }
    EXPECT_EQ(runs, 3);
    EXPECT_EQ(data.size(), t.data.size());
    EXPECT_TRUE(data == t.data) << "every data byte exactly once, in order";
    test_spin_for(100);
    EXPECT_EQ(buffer_label(), expected_label(t.data)) << "the buffer time survived the pauses";
}

TEST(PlaybackEmulator, DeviceMisbehaviourEndsWithItsMessage)
{
    struct Case {
        std::vector<std::string> args;
        const char *status;
    };
    const Case cases[] = {
        {{"--fast", "--fail-after", "1000"}, " Playback over: Failure condition received"},
        {{"--wrong-echo"}, " Playback over: Unable to start playback on device"},
        {{"--no-prompt"}, " Playback over: Unable to sync with device"},
    };
    test_app_start();
    attach_tape(5);
    for (const Case &c : cases) {
        SCOPED_TRACE(c.status);
        Emulator emu(c.args);
        ASSERT_TRUE(emu.ok());
        set_device_port(emu.link());
        click("button_play");
        ASSERT_TRUE(status_is(c.status, 20000)) << test_status_text();
        expect_run_closed();
        EXPECT_EQ(resume_pending, 0);
    }
}

TEST(PlaybackEmulator, NoisyLineSplitPromptAndRepeatedHeaderStillPlayExactly)
{
    struct Case {
        std::vector<std::string> args;
        int headers;
    };
    const Case cases[] = {
        {{"--fast", "--noise"}, 1},
        {{"--fast", "--split-prompt", "--late-prompt", "400"}, 1},
        {{"--fast", "--header-twice"}, 2},
    };
    test_app_start();
    const Tape t = attach_tape(8);
    for (const Case &c : cases) {
        SCOPED_TRACE(c.args.back());
        Emulator emu(c.args);
        ASSERT_TRUE(emu.ok());
        set_device_port(emu.link());
        ASSERT_TRUE(play_to_end()) << test_status_text();
        std::string expected;
        for (int i = 0; i < c.headers; ++i)
            expected += t.tap.substr(0, 20);
        EXPECT_TRUE(recording(emu) == expected + t.data);
    }
}

TEST(PlaybackEmulator, UnpluggedDeviceWaitsForTheUserThenStops)
{
    Emulator emu({"--fast", "--hangup-after", "3000", "--replug-delay", "60000"});
    ASSERT_TRUE(emu.ok());
    set_device_port(emu.link());
    const Tape t = attach_tape(10);
    click("button_play");
    ASSERT_TRUE(emulator_wait_path(emu.link(), false, 10000)) << "the device went away";
    test_spin_for(1500);
    EXPECT_EQ(test_status_text(), " Playback started") << "the run waits for the user";
    EXPECT_TRUE(controls_busy());
    click("button_stop");
    ASSERT_TRUE(status_is(" Playback stopped", 3000));
    expect_run_closed();
    const std::string rec = recording(emu);
    EXPECT_EQ(rec.substr(0, 20), t.tap.substr(0, 20));
    EXPECT_TRUE(t.tap.compare(0, rec.size(), rec) == 0) << "what arrived is the tape's start";
}
