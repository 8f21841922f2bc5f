// Helpers of the playback tests: a device driven step by step from the test
// over a real pseudo-terminal, and the user's steps through the real window.
#pragma once

#include "support/harness.h"

#include "config/config.h"
#include "device/serial.h"
#include "index/idx_commands.h"
#include "player/playback.h"
#include "player/player_worker.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <dirent.h>
#include <fstream>
#include <sstream>
#include <cstdlib>
#include <fcntl.h>
#include <poll.h>
#include <string>
#include <termios.h>
#include <unistd.h>

// The master side of a pseudo-terminal whose slave the client opens as its
// device port. The test plays the device: it sends requests and reads what
// the client answered between two requests, which is exactly one answer
// since the client sends nothing unasked.
class PtyDevice
{
  public:
    explicit PtyDevice(const std::string &name = "ttyDEV") : link_(test_path(name))
    {
        master_ = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
        EXPECT_GE(master_, 0);
        EXPECT_EQ(grantpt(master_), 0);
        EXPECT_EQ(unlockpt(master_), 0);
        const std::string slave = ptsname(master_);
        // Raw from the start, so that nothing the device sends before the
        // client has configured the line is echoed or translated; opening
        // and closing the slave once also makes POLLHUP on the master mean
        // "nobody holds the port".
        const int fd = open(slave.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
        EXPECT_GE(fd, 0);
        termios settings{};
        EXPECT_EQ(tcgetattr(fd, &settings), 0);
        cfmakeraw(&settings);
        EXPECT_EQ(tcsetattr(fd, TCSANOW, &settings), 0);
        close(fd);
        unlink(link_.c_str());
        EXPECT_EQ(symlink(slave.c_str(), link_.c_str()), 0);
    }
    ~PtyDevice()
    {
        if (master_ >= 0)
            close(master_);
        unlink(link_.c_str());
    }
    PtyDevice(const PtyDevice &) = delete;
    PtyDevice &operator=(const PtyDevice &) = delete;

    const std::string &path() const { return link_; }

    // Whether the client holds the port (waits up to `timeout_ms` for it).
    bool wait_opened(int timeout_ms = 5000) { return wait_hangup(false, timeout_ms); }
    // Whether nobody holds the port any more.
    bool wait_closed(int timeout_ms = 5000) { return wait_hangup(true, timeout_ms); }

    void send(const std::string &bytes)
    {
        std::size_t done = 0;
        while (done < bytes.size()) {
            const ssize_t n = write(master_, bytes.data() + done, bytes.size() - done);
            if (n < 0 && errno == EINTR)
                continue;
            ASSERT_GT(n, 0) << "device write failed";
            done += std::size_t(n);
        }
    }

    // Reads until `count` bytes have come or `timeout_ms` passed.
    std::string receive(std::size_t count, int timeout_ms = 5000)
    {
        std::string got;
        const gint64 deadline = g_get_monotonic_time() + gint64(timeout_ms) * 1000;
        while (got.size() < count) {
            const gint64 left = (deadline - g_get_monotonic_time()) / 1000;
            if (left <= 0 || !read_some(got, int(left), count - got.size()))
                break;
        }
        return got;
    }

    // Reads whatever comes until nothing more arrived for `quiet_ms`.
    std::string receive_quiet(int quiet_ms = 300)
    {
        std::string got;
        while (read_some(got, quiet_ms, 4096)) {
        }
        return got;
    }

    // The console's side of a playback start: the prompt once the client
    // holds the port, then the echo of "p". False when the client did not
    // open the port or did not send "p" CR.
    bool start_playback()
    {
        if (!wait_opened())
            return false;
        send("Ravelo\r\n> ");
        const std::string command = receive(2);
        EXPECT_EQ(command, "p\r");
        if (command != "p\r")
            return false;
        send("p\r\n");
        return true;
    }

    // Asks for the header and returns what came (20 bytes expected).
    std::string header()
    {
        send("h");
        return receive(20);
    }

    // Asks for one data chunk and returns exactly what came in answer.
    std::string chunk(int quiet_ms = 300)
    {
        send("d");
        return receive_quiet(quiet_ms);
    }

    // Asks for one data chunk of an expected size; returns what came.
    std::string chunk_of(std::size_t expected)
    {
        send("d");
        return receive(expected);
    }

    // Asks for data until the client has none left; returns all of it.
    std::string rest_of_data()
    {
        std::string all;
        for (;;) {
            // A full chunk returns as soon as it is there; a short one is
            // the last and waits for nothing more to come.
            send("d");
            std::string c = receive(64, 300);
            if (c.empty())
                return all;
            all += c;
            if (c.size() < 64) {
                all += receive_quiet(200);
                EXPECT_EQ(chunk(200), "") << "nothing after the last chunk";
                return all;
            }
        }
    }

    // The device vanishes as an unplugged one does: the master closes and
    // the client's descriptor fails from now on.
    void hang_up()
    {
        close(master_);
        master_ = -1;
    }

  private:
    bool wait_hangup(bool hangup, int timeout_ms)
    {
        const gint64 deadline = g_get_monotonic_time() + gint64(timeout_ms) * 1000;
        for (;;) {
            pollfd p{master_, 0, 0};
            if (poll(&p, 1, 0) >= 0 && ((p.revents & POLLHUP) != 0) == hangup)
                return true;
            if (g_get_monotonic_time() >= deadline)
                return false;
            // POLLHUP is level-triggered: poll would return at once.
            g_usleep(2000);
        }
    }

    // One wait for input of up to `timeout_ms`; appends up to `max` bytes.
    // False when nothing came (time-out, or nobody holds the port).
    bool read_some(std::string &into, int timeout_ms, std::size_t max)
    {
        pollfd p{master_, POLLIN, 0};
        int ready;
        do
            ready = poll(&p, 1, timeout_ms);
        while (ready < 0 && errno == EINTR);
        if (ready <= 0 || (p.revents & POLLIN) == 0) {
            if (ready > 0 && (p.revents & POLLHUP) != 0)
                g_usleep(gulong(timeout_ms) * 1000);
            return false;
        }
        char buffer[4096];
        const ssize_t n = read(master_, buffer, std::min(max, sizeof buffer));
        if (n <= 0)
            return false;
        into.append(buffer, std::size_t(n));
        return true;
    }

    std::string link_;
    int master_ = -1;
};

// Replaces the configured device port, as the settings window would (after
// start-up, which loads the configuration).
inline void set_device_port(const std::string &path)
{
    test_app_start();
    g_free(device_port);
    device_port = g_strdup(path.c_str());
}

// A TAP header for `data_length` bytes of data.
inline std::string tap_header(guint32 data_length)
{
    std::string header = "C64-TAPE-RAW";
    header += char(1);
    header += std::string(3, '\0');
    for (int i = 0; i < 4; ++i)
        header += char((data_length >> (8 * i)) & 0xFF);
    return header;
}

// Attaches `path` through File, Open and the real file chooser, answered as
// the user would: once the chooser shows its folder, select the file and,
// once it shows the file as selected, press Open.
inline bool open_tap_file(const std::string &path)
{
    test_answer_window(GTK_TYPE_FILE_CHOOSER_DIALOG, [path](GtkWidget *dialog) {
        GtkFileChooser *chooser = GTK_FILE_CHOOSER(dialog);
        const auto shows = [chooser](gchar *(*get)(GtkFileChooser *), const std::string &want) {
            gchar *value = get(chooser);
            const bool match = value != nullptr && (want.empty() || want == value);
            g_free(value);
            return match;
        };
        test_spin_until([&] { return shows(gtk_file_chooser_get_current_folder, ""); }, 10000);
        gtk_file_chooser_set_filename(chooser, path.c_str());
        const bool chosen =
            test_spin_until([&] { return shows(gtk_file_chooser_get_filename, path); }, 10000);
        gtk_dialog_response(GTK_DIALOG(dialog), chosen ? GTK_RESPONSE_OK : GTK_RESPONSE_CANCEL);
    });
    gtk_menu_item_activate(GTK_MENU_ITEM(test_widget("menuitem_open")));
    return tap_file_path != nullptr && path == tap_file_path;
}

// Puts the index list's cursor on the row at `index` in the list's order.
inline void select_row(int index)
{
    GtkTreePath *row = gtk_tree_path_new_from_indices(index, -1);
    gtk_tree_view_set_cursor(GTK_TREE_VIEW(test_widget("treeview_indexes")), row, nullptr, FALSE);
    gtk_tree_path_free(row);
}

// The offset of the selected row, or -1 when none is selected.
inline long selected_offset()
{
    GtkTreeSelection *selection =
        gtk_tree_view_get_selection(GTK_TREE_VIEW(test_widget("treeview_indexes")));
    GtkTreeModel *model = nullptr;
    GtkTreeIter iter;
    if (!gtk_tree_selection_get_selected(selection, &model, &iter))
        return -1;
    gint offset = 0;
    gtk_tree_model_get(model, &iter, 0, &offset, -1);
    return offset;
}

inline void click(const char *button)
{
    gtk_button_clicked(GTK_BUTTON(test_widget(button)));
}

inline bool status_is(const std::string &text, int timeout_ms = 10000)
{
    return test_spin_until([&] { return test_status_text() == text; }, timeout_ms);
}

inline bool port_is_open()
{
    g_mutex_lock(&port_lock);
    const bool open = port_open != 0;
    g_mutex_unlock(&port_lock);
    return open;
}

// The idle arrangement: Play and the commands sensitive, the rest not.
inline bool controls_idle()
{
    return test_sensitive("button_play") && test_sensitive("menuitem_open") &&
           test_sensitive("treeview_indexes") && !test_sensitive("button_pause") &&
           !test_sensitive("button_stop") && !test_sensitive("button_previous") &&
           !test_sensitive("button_next");
}

inline bool controls_busy()
{
    return !test_sensitive("button_play") && !test_sensitive("menuitem_open") &&
           !test_sensitive("treeview_indexes") && test_sensitive("button_pause") &&
           test_sensitive("button_stop") && test_sensitive("button_previous") &&
           test_sensitive("button_next");
}

// After a run has ended: nothing left open, controls back to idle.
inline void expect_run_closed()
{
    EXPECT_EQ(tap_file_open.load(), 0);
    EXPECT_FALSE(port_is_open());
    EXPECT_TRUE(controls_idle());
}

inline std::string buffer_label()
{
    return gtk_label_get_text(GTK_LABEL(test_widget("label_buffer_time")));
}

inline constexpr char separator[] = "================================\n";

inline std::string data_of(std::size_t length, unsigned seed = 3)
{
    std::string data(length, '\0');
    guint32 x = seed;
    for (auto &c : data) {
        x = x * 1103515245u + 12345u;
        // Short pulses only: every byte is a whole pulse.
        c = char(0x20 + (x >> 16) % 0x40);
    }
    return data;
}

struct Fixture {
    std::string tap_path;
    std::string tap;
    std::string data;
};

// Writes a TAP file (and its IDX text, when given) and attaches it with
// File, Open; the device port is the test's pty.
inline Fixture attach(const std::string &data, const std::string &idx = "",
                      const std::string &name = "tape.tap")
{
    test_app_start();
    Fixture f;
    f.tap_path = test_path(name);
    f.data = data;
    f.tap = tap_header(guint32(data.size())) + data;
    test_write_file(f.tap_path, f.tap);
    if (!idx.empty())
        test_write_file(test_path(name.substr(0, name.rfind('.')) + ".idx"), idx);
    EXPECT_TRUE(open_tap_file(f.tap_path));
    return f;
}

inline std::string le32(guint32 v)
{
    std::string s;
    for (int i = 0; i < 4; ++i)
        s += char((v >> (8 * i)) & 0xFF);
    return s;
}

// What the log got since it read `before`.
inline std::string log_after(const std::string &before)
{
    const std::string now = test_log_text();
    return now.substr(std::min(before.size(), now.size()));
}

// CPU time (clock ticks) used so far by the thread named "player".
inline long player_thread_ticks()
{
    long ticks = -1;
    DIR *dir = opendir("/proc/self/task");
    if (dir == nullptr)
        return -1;
    while (dirent *e = readdir(dir)) {
        if (e->d_name[0] == '.')
            continue;
        const std::string base = std::string("/proc/self/task/") + e->d_name;
        std::string comm = test_read_file(base + "/comm");
        if (comm != "player\n")
            continue;
        std::ifstream stat(base + "/stat");
        std::string line;
        std::getline(stat, line);
        // Fields after the ")" that closes the name: state is field 3,
        // utime field 14, stime field 15.
        std::istringstream rest(line.substr(line.rfind(')') + 2));
        std::string field;
        long utime = 0, stime = 0;
        for (int i = 3; i <= 15 && rest >> field; ++i) {
            if (i == 14)
                utime = std::stol(field);
            if (i == 15)
                stime = std::stol(field);
        }
        ticks = utime + stime;
    }
    closedir(dir);
    return ticks;
}

// Whether a thread named "player" exists in this process.
inline bool player_thread_alive()
{
    return player_thread_ticks() >= 0;
}
