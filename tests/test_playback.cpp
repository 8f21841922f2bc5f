// Playback: the pulse count on its own, then the real main window against a
// device played by the test over a pseudo-terminal, which checks every
// request and every answer byte for byte.
#include "support/emulator.h"

#include "device/serial.h"
#include "document/tape_progress.h"
#include "index/idx_list.h"
#include "player/player_controls.h"
#include "player/player_thread.h"
#include "tape/tape_file.h"
#include "ui/registry.h"

#include "tap_maker.h"

#include <fcntl.h>
#include <random>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace
{
const std::string started = test_separator + "Playback started\n",
                  over = " Playback over: ", success = over + "Success condition received";

// The header of `tap` for a run from `offset`: its length field counts the
// data from there on.
std::string header_from(const std::string &tap, std::size_t offset)
{
    return tap_wrap(tap.substr(offset)).substr(0, 20);
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
    EXPECT_FALSE(serial_is_open());
    EXPECT_TRUE(test_controls_are(true));
}

bool player_alive()
{
    bool alive = false;
    for (const auto &task : fs::directory_iterator("/proc/self/task"))
        alive |= test_read_file(task.path() / "comm") == "player\n";
    return alive;
}

using Steps = std::vector<std::pair<std::string, std::string>>; // request, reply

// The console's side of a playback start (the prompt, the echo of "p"),
// `steps`, then with `tap` the 'd' requests that fetch it from `from` to its
// end, one more that gets nothing, and the device's 'e'.
Steps from_start(const Steps &steps, const std::string &tap = "", std::size_t from = 0)
{
    Steps all = {{"Ravelo\r\n> ", "p\r"}, {"p\r\n", ""}};
    all.insert(all.end(), steps.begin(), steps.end());
    for (; !tap.empty() && from < tap.size() + 64; from += 64)
        all.push_back({"d", from < tap.size() ? tap.substr(from, 64) : ""});
    if (!tap.empty())
        all.push_back({"e", ""});
    return all;
}

// The descriptions of the rows that carry the playing mark.
std::string marked_rows()
{
    GtkTreeViewColumn *column = gtk_tree_view_get_column(test_index_view(), 0);
    GList *cells = gtk_cell_layout_get_cells(GTK_CELL_LAYOUT(column));
    GtkTreeModel *model = gtk_tree_view_get_model(test_index_view());
    std::string marked;
    GtkTreeIter iter;
    for (gboolean valid = gtk_tree_model_get_iter_first(model, &iter); valid;
         valid = gtk_tree_model_iter_next(model, &iter)) {
        gtk_tree_view_column_cell_set_cell_data(column, model, &iter, FALSE, FALSE);
        gchar *stock = nullptr, *info = nullptr;
        g_object_get(cells->data, "stock-id", &stock, nullptr);
        gtk_tree_model_get(model, &iter, idx_column_info, &info, -1);
        const std::string name = test_owned(info);
        if (test_owned(stock) != "")
            marked += name + " ";
    }
    g_list_free(cells);
    return marked;
}

// What the status bar's tooltip says, asked as the toolkit asks when the
// pointer rests on it: into a tooltip of our own, whose window is new.
std::string status_tooltip()
{
    GList *before = gtk_window_list_toplevels();
    GObject *tooltip = G_OBJECT(g_object_new(GTK_TYPE_TOOLTIP, nullptr));
    GList *after = gtk_window_list_toplevels();
    GtkWidget *window = nullptr;
    for (GList *l = after; l != nullptr; l = l->next)
        window = g_list_find(before, l->data) == nullptr ? GTK_WIDGET(l->data) : window;
    gboolean shown = FALSE;
    g_signal_emit_by_name(test_widget("statusbar_main"), "query-tooltip", 0, 0, FALSE, tooltip,
                          &shown);
    const std::string text = shown && window != nullptr ? test_label_texts(window) : "";
    g_object_unref(tooltip);
    g_list_free(before);
    g_list_free(after);
    return text;
}

std::string progress_text()
{
    return gtk_progress_bar_get_text(GTK_PROGRESS_BAR(test_widget("progressbar_playback")));
}

} // namespace

