// Playback through the real main window: against a device played by the test
// over a pseudo-terminal, which checks every request and every answer, and
// against the emulated device, whose recording must equal the expected
// stream byte for byte.
// Quitting runs in a child process, since it ends the main loop for good.
#include "test_player_device.h"

#include "app/app.h"
#include "ui/registry.h"
#include "index/index_list.h"

#include "tap_maker.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <ctime>
#include <filesystem>
#include <sys/file.h>
#include <vector>

namespace
{
const std::string started = separator + "Playback started\n";
const std::string success = " Playback over: Success condition received";

struct Step {
    std::string request, reply;
};

// `steps`, then the 'd' requests that fetch `tap` from `from` to its end,
// one more that gets nothing, and the device's 'e'.
std::vector<Step> then_data(std::vector<Step> steps, const std::string &tap, std::size_t from)
{
    for (; from < tap.size(); from += 64)
        steps.push_back({"d", tap.substr(from, 64)});
    steps.push_back({"d", ""});
    steps.push_back({"e", ""});
    return steps;
}

// Selects the index record at `offset`; false when the list has none.
bool select_offset(long offset)
{
    GtkTreeView *view = GTK_TREE_VIEW(test_widget("treeview_indexes"));
    const int rows = gtk_tree_model_iter_n_children(gtk_tree_view_get_model(view), nullptr);
    for (int row = 0; row < rows && selected_offset() != offset; ++row)
        select_row(row);
    return selected_offset() == offset;
}

// The header of `tap` for a run from `offset`: its length field counts the
// data from there on.
std::string header_from(const std::string &tap, std::size_t offset)
{
    return tap.substr(0, 16) + le32(tap_length_field(tap) - guint32(offset - 20));
}

// Writes a generated tape of about `seconds` with its IDX file, attaches it.
std::string attach_tape(double seconds)
{
    const std::string tap = tap_make(seconds);
    test_write_file(test_path("game.idx"), tap_make_idx(tap));
    attach(tap, "", "game.tap");
    return tap;
}

// What the buffer-time label shows for `data`, from its pulse sum.
std::string label_for(const std::string &data)
{
    gchar *text = player_format_buffer_time(guint32(tap_data_cycles(data) / player_clock_hz));
    const std::string result = text;
    g_free(text);
    return result;
}

bool label_is(const std::string &text)
{
    return test_spin_until([&] { return buffer_label() == text; }, 3000);
}
} // namespace

TEST(PlaybackDevice, AnswersEachRequestExactly)
{
    const std::string tap100 = tap_wrap(data_of(100)), tap5000 = tap_wrap(data_of(5000));
    const std::string head = tap100.substr(0, 16); // the header up to its length field
    const std::string junk("x\0?\r\nHD", 7);
    const std::string invalid = " Playback over: Invalid index supplied for file";
    const std::string read_error = " Playback over: Error reading from file";
    struct Case {
        const char *what;
        std::string tap;
        long offset;
        std::vector<Step> steps;
        std::string status;
    };
    const Case cases[] = {
        {"the header unchanged, 100 bytes as 64 + 36, then nothing", tap100, 20,
         then_data({{"h", tap100.substr(0, 20)}}, tap100, 20), success},
        {"from offset 1000 the header counts 4020 bytes", tap5000, 1000,
         then_data({{"h", head + le32(4020)}}, tap5000, 1000), success},
        {"the last data byte", tap5000, 5019, then_data({{"h", head + le32(1)}}, tap5000, 5019),
         success},
        {"at the end of the data", tap5000, 5020, {{"h", ""}}, invalid},
        {"past the end of the file", tap5000, 6000, {{"h", ""}}, invalid},
        {"'h' again counts what is still to come, and the data goes on", tap100, 20,
         then_data({{"h", tap100.substr(0, 20)},
                    {"h", tap100.substr(0, 20)},
                    {"d", tap100.substr(20, 64)},
                    {"h", head + le32(36)}},
                   tap100, 84),
         success},
        {"'d' before 'h' and unknown bytes are ignored", tap100, 20,
         then_data({{junk, ""}, {"d", ""}, {"h", tap100.substr(0, 20)}, {"zz", ""}}, tap100, 20),
         success},
        {"a file too short for its header", tap100.substr(0, 8), 20, {{"h", "h"}}, read_error},
        {"a file shorter than its header says",
         tap5000.substr(0, 120),
         1000,
         {{"h", head + le32(4020)}, {"d", "h"}},
         read_error},
    };
    PtyDevice device;
    set_device_port(device.path);
    int n = 0;
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        attach(c.tap, c.offset > 20 ? std::to_string(c.offset) + "\t\tRecord\r\n" : "",
               "t" + std::to_string(++n) + ".tap");
        ASSERT_TRUE(select_offset(c.offset));
        const std::string log = test_log_text();
        click("button_play");
        EXPECT_EQ(test_status_text(), " Playback started");
        EXPECT_TRUE(controls_busy());
        ASSERT_TRUE(device.start_playback());
        for (const Step &step : c.steps)
            device.exchange(step.request, step.reply);
        ASSERT_TRUE(status_is(c.status));
        EXPECT_EQ(log_after(log), started) << "a run that ends by itself logs nothing more";
        expect_run_closed();
    }
}

