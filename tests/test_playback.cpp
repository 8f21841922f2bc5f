// Playback: the pulse count on its own, then the real main window against a
// device played by the test over a pseudo-terminal, which checks every
// request and answer, and against the emulator, whose recording must equal
// the expected stream byte for byte.
#include "support/emulator.h"
#include "support/harness.h"

#include "index/idx_commands.h"
#include "index/index_list.h"
#include "player/playback.h"
#include "player/player_worker.h"
#include "player/tap_file.h"
#include "ui/registry.h"

#include "tap_maker.h"

#include <gdk/gdkkeysyms.h>
#include <gtest/gtest.h>

#include <cstdio>
#include <fcntl.h>
#include <filesystem>
#include <random>
#include <sys/file.h>
#include <unistd.h>

namespace
{
const std::string started = test_separator + "Playback started\n";
const std::string success = " Playback over: Success condition received";

std::string le32(guint32 v)
{
    std::string s;
    for (int i = 0; i < 4; ++i)
        s += char((v >> (8 * i)) & 0xFF);
    return s;
}

// `length` bytes of short pulses, no two neighbours alike.
std::string data_of(std::size_t length)
{
    std::string data;
    for (std::size_t i = 0; i < length; ++i)
        data += char(1 + i * 37 % 251);
    return data;
}

std::string buffer_label()
{
    return gtk_label_get_text(GTK_LABEL(test_widget("label_buffer_time")));
}

// After a run has ended: nothing left open, controls back to idle.
void expect_run_closed()
{
    EXPECT_EQ(tap_file_open.load(), 0);
    EXPECT_FALSE(test_port_open());
    EXPECT_TRUE(test_controls_are(true));
}

struct Step {
    std::string request, reply;
};

// The console's side of a playback start (the prompt, the echo of "p"),
// then `steps`.
std::vector<Step> from_start(const std::vector<Step> &steps)
{
    std::vector<Step> all = {{"Ravelo\r\n> ", "p\r"}, {"p\r\n", ""}};
    all.insert(all.end(), steps.begin(), steps.end());
    return all;
}

// Started, `steps`, then the 'd' requests that fetch `tap` from `from` to
// its end, one more that gets nothing, and the device's 'e'.
std::vector<Step> then_data(std::vector<Step> steps, const std::string &tap, std::size_t from)
{
    steps = from_start(steps);
    for (; from < tap.size(); from += 64)
        steps.push_back({"d", tap.substr(from, 64)});
    steps.push_back({"d", ""});
    steps.push_back({"e", ""});
    return steps;
}

// Selects the index record at `offset`; false when the list has none.
bool select_offset(long offset)
{
    for (int row = 0; row < gtk_tree_model_iter_n_children(GTK_TREE_MODEL(index_store), nullptr) &&
                      test_selected_offset() != offset;
         ++row)
        test_select_row(row);
    return test_selected_offset() == offset;
}
} // namespace

TEST(PlayerPulses, AnyChunkingGivesTheSumOfTheDefinitionWrappingAt32Bits)
{
    const auto count = [](const std::vector<guint8> &data, std::size_t chunk, guint32 start) {
        player_pulse_state = 0;
        player_pulse_partial = 0;
        for (std::size_t at = 0; at < data.size(); at += chunk)
            player_count_pulses(data.data() + at, std::min(chunk, data.size() - at), &start);
        return start;
    };
    // Random data, with a sum computed straight from the definition.
    std::mt19937 random(7);
    std::vector<guint8> data(20000);
    for (auto &b : data)
        b = random() % 100 < 5 ? 0 : guint8(random());
    guint64 expected = 0;
    for (std::size_t i = 0; i < data.size(); ++i) {
        if (data[i] != 0) {
            expected += 8u * data[i];
        } else if (i + 3 < data.size()) {
            expected += data[i + 1] | data[i + 2] << 8 | guint32(data[i + 3]) << 16;
            i += 3;
        } else {
            break; // a count cut off by the end adds nothing
        }
    }
    struct Case {
        std::vector<guint8> data;
        guint32 start, cycles;
    };
    const Case cases[] = {
        {{0x30, 0x30}, 0, 768},
        {{0x00, 0x10, 0x27, 0x00, 0x01}, 0, 10000 + 8}, // count, least significant byte first
        {{0x00, 0xFF, 0xFF, 0xFF}, 5, 5 + 0xFFFFFF},
        {{0x02}, 0xFFFFFFF8u, 8},
        {{0x00, 0x00, 0x00, 0x01}, 0xFFFF0000u, 0},
        {data, 0, guint32(expected)},
    };
    // Chunks of one byte split every count after its zero, low and middle
    // byte: the bytes seen before the split must keep their weight.
    for (const Case &c : cases)
        for (std::size_t chunk : {1u, 2u, 3u, 63u, 64u})
            EXPECT_EQ(count(c.data, chunk, c.start), c.cycles) << c.data.size() << " / " << chunk;
    // The label's text: minutes uncapped.
    const std::pair<guint32, const char *> texts[] = {
        {61, "1:01 "}, {3599, "59:59 "}, {3600, "60:00 "}, {4294967295u, "71582788:15 "}};
    for (const auto &[seconds, text] : texts)
        EXPECT_EQ(test_owned(player_format_buffer_time(seconds)), text);
}