// A stretch runs to the next offset or the tape's end, in any order of the
// records; the header counts as the data's start; past the end is none.
TEST(Player, ProgressStretchesAndTheirTextByRule)
{
    // Four 20-byte pieces of a second each: a counted pulse, 16 short ones.
    std::string data;
    for (int i = 0; i < 4; ++i) {
        const guint32 cycles = tape_clock_hz - 16 * 8;
        data += std::string{'\0', char(cycles), char(cycles >> 8), char(cycles >> 16)} +
                std::string(16, '\1');
    }
    const std::string tap = tap_wrap(data); // 100 bytes: pieces at 20, 40, 60, 80
    const auto *bytes = reinterpret_cast<const unsigned char *>(tap.data());
    const auto stretches = tape_progress_stretches(
        bytes, tap.size(),
        {{60, "C"}, {5, "HEADER"}, {20, "A"}, {40, ""}, {60, "C again"}, {500, "PAST"}});
    std::string seen;
    for (const TapeStretch &s : stretches)
        seen += tape_progress_name(s) + " " + std::to_string(s.start / tape_clock_hz) + "-" +
                std::to_string(s.end / tape_clock_hz) + "; ";
    EXPECT_EQ(seen, "HEADER 0-1; 40 1-2; C 2-4; ");

    // The times add up, capped at the stretch's length past the tape's end.
    const std::uint64_t second = tape_clock_hz;
    EXPECT_EQ(tape_progress_locate(stretches, 3 * second), 2u);
    EXPECT_EQ(tape_progress_text(stretches[2], 3 * second), "C – 0:01 of 0:02, 0:01 left");
    EXPECT_EQ(tape_progress_text(stretches[2], 9 * second), "C – 0:02 of 0:02, 0:00 left");
    EXPECT_DOUBLE_EQ(tape_progress_fraction(stretches[1], second + second / 2), 0.5);
}

// Any chunking gives the sum of the definition, wrapping at 32 bits: chunks
// of one byte split every count after its zero, low and middle byte, and the
// bytes seen before the split keep their weight. A file larger than any
// tape, 4 GiB among them, is not read.
TEST(Player, AnyChunkingGivesThePulseSumOfTheDefinitionAndLargerFilesAreNoTapes)
{
    std::mt19937 random(7);
    std::vector<guint8> data(20000);
    for (auto &b : data)
        b = random() % 100 < 5 ? 0 : guint8(random());
    guint64 expected = 0;
    for (std::size_t i = 0; i < data.size(); i += data[i] != 0 ? 1 : 4)
        expected += data[i] != 0          ? 8u * data[i]
                    : i + 3 < data.size() ? data[i + 1] | data[i + 2] << 8 | data[i + 3] << 16
                                          : 0; // a count cut off by the end adds nothing
    const std::tuple<std::vector<guint8>, guint32, guint32> cases[] = {
        {{0x30, 0x30}, 0, 768},
        {{0x00, 0x10, 0x27, 0x00, 0x01}, 0, 10000 + 8}, // least significant byte first
        {{0x00, 0xFF, 0xFF, 0xFF}, 5, 5 + 0xFFFFFF},
        {{0x02}, 0xFFFFFFF8u, 8},
        {{0x00, 0x00, 0x00, 0x01}, 0xFFFF0000u, 0},
        {data, 0, guint32(expected)},
    };
    for (const auto &[bytes, start, cycles] : cases) {
        for (std::size_t chunk : {1u, 2u, 3u, 63u, 64u}) {
            TapePulseCounter counter;
            counter.cycles = start;
            for (std::size_t at = 0; at < bytes.size(); at += chunk)
                counter.add(&bytes[at], std::min(chunk, bytes.size() - at));
            EXPECT_EQ(guint32(counter.cycles), cycles) << bytes.size() << " / " << chunk;
        }
    }
    // The label's minutes are uncapped.
    EXPECT_EQ(test_owned(player_format_buffer_time(4294967295u)), "71582788:15 ");

    test_write_file("big.tap", "");
    for (const std::uint64_t length : {tape_file_largest + 1, std::uint64_t{1} << 32}) {
        fs::resize_file("big.tap", length); // sparse: no disk space used
        std::vector<unsigned char> bytes;
        EXPECT_EQ(tape_file_read("big.tap", &bytes).problem, TapeFileProblem::too_large);
    }
}