TEST(PlaybackDevice, PauseResumesExactlySilentlyAndWithTheExactTapeTime)
{
    // Three chunks of 0.3, 0.3 and 0.5 s of tape: a counted pulse and 60
    // short ones each. Only the exact sum carried over the pauses makes 1 s.
    std::string data;
    for (double seconds : {0.3, 0.3, 0.5}) {
        const guint32 cycles = guint32(seconds * player_clock_hz) - 60 * 8;
        data += std::string(1, '\0') + le32(cycles).substr(0, 3) + std::string(60, '\1');
    }
    const std::string tap = tap_wrap(data);
    PtyDevice device;
    set_device_port(device.path);
    // A record inside the header means the start of the data.
    attach(tap, "5\t\tInside the header\r\n84\t\tSecond\r\n");
    ASSERT_TRUE(select_offset(5));
    static int updates = 0;
    g_signal_connect_swapped(test_widget("label_buffer_time"), "notify::label",
                             G_CALLBACK(+[](int *count) { ++*count; }), &updates);
    const std::string log = test_log_text();
    click("button_play");
    for (int k = 0; k < 3; ++k) {
        // The header counts the data not yet sent, which goes on where it was.
        ASSERT_TRUE(device.start_playback());
        device.exchange("h", tap.substr(0, 16) + le32(192 - 64 * k));
        device.exchange("d", data.substr(64 * k, 64));
        if (k == 2)
            break;
        click("button_pause");
        ASSERT_TRUE(status_is(" Playback paused", 3000));
        expect_run_closed();
        EXPECT_EQ(buffer_label(), "0:00 ");
        click("button_play");
        EXPECT_EQ(test_status_text(), " Playback started");
    }
    device.exchange("d", "");
    device.exchange("e", "");
    ASSERT_TRUE(status_is(success));
    EXPECT_EQ(log_after(log), started + "Paused\nPaused\n") << "resuming logs nothing";
    EXPECT_TRUE(label_is("0:01 "));
    EXPECT_EQ(updates, 2) << "published at the first chunk and when 1 s was reached";

    // A run that ended by itself is not resumed: the record again, and the
    // tape time from zero.
    std::string before = test_log_text();
    click("button_play");
    EXPECT_EQ(log_after(before), started);
    ASSERT_TRUE(device.start_playback());
    device.exchange("h", tap.substr(0, 20));
    device.exchange("d", data.substr(0, 64));
    EXPECT_TRUE(label_is("0:00 "));

    // Pause, then another record: Play starts over there.
    click("button_pause");
    ASSERT_TRUE(status_is(" Playback paused", 3000));
    ASSERT_TRUE(select_offset(84));
    before = test_log_text();
    click("button_play");
    EXPECT_EQ(log_after(before), started);
    ASSERT_TRUE(device.start_playback());
    device.exchange("h", tap.substr(0, 16) + le32(192 - 64));
    device.exchange("d", data.substr(64, 64));
    click("button_stop");
    ASSERT_TRUE(status_is(" Playback stopped", 3000));
}

