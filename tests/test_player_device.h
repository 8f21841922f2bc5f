// Helpers of the playback tests: a device played by the test over a real
// pseudo-terminal, and the user's steps through the real window.
#pragma once

#include "support/emulator.h"
#include "support/harness.h"

#include "config/config.h"
#include "device/serial.h"
#include "index/idx_commands.h"
#include "player/playback.h"
#include "player/player_state.h"
#include "player/player_worker.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <string>
#include <termios.h>
#include <unistd.h>

// The device, at the master side of a pseudo-terminal whose slave the client
// opens as its port. The test holds the slave open too, so that what the
// device sends waits for the client's next run. The client sends nothing
// unasked: what comes between two requests is the answer to the first.
struct PtyDevice {
    PtyClient master{"/dev/ptmx"};
    const std::string path = test_path("ttyDEV");
    int slave = -1;

    PtyDevice()
    {
        EXPECT_TRUE(grantpt(master.fd()) == 0 && unlockpt(master.fd()) == 0);
        // Raw from the start: nothing sent before the client has set up the
        // line may be echoed.
        slave = open(ptsname(master.fd()), O_RDWR | O_NOCTTY | O_CLOEXEC);
        termios settings{};
        EXPECT_EQ(tcgetattr(slave, &settings), 0);
        cfmakeraw(&settings);
        EXPECT_EQ(tcsetattr(slave, TCSANOW, &settings), 0);
        EXPECT_EQ(symlink(ptsname(master.fd()), path.c_str()), 0);
    }
    ~PtyDevice()
    {
        close(slave);
        unlink(path.c_str());
    }

    // Sends `request` and expects exactly `reply` (nothing, when empty).
    void exchange(const std::string &request, const std::string &reply)
    {
        EXPECT_TRUE(master.write(request));
        const std::string got =
            reply.empty() ? master.read_for(300) : master.read_exact(reply.size());
        EXPECT_EQ(got, reply) << "answer to " << testing::PrintToString(request);
    }

    // The console's side of a playback start: the prompt, the echo of "p".
    bool start_playback()
    {
        const bool asked = master.write("Ravelo\r\n> ") && master.read_exact(2) == "p\r";
        return master.write("p\r\n") && asked;
    }
};

// Replaces the configured device port, as the settings window would (after
// start-up, which loads the configuration).
inline void set_device_port(const std::string &path)
{
    test_app_start();
    g_free(device_port);
    device_port = g_strdup(path.c_str());
}

inline std::string le32(guint32 v)
{
    std::string s;
    for (int i = 0; i < 4; ++i)
        s += char((v >> (8 * i)) & 0xFF);
    return s;
}

// `length` bytes of short pulses, no two neighbours alike.
inline std::string data_of(std::size_t length)
{
    std::string data;
    for (std::size_t i = 0; i < length; ++i)
        data += char(1 + i * 37 % 251);
    return data;
}

// Attaches `path` through File, Open and the real file chooser, answered as
// the user would: select the file and, once the chooser shows it selected
// (it loads the folder in the background), press Open.
inline bool open_tap_file(const std::string &path)
{
    test_answer_window(GTK_TYPE_FILE_CHOOSER_DIALOG, [path](GtkWidget *dialog) {
        GtkFileChooser *chooser = GTK_FILE_CHOOSER(dialog);
        gtk_file_chooser_set_filename(chooser, path.c_str());
        const bool chosen = test_spin_until(
            [&] {
                gchar *shown = gtk_file_chooser_get_filename(chooser);
                const bool match = shown != nullptr && path == shown;
                g_free(shown);
                return match;
            },
            10000);
        gtk_dialog_response(GTK_DIALOG(dialog), chosen ? GTK_RESPONSE_OK : GTK_RESPONSE_CANCEL);
    });
    gtk_menu_item_activate(GTK_MENU_ITEM(test_widget("menuitem_open")));
    return tap_file_path != nullptr && path == tap_file_path;
}

// Writes the TAP file `name` with `tap` (and its IDX text, when given) and
// attaches it with File, Open.
inline std::string attach(const std::string &tap, const std::string &idx = "",
                          const std::string &name = "tape.tap")
{
    test_app_start();
    const std::string path = test_path(name);
    test_write_file(path, tap);
    if (!idx.empty())
        test_write_file(test_path(name.substr(0, name.rfind('.')) + ".idx"), idx);
    EXPECT_TRUE(open_tap_file(path));
    return path;
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
    gint offset = -1;
    if (gtk_tree_selection_get_selected(selection, &model, &iter))
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

// The idle arrangement (Play and the commands sensitive, the transport
// buttons not) and the busy one, its exact opposite.
inline bool controls_are(bool idle)
{
    bool as_said = true;
    for (const char *name : {"button_play", "menuitem_open", "treeview_indexes"})
        as_said = as_said && test_sensitive(name) == idle;
    for (const char *name : {"button_pause", "button_stop", "button_previous", "button_next"})
        as_said = as_said && test_sensitive(name) != idle;
    return as_said;
}
inline bool controls_idle()
{
    return controls_are(true);
}
inline bool controls_busy()
{
    return controls_are(false);
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

inline const std::string separator = "================================\n";

// What the log got since it read `before`.
inline std::string log_after(const std::string &before)
{
    const std::string now = test_log_text();
    return now.substr(std::min(before.size(), now.size()));
}