TEST(PlaybackDevice, AnswersEachRequestExactlyAndEndsOnJunkNotOnSilence)
{
    const std::string tap100 = tap_wrap(data_of(100)), tap5000 = tap_wrap(data_of(5000));
    const std::string head100 = tap100.substr(0, 20), head1000 = header_from(tap5000, 1000);
    const std::string invalid = over + "Invalid index supplied for file",
                      read_error = over + "Error reading from file",
                      no_start = over + "Unable to start playback on device";
    const std::tuple<const char *, std::string, long, Steps, std::string> cases[] = {
        {"the header unchanged, 100 bytes as 64 + 36, then nothing", tap100, 20,
         from_start({{"h", head100}}, tap100, 20), success},
        {"from offset 1000 the header counts 4020 bytes", tap5000, 1000,
         from_start({{"h", head1000}}, tap5000, 1000), success},
        {"the last data byte", tap5000, 5019,
         from_start({{"h", header_from(tap5000, 5019)}}, tap5000, 5019), success},
        {"at the end of the data", tap5000, 5020, from_start({{"h", ""}}), invalid},
        {"past the end of the file", tap5000, 6000, from_start({{"h", ""}}), invalid},
        {"'h' again counts what is still to come, and the data goes on", tap100, 20,
         from_start({{"h", head100},
                     {"h", head100},
                     {"d", tap100.substr(20, 64)},
                     {"h", header_from(tap100, 84)}},
                    tap100, 84),
         success},
        {"'d' before 'h' and unknown bytes are ignored", tap100, 20,
         from_start({{std::string("x\0?\r\nHD", 7), ""}, {"d", ""}, {"h", head100}, {"zz", ""}},
                    tap100, 20),
         success},
        {"a file shorter than its header says", tap5000.substr(0, 120), 1000,
         from_start({{"h", head1000}, {"d", "h"}}), read_error},
        {"the device fails", tap100, 20, from_start({{"h", head100}, {"f", ""}}),
         over + "Failure condition received"},
        {"a wrong echo", tap100, 20, {{"Ravelo\r\n> ", "p\r"}, {"P\r\n", ""}}, no_start},
        {"no prompt", tap100, 20, {{"Ravelo\r\n", ""}}, over + "Unable to sync with device"},
    };
    PtyDevice device;
    test_set_ports(device.slave.c_str());
    int n = 0;
    for (const auto &[what, tap, offset, steps, status] : cases) {
        SCOPED_TRACE(what);
        test_attach(tap, offset > 20 ? std::to_string(offset) + "\t\tRecord\r\n" : "",
                    "t" + std::to_string(++n) + ".tap");
        test_select_row(offset > 20 ? 1 : 0); // after "Tape start"
        const std::string log = test_log_text();
        test_click("button_play");
        EXPECT_EQ(test_status_text(), " Playback started");
        EXPECT_TRUE(test_controls_are(false));
        for (const auto &[request, reply] : steps)
            device.exchange(request, reply);
        ASSERT_TRUE(test_status_is(status));
        // Its end with its record (none past the tape's end) and tape time.
        const auto *bytes = reinterpret_cast<const unsigned char *>(tap.data());
        const auto start = tape_cycles_at(bytes, tap.size(), offset);
        const std::string record = !start ? "" : offset > 20 ? "Record, " : "Tape start, ";
        const std::uint64_t played =
            status == success ? *tape_cycles_at(bytes, tap.size(), tap.size()) - *start : 0;
        EXPECT_EQ(test_log_after(log), started + status.substr(1) + " – " + record +
                                           tape_time_text(played) + " of tape played\n");
        expect_run_closed();
    }
    // Junk for 5 s ends a run; silence alone never does.
    test_click("button_play");
    ASSERT_TRUE(device.start_playback());
    EXPECT_FALSE(test_spin_until([] { return test_status_text() != " Playback started"; }, 6000))
        << "silence";
    EXPECT_TRUE(test_spin_until(
        [&] {
            device.write("x?");
            return test_status_text() == over + "Unable to sync with device";
        },
        15000));
    expect_run_closed();
}