TEST(PlayerTapFile, SizeOf4GiBOrMoreCannotBeRead)
{
    const int out = open("big.tap", O_WRONLY | O_CREAT | O_TRUNC, 0644);
    for (const off_t length : {0xFFFFFFFFLL, 0x100000000LL}) {
        ASSERT_EQ(ftruncate(out, length), 0); // sparse: no disk space used
        const int fd = player_tap_open("big.tap");
        guint32 size = 0;
        EXPECT_EQ(player_tap_size(fd, &size), length < 0x100000000LL ? 1 : 0);
        EXPECT_EQ(size, length < 0x100000000LL ? 0xFFFFFFFFu : 0u);
        player_tap_close(fd);
    }
    close(out);
}

TEST(PlaybackDevice, AnswersEachRequestExactly)
{
    const std::string tap100 = tap_wrap(data_of(100)), tap5000 = tap_wrap(data_of(5000));
    const std::string head = tap100.substr(0, 16); // the header up to its length field
    const std::string junk("x\0?\r\nHD", 7);
    const std::string over = " Playback over: ", invalid = over + "Invalid index supplied for file",
                      read_error = over + "Error reading from file";
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
        {"at the end of the data", tap5000, 5020, from_start({{"h", ""}}), invalid},
        {"past the end of the file", tap5000, 6000, from_start({{"h", ""}}), invalid},
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
        {"a file too short for its header", tap100.substr(0, 8), 20, from_start({{"h", "h"}}),
         read_error},
        {"a file shorter than its header says", tap5000.substr(0, 120), 1000,
         from_start({{"h", head + le32(4020)}, {"d", "h"}}), read_error},
        {"the device fails", tap100, 20, from_start({{"h", tap100.substr(0, 20)}, {"f", ""}}),
         over + "Failure condition received"},
        {"a wrong echo",
         tap100,
         20,
         {{"Ravelo\r\n> ", "p\r"}, {"P\r\n", ""}},
         over + "Unable to start playback on device"},
        {"no prompt", tap100, 20, {{"Ravelo\r\n", ""}}, over + "Unable to sync with device"},
    };
    PtyDevice device;
    test_set_ports(device.slave.c_str());
    int n = 0;
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        test_attach(c.tap, c.offset > 20 ? std::to_string(c.offset) + "\t\tRecord\r\n" : "",
                    "t" + std::to_string(++n) + ".tap");
        ASSERT_TRUE(select_offset(c.offset));
        const std::string log = test_log_text();
        test_click("button_play");
        EXPECT_EQ(test_status_text(), " Playback started");
        EXPECT_TRUE(test_controls_are(false));
        for (const Step &step : c.steps)
            device.exchange(step.request, step.reply);
        ASSERT_TRUE(test_status_is(c.status));
        EXPECT_EQ(test_log_after(log), started) << "a run that ends by itself logs nothing more";
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
    test_set_ports(device.slave.c_str());
    // A record inside the header means the start of the data.
    test_attach(tap, "5\t\tInside the header\r\n84\t\tSecond\r\n");
    ASSERT_TRUE(select_offset(5));
    static int updates = 0;
    g_signal_connect_swapped(test_widget("label_buffer_time"), "notify::label",
                             G_CALLBACK(+[](int *count) { ++*count; }), &updates);
    const std::string log = test_log_text();
    test_click("button_play");
    for (int k = 0; k < 3; ++k) {
        // The header counts the data not yet sent, which goes on where it was.
        ASSERT_TRUE(device.start_playback());
        device.exchange("h", tap.substr(0, 16) + le32(192 - 64 * k));
        device.exchange("d", data.substr(64 * k, 64));
        if (k == 2)
            break;
        test_click("button_pause");
        ASSERT_TRUE(test_status_is(" Playback paused", 3000));
        expect_run_closed();
        EXPECT_EQ(buffer_label(), "0:00 ");
        test_click("button_play");
        EXPECT_EQ(test_status_text(), " Playback started");
    }
    device.exchange("d", "");
    device.exchange("e", "");
    ASSERT_TRUE(test_status_is(success));
    EXPECT_EQ(test_log_after(log), started + "Paused\nPaused\n") << "resuming logs nothing";
    EXPECT_TRUE(test_spin_until([] { return buffer_label() == "0:01 "; }));
    EXPECT_EQ(updates, 2) << "published at the first chunk and when 1 s was reached";

    // A run that ended by itself is not resumed: the record again, and the
    // tape time from zero.
    std::string before = test_log_text();
    test_click("button_play");
    EXPECT_EQ(test_log_after(before), started);
    ASSERT_TRUE(device.start_playback());
    device.exchange("h", tap.substr(0, 20));
    device.exchange("d", data.substr(0, 64));
    EXPECT_TRUE(test_spin_until([] { return buffer_label() == "0:00 "; }));

    // Pause, then another record: Play starts over there.
    test_click("button_pause");
    ASSERT_TRUE(test_status_is(" Playback paused", 3000));
    ASSERT_TRUE(select_offset(84));
    before = test_log_text();
    test_click("button_play");
    EXPECT_EQ(test_log_after(before), started);
    ASSERT_TRUE(device.start_playback());
    device.exchange("h", tap.substr(0, 16) + le32(192 - 64));
    device.exchange("d", data.substr(64, 64));
    test_click("button_stop");
    ASSERT_TRUE(test_status_is(" Playback stopped", 3000));
}

