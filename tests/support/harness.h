// The real windows under a (virtual) X server, the real main loop spun until
// a condition holds, and the user's steps. main() (support/main.cpp) gives
// every test process a private folder, and sets LC_ALL=C.UTF-8 with LANGUAGE
// cleared: texts are untranslated unless a test sets LANGUAGE before the
// client starts.
#pragma once

#include <gdk/gdkkeysyms.h>
#include <gtest/gtest.h>
#include <gtk/gtk.h>

#include <filesystem>
#include <functional>
#include <string>
#include <vector>

namespace fs = std::filesystem;

// The client's start-up as `ravelo-client args...` (window shown,
// configuration loaded), once a process: later calls do nothing.
void test_app_start(std::vector<const char *> args = {});
// Spins the main loop until `done` or `timeout_ms` passed; the last `done`.
bool test_spin_until(const std::function<bool()> &done, int timeout_ms = 5000);

// Makes test_dir(), a new private folder, the working directory and HOME.
bool test_enter_private_dir();
const std::string &test_dir();
std::string test_path(const std::string &name);
std::string test_read_file(const std::string &path);
// The exit status of `command` run by the shell, -1 when it did not exit;
// its output is in "out" and "err".
int test_run(const std::string &command);
void test_write_file(const std::string &path, const std::string &content);
// Takes a string that GLib allocated, and frees it.
std::string test_owned(gchar *text);
// The texts of the labels inside `widget`, one after the other.
std::string test_label_texts(GtkWidget *widget);
// How many file descriptors this process has open: what it leaks shows.
size_t test_open_descriptors();

// What the user sees: the status bar, the log (and its growth since it read
// `before`), a widget of the main window, the controls' arrangement: idle
// (what starts something sensitive; Prev, Next, Pause, Stop not) or busy.
std::string test_status_text();
bool test_status_is(const std::string &text, int timeout_ms = 10000);
std::string test_log_text();
std::string test_log_after(const std::string &before);
inline const std::string test_separator = "================================\n";
GtkWidget *test_widget(const char *name);
// The index list's view, "treeview_indexes"; its model holds the rows.
GtkTreeView *test_index_view();
bool test_sensitive(const char *name);
bool test_controls_are(bool idle);
// Replaces the configured ports as the settings window would; null keeps one.
void test_set_ports(const char *device, const char *bootloader = nullptr);

// What the user does.
void test_click(const char *button);
void test_select_row(int index); // in the index list's order
// The selected row's offset and description; -1 and "" without one.
std::pair<long, std::string> test_selected();
void test_send_key(GtkWidget *window, guint keyval, guint modifiers = 0);
void test_send_delete(GtkWidget *window); // the title bar's close button

// File, Open by Ctrl+O, with the chooser answered: `path` picked and Open
// pressed (after switching to all files if asked), or Cancel pressed or the
// chooser closed. What the chooser showed at first; each filter as its name,
// a colon and which of a few sample names it shows.
enum class Answer { open, open_all_files, cancel, close };
struct ChooserSeen {
    std::string title, filter, folder;
    std::string proposed; // a save chooser's proposed file
    std::vector<std::string> filters;
};
ChooserSeen test_open_tap(const std::string &path, Answer answer = Answer::open);
// The same for the chooser that `open` brings up.
ChooserSeen test_choose(const std::function<void()> &open, const std::string &path,
                        Answer answer = Answer::open);
// Runs `act` while every question (a message dialog) that comes up is
// answered by its button for `response`. What came up, a line each: the
// question's text, its buttons (the default marked '*') and whether it is
// transient for the main window.
std::string test_answering(int response, const std::function<void()> &act);
// Writes the TAP file `name` (and its IDX file, if any) and attaches it.
void test_attach(const std::string &tap, const std::string &idx = "",
                 const std::string &name = "tape.tap");