// Three chunks of 0.3, 0.3 and 0.5 s of tape: a counted pulse and 60 short
// ones each. Only the exact sum carried over the pauses makes 1 s.
TEST(PlaybackDevice, PauseResumesExactlySilentlyAndWithTheExactTapeTime)
{
    std::string data;
    for (double seconds : {0.3, 0.3, 0.5}) {
        const guint32 cycles = guint32(seconds * tape_clock_hz) - 60 * 8;
        data += std::string{'\0', char(cycles), char(cycles >> 8), char(cycles >> 16)} +
                std::string(60, '\1');
    }
    const std::string tap = tap_wrap(data);
    PtyDevice device;
    test_set_ports(device.slave.c_str());
    // A record inside the header means the start of the data.
    test_attach(tap, "5\t\tInside the header\r\n84\t\tSecond\r\n");
    test_select_row(0);
    static int updates = 0;
    g_signal_connect_swapped(test_widget("label_buffer_time"), "notify::label",
                             G_CALLBACK(+[](int *count) { ++*count; }), &updates);
    const std::string log = test_log_text();
    test_click("button_play");
    for (int k = 0; k < 3; ++k) {
        // The header counts the data not yet sent, which goes on where it was.
        ASSERT_TRUE(device.start_playback());
        device.exchange("h", header_from(tap, 20 + 64 * k));
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
    // Each pause where the tape was: the first chunk ends where "Second" starts.
    const std::string paused =
        "Playback paused – Second, 0:00 of tape played\nPaused\nPlayback started\n";
    EXPECT_EQ(test_log_after(log), started + paused + paused +
                                       "Playback over: Success condition received – Second, "
                                       "0:01 of tape played\n")
        << "resuming logs only its status";
    EXPECT_TRUE(test_spin_until([] { return buffer_label() == "0:01 "; }));
    EXPECT_EQ(updates, 2) << "published at the first chunk and when 1 s was reached";

    // A run that ended by itself is not resumed: the record again, and the
    // tape time from zero. After a pause, another record: Play starts there.
    for (const long record : {5, 84}) {
        const std::string before = test_log_text();
        test_click("button_play");
        EXPECT_EQ(test_log_after(before), started);
        ASSERT_TRUE(device.start_playback());
        device.exchange("h", header_from(tap, std::max(record, 20L)));
        device.exchange("d", tap.substr(std::max(record, 20L), 64));
        EXPECT_TRUE(record == 84 || test_spin_until([] { return buffer_label() == "0:00 "; }));
        test_click("button_pause");
        ASSERT_TRUE(test_status_is(" Playback paused", 3000));
        test_select_row(2); // 84, after 5 and "Tape start"
    }
}

TEST(PlaybackDevice, TransportButtonsActOnlyOnARunStopAndAFileFailureEndIt)
{
    PtyDevice device;
    const std::string tap = tap_wrap(data_of(300));
    test_attach(tap, "20\t\tFirst\r\n100\t\tSecond\r\n200\t\tThird\r\n");
    test_select_row(1);
    const std::string status = test_status_text();
    for (const char *button : {"button_pause", "button_stop", "button_previous", "button_next"})
        test_click(button);
    EXPECT_EQ(test_selected().first, 100);
    EXPECT_EQ(test_status_text(), status);
    test_set_ports("");
    const std::string log = test_log_text();
    test_click("button_play");
    EXPECT_EQ(test_status_text(), " Error: Invalid device port");
    EXPECT_EQ(test_log_after(log), "Error: Invalid device port\n");
    EXPECT_TRUE(test_controls_are(true));

    // In turn, each from where the one before left the selection. (Where
    // Previous and Next stop: test_idx.)
    test_set_ports(device.slave.c_str());
    const std::pair<const char *, long> cases[] = {
        {"button_stop", 100}, {"button_next", 200}, {"button_previous", 100}};
    for (const auto &[button, offset_after] : cases) {
        SCOPED_TRACE(std::string(button) + " from " + std::to_string(test_selected().first));
        std::string log = test_log_text();
        test_click("button_play");
        test_click("button_play"); // a second Play while busy starts no second worker
        EXPECT_EQ(test_log_after(log), started) << "the last run left nothing to resume";
        ASSERT_TRUE(device.start_playback());
        device.exchange("h", header_from(tap, test_selected().first));
        log = test_log_text();
        const std::string record_played = test_selected().first == 100 ? "Second" : "Third";
        test_click(button);
        EXPECT_EQ(test_selected().first, offset_after) << "the selection moves at once";
        ASSERT_TRUE(test_status_is(" Playback stopped", 3000));
        EXPECT_EQ(test_log_after(log),
                  "Playback stopped – " + record_played + ", 0:00 of tape played\nStopped\n");
        expect_run_closed();
    }
    // The tape held by another program, gone, or no regular file: refused at
    // once, nothing waited on and no descriptor left. (A port that cannot be
    // opened: test_flash_from_anywhere.)
    const std::string path = test_path("tape.tap");
    const int holder = open(path.c_str(), O_RDONLY);
    std::vector<size_t> descriptors;
    const std::function<int()> troubles[] = {
        [&] { return flock(holder, LOCK_SH); }, [&] { return std::remove(path.c_str()); },
        [&] { return mkfifo(path.c_str(), 0644); },
        [&] { return std::remove(path.c_str()) | symlink("/dev/null", path.c_str()); },
        [&] { return std::remove(path.c_str()) | mkdir(path.c_str(), 0755); }};
    for (const auto &make : troubles) {
        SCOPED_TRACE(&make - troubles);
        ASSERT_EQ(make(), 0);
        const std::string log = test_log_text();
        test_click("button_play");
        ASSERT_TRUE(test_status_is(over + "Unable to open file", 1000));
        EXPECT_EQ(test_log_after(log),
                  started + "Playback over: Unable to open file – 0:00 of tape played\n");
        expect_run_closed();
        descriptors.push_back(test_open_descriptors());
    }
    EXPECT_EQ(descriptors, std::vector<size_t>(5, descriptors.front()));
    close(holder);
}

// Against the paced emulator: the bar and the mark follow the record being
// played, Pause freezes both, the end clears them and logs where it ended.
TEST(PlaybackDevice, ProgressFollowsTheRecordsAndTheEndIsLogged)
{
    // Three records of 4 s of tape each.
    const std::string piece(1932, '\xff'); // 1932 * 255 * 8 cycles: 4 s
    test_attach(tap_wrap(piece + piece + piece), "20\t\tONE\r\n1952\t\tTWO\r\n3884\t\tTHREE\r\n");
    Emulator device({"--speed", "4"});
    test_set_ports(device.link().c_str());
    test_select_row(0);
    test_click("button_play");
    // The records the bar named in turn, each of 4 s, each marked.
    std::string names;
    const auto watch = [&](const std::function<bool()> &done) {
        return test_spin_until(
            [&] {
                const std::string text = progress_text();
                const std::string name = text.substr(0, text.find(" – "));
                if (!text.empty() && !g_str_has_suffix(names.c_str(), (name + " ").c_str())) {
                    names += name + " ";
                    EXPECT_EQ(marked_rows(), name + " ") << text;
                    EXPECT_NE(text.find(" of 0:04, "), std::string::npos) << text;
                }
                return done();
            },
            20000);
    };
    ASSERT_TRUE(watch([] { return progress_text().rfind("TWO – 0:01", 0) == 0; }));
    test_click("button_pause");
    ASSERT_TRUE(test_status_is(" Playback paused"));
    const std::string frozen = progress_text();
    EXPECT_EQ(frozen.rfind("TWO – 0:0", 0), 0u) << frozen;
    EXPECT_EQ(marked_rows(), "TWO ");
    const std::string log = test_log_text();
    test_click("button_play");
    ASSERT_TRUE(watch([] { return test_status_text() == success; }));
    EXPECT_EQ(progress_text(), "");
    EXPECT_EQ(marked_rows(), "");
    EXPECT_EQ(test_log_after(log), "Playback started\nPlayback over: Success condition received – "
                                   "THREE, 0:12 of tape played\n");
    EXPECT_EQ(status_tooltip(), "Playback over: Success condition received");

    EXPECT_EQ(names, "ONE TWO THREE ");
}

// A device that hangs up and stays away ends the run; afterwards no worker
// is left.
TEST(PlaybackDevice, AVanishedDeviceEndsTheRun)
{
    test_attach(tap_wrap(data_of(100000)));
    Emulator device({"--fast", "--hangup-after", "20000", "--replug-delay", "600000"});
    test_set_ports(device.link().c_str());
    test_click("button_play");
    ASSERT_TRUE(test_status_is(over + "The device is gone (unplugged?)"));
    expect_run_closed();
    EXPECT_TRUE(test_spin_until([&] { return !player_alive(); }));
}

// Ctrl+Q (the close button quits alike: test_unsaved) in a child, since
// quitting ends the main loop for good. The device stays silent: the worker
// waits for its prompt for seconds, and nothing waits for it.
TEST(PlaybackQuit, QuittingDoesNotWaitForTheWorker)
{
    EXPECT_EXIT(
        {
            PtyDevice device;
            test_set_ports(device.slave.c_str());
            test_attach(tap_wrap(data_of(100)));
            test_click("button_play");
            test_spin_until([] { return serial_is_open(); });
            // The window's end frees the list's store; its rows are read after.
            GtkTreeModel *rows = gtk_tree_view_get_model(test_index_view());
            g_object_ref(rows);
            g_idle_add(
                [](gpointer) -> gboolean {
                    test_send_key(ui_window_main(), GDK_q, GDK_CONTROL_MASK);
                    return FALSE;
                },
                nullptr);
            gtk_main();
            std::_Exit(serial_is_open() || !player_alive() ||
                       gtk_tree_model_iter_n_children(rows, nullptr));
        },
        testing::ExitedWithCode(0), "");
}