TEST(PlaybackDevice, TransportButtonsActOnlyOnARunAndStopAlwaysEndsIt)
{
    PtyDevice device;
    const std::string tap = tap_wrap(data_of(300));
    test_attach(tap, "20\t\tFirst\r\n100\t\tSecond\r\n200\t\tThird\r\n");
    ASSERT_TRUE(select_offset(100));
    const std::string status = test_status_text();
    for (const char *button : {"button_pause", "button_stop", "button_previous", "button_next"})
        test_click(button);
    EXPECT_FALSE(test_spin_until(test_port_open, 300)) << "no run was started";
    EXPECT_EQ(test_selected_offset(), 100);
    EXPECT_EQ(test_status_text(), status);
    test_set_ports("");
    test_click("button_play");
    EXPECT_EQ(test_status_text(), " Error: Invalid device port");
    EXPECT_EQ(test_log_text(), "");
    EXPECT_TRUE(test_controls_are(true));

    // In turn, each from where the one before left the selection.
    test_set_ports(device.slave.c_str());
    const std::pair<const char *, long> cases[] = {
        {"button_stop", 100},     {"button_next", 200},    {"button_next", 200},
        {"button_previous", 100}, {"button_previous", 20}, {"button_previous", 20},
    };
    for (const auto &[button, offset_after] : cases) {
        SCOPED_TRACE(std::string(button) + " from " + std::to_string(test_selected_offset()));
        std::string log = test_log_text();
        test_click("button_play");
        test_click("button_play"); // a second Play while busy starts no second worker
        EXPECT_EQ(test_log_after(log), started) << "the last run left nothing to resume";
        ASSERT_TRUE(device.start_playback());
        device.exchange("h", tap.substr(0, 16) + le32(guint32(300 + 20 - test_selected_offset())));
        log = test_log_text();
        test_click(button);
        EXPECT_EQ(test_selected_offset(), offset_after) << "the selection moves at once";
        ASSERT_TRUE(test_status_is(" Playback stopped", 3000));
        EXPECT_EQ(test_log_after(log), "Stopped\n");
        expect_run_closed();
    }
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
    const std::string tap = tap_make(20);
    test_attach(tap, tap_make_idx(tap), "game.tap");
    for (const Case &c : cases) {
        SCOPED_TRACE(c.args.back() + " from row " + std::to_string(c.row));
        Emulator emu(c.args);
        ASSERT_TRUE(emu.ok());
        test_set_ports(emu.link().c_str());
        test_select_row(c.row);
        const guint32 offset = test_selected_offset();
        ASSERT_TRUE(c.row == 0 ? offset == 20 : offset > 20) << offset;
        const std::string log = test_log_text();
        test_click("button_play");
        ASSERT_TRUE(test_status_is(success, 30000)) << test_status_text();
        // The header's length field counts the data from the record on.
        const std::string run = tap_wrap(tap.substr(offset));
        EXPECT_TRUE(test_read_file(emu.record_path()) == run.substr(0, 20 * (c.headers - 1)) + run)
            << "recording differs";
        const std::string label = test_owned(player_format_buffer_time(
            guint32(tap_data_cycles(tap.substr(offset)) / player_clock_hz)));
        EXPECT_TRUE(test_spin_until([&] { return buffer_label() == label; })) << buffer_label();
        EXPECT_EQ(test_log_after(log), started);
        expect_run_closed();
    }
}