TEST(PlaybackDevice, TransportButtonsActOnlyOnARunAndStopAlwaysEndsIt)
{
    test_app_start();
    PtyDevice device;
    const std::string tap = tap_wrap(data_of(300));
    attach(tap, "20\t\tFirst\r\n100\t\tSecond\r\n200\t\tThird\r\n");
    ASSERT_TRUE(select_offset(100));
    const std::string status = test_status_text();
    for (const char *button : {"button_pause", "button_stop", "button_previous", "button_next"})
        click(button);
    EXPECT_FALSE(test_spin_until(port_is_open, 300)) << "no run was started";
    EXPECT_EQ(selected_offset(), 100);
    EXPECT_EQ(test_status_text(), status);
    set_device_port("");
    const std::string log = test_log_text();
    click("button_play");
    EXPECT_EQ(test_status_text(), " Error: Invalid device port");
    EXPECT_EQ(test_log_text(), log);
    EXPECT_TRUE(controls_idle());

    // In turn, each from where the one before left the selection.
    set_device_port(device.path);
    const std::pair<const char *, long> cases[] = {
        {"button_stop", 100},     {"button_next", 200},    {"button_next", 200},
        {"button_previous", 100}, {"button_previous", 20}, {"button_previous", 20},
    };
    for (const auto &[button, offset_after] : cases) {
        SCOPED_TRACE(std::string(button) + " from " + std::to_string(selected_offset()));
        std::string log = test_log_text();
        click("button_play");
        click("button_play"); // a second Play while busy starts no second worker
        EXPECT_EQ(log_after(log), started) << "the last run left nothing to resume";
        ASSERT_TRUE(device.start_playback());
        device.exchange("h", tap.substr(0, 16) + le32(guint32(300 + 20 - selected_offset())));
        log = test_log_text();
        click(button);
        EXPECT_EQ(selected_offset(), offset_after) << "the selection moves at once";
        ASSERT_TRUE(status_is(" Playback stopped", 3000));
        EXPECT_EQ(log_after(log), "Stopped\n");
        expect_run_closed();
    }

    // A silent, then vanished device costs no processor time while the run
    // waits for the user.
    click("button_play");
    ASSERT_TRUE(device.start_playback());
    for (bool gone : {false, true}) {
        if (gone)
            device.master.close();
        const std::clock_t before = std::clock();
        g_usleep(2000 * 1000);
        EXPECT_LT(double(std::clock() - before) / CLOCKS_PER_SEC, 0.2) << "device gone: " << gone;
        EXPECT_TRUE(controls_busy());
    }
    click("button_stop");
    ASSERT_TRUE(status_is(" Playback stopped", 3000));
    expect_run_closed();
}

TEST(PlaybackEmulator, RecordingIsTheTapeFromTheRecordAndTheLabelItsPulseSum)
{
    struct Case {
        std::vector<std::string> args;
        int row, headers;
    };
    const Case cases[] = {
        {{"--fast"}, 0, 1},
        {{"--fast"}, 2, 1},
        {{"--fast", "--noise", "--split-prompt"}, 1, 1},
        {{"--fast", "--header-twice"}, 0, 2},
    };
    test_app_start();
    const std::string tap = attach_tape(20);
    for (const Case &c : cases) {
        SCOPED_TRACE(c.args.back() + " from row " + std::to_string(c.row));
        Emulator emu(c.args);
        ASSERT_TRUE(emu.ok());
        set_device_port(emu.link());
        select_row(c.row);
        const long offset = selected_offset();
        ASSERT_TRUE(c.row == 0 ? offset == 20 : offset > 20) << offset;
        const std::string log = test_log_text();
        click("button_play");
        ASSERT_TRUE(status_is(success, 30000)) << test_status_text();
        std::string expected;
        for (int i = 0; i < c.headers; ++i)
            expected += header_from(tap, offset);
        expected += tap.substr(offset);
        EXPECT_TRUE(test_read_file(emu.record_path()) == expected) << "recording differs";
        EXPECT_TRUE(test_spin_until([&] {
            return buffer_label() == label_for(tap.substr(offset));
        })) << buffer_label();
        EXPECT_EQ(log_after(log), started);
        expect_run_closed();
    }
}