// A file that another program holds or that has gone, and a port that is
// not there.
TEST(PlaybackDevice, FileAndPortFailuresEndWithTheirMessage)
{
    PtyDevice device;
    const std::string path = test_path("tape.tap"), away = path + ".away";
    test_attach(tap_wrap(data_of(100)));
    for (const char *trouble : {"held", "missing", "no port"}) {
        SCOPED_TRACE(trouble);
        test_set_ports(trouble == std::string("no port") ? "no-such-port" : device.slave.c_str());
        const int holder = open(path.c_str(), O_RDONLY);
        ASSERT_TRUE(trouble != std::string("held") || flock(holder, LOCK_SH) == 0);
        ASSERT_TRUE(trouble != std::string("missing") ||
                    std::rename(path.c_str(), away.c_str()) == 0);
        const std::string log = test_log_text();
        test_click("button_play");
        ASSERT_TRUE(
            test_status_is(trouble == std::string("no port")
                               ? " Playback over: Unable to access communication port to device"
                               : " Playback over: Unable to open file"));
        EXPECT_EQ(test_log_after(log), started);
        expect_run_closed();
        close(holder);
        std::rename(away.c_str(), path.c_str());
    }
}

// In a child process, since quitting ends the main loop for good. The device
// stays silent: the worker waits for its prompt for seconds, and nothing
// waits for it.
TEST(PlaybackQuit, CtrlQAndClosingTheWindowDoNotWaitForTheWorker)
{
    for (const bool by_key : {true, false}) {
        auto scenario = [by_key] {
            PtyDevice device;
            test_set_ports(device.slave.c_str());
            test_attach(tap_wrap(data_of(100)));
            test_click("button_play");
            if (!test_spin_until([] { return tap_file_open.load() == 1 && test_port_open(); }))
                std::_Exit(2);
            static bool key = by_key;
            g_idle_add(
                [](gpointer) -> gboolean {
                    if (key)
                        test_send_key(window_main, GDK_q, GDK_CONTROL_MASK);
                    else
                        gtk_widget_destroy(window_main);
                    return FALSE;
                },
                nullptr);
            gtk_main();
            bool worker_alive = false;
            for (const auto &task : std::filesystem::directory_iterator("/proc/self/task"))
                worker_alive = worker_alive || test_read_file(task.path() / "comm") == "player\n";
            const int rows = gtk_tree_model_iter_n_children(GTK_TREE_MODEL(index_store), nullptr);
            std::fprintf(stderr, "file %d, port %d, rows %d, worker alive %d\n",
                         tap_file_open.load(), int(test_port_open()), rows, int(worker_alive));
            std::_Exit(tap_file_open.load() == 0 && !test_port_open() && rows == 0 ? 0 : 1);
        };
        EXPECT_EXIT(scenario(), testing::ExitedWithCode(0), "worker alive 1") << by_key;
    }
}