TEST(PlaybackEmulator, EachFailureEndsWithItsMessageAndLeavesNothingOpen)
{
    enum Trouble { device, tap_held, tap_missing, port_missing };
    struct Case {
        std::vector<std::string> args;
        Trouble trouble;
        const char *status;
    };
    const Case cases[] = {
        {{"--fast", "--fail-after", "1000"}, device, "Failure condition received"},
        {{"--wrong-echo"}, device, "Unable to start playback on device"},
        {{"--no-prompt"}, device, "Unable to sync with device"},
        {{}, tap_held, "Unable to open file"},
        {{}, tap_missing, "Unable to open file"},
        {{}, port_missing, "Unable to access communication port to device"},
    };
    test_app_start();
    attach_tape(5);
    const std::string path = test_path("game.tap"), away = path + ".away";
    for (const Case &c : cases) {
        SCOPED_TRACE(c.status);
        Emulator emu(c.args);
        ASSERT_TRUE(emu.ok());
        set_device_port(c.trouble == port_missing ? test_path("no-such-port") : emu.link());
        // Another program holding the file keeps the player out, as an
        // unreadable file does.
        const int holder = c.trouble == tap_held ? open(path.c_str(), O_RDONLY) : -1;
        ASSERT_TRUE(c.trouble != tap_held || flock(holder, LOCK_SH) == 0);
        ASSERT_TRUE(c.trouble != tap_missing || std::rename(path.c_str(), away.c_str()) == 0);
        const std::string log = test_log_text();
        click("button_play");
        ASSERT_TRUE(status_is(std::string(" Playback over: ") + c.status, 20000))
            << test_status_text();
        EXPECT_EQ(log_after(log).substr(0, c.trouble == port_missing ? started.size() : -1),
                  started);
        expect_run_closed();
        if (holder >= 0)
            close(holder);
        if (c.trouble == tap_missing)
            std::rename(away.c_str(), path.c_str());
    }
}

TEST(PlaybackQuit, ClosingTheWindowDuringARunDoesNotWaitForTheWorker)
{
    // In a child process, since quitting ends the main loop for good. The
    // device stays silent: the worker waits for its prompt for seconds.
    auto scenario = [] {
        PtyDevice device;
        set_device_port(device.path);
        attach(tap_wrap(data_of(100)));
        click("button_play");
        if (!test_spin_until([] { return tap_file_open.load() == 1 && port_is_open(); }))
            std::_Exit(2);
        // The window's end frees the list's store; the rows are read after it.
        g_object_ref(index_store);
        g_idle_add(
            [](gpointer) -> gboolean {
                gtk_widget_destroy(window_main);
                return FALSE;
            },
            nullptr);
        gtk_main();
        bool worker_alive = false;
        for (const auto &task : std::filesystem::directory_iterator("/proc/self/task"))
            worker_alive = worker_alive || test_read_file(task.path() / "comm") == "player\n";
        const int rows = gtk_tree_model_iter_n_children(GTK_TREE_MODEL(index_store), nullptr);
        std::fprintf(stderr, "file %d, port %d, rows %d, worker alive %d\n", tap_file_open.load(),
                     int(port_is_open()), rows, int(worker_alive));
        std::_Exit(tap_file_open.load() == 0 && !port_is_open() && rows == 0 ? 0 : 1);
    };
    EXPECT_EXIT(scenario(), testing::ExitedWithCode(0), "worker alive 1");
}
