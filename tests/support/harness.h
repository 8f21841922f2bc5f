// The in-process test harness: the real windows under a (virtual) X server,
// the real main loop spun until a condition holds.
//
// The harness's main() gives every test process a private temporary folder:
// HOME and XDG_CONFIG_HOME point into it and it is the working directory,
// so the configuration file and the firmware image never touch the user's.
// It also sets LC_ALL=C.UTF-8 and clears LANGUAGE: texts are untranslated
// unless a test sets LANGUAGE before the client starts.
#pragma once

#include <gtk/gtk.h>

#include <functional>
#include <string>
#include <vector>

// Runs the client's start-up once per process (main window shown, config
// loaded, index list set up). Safe to call from every test.
void test_app_start();

// Spins the main loop until `done` returns true or `timeout_ms` passes;
// returns the last value of `done`.
bool test_spin_until(const std::function<bool()> &done, int timeout_ms = 5000);
// Spins the main loop for `ms` milliseconds.
void test_spin_for(int ms);

// The private folder of this test process, and a path inside it.
const std::string &test_dir();
std::string test_path(const std::string &name);

// Texts as the user sees them.
std::string test_status_text();
std::string test_log_text();
// The widget registered as `name` on the main window (no warning expected).
GtkWidget *test_widget(const char *name);
bool test_sensitive(const char *name);

// Waits (from a time-out source) for a visible top-level window of `type`
// that was not there before and hands it to `act` once. Use it to answer a
// modal dialog before starting what runs it.
void test_answer_window(GType type, std::function<void(GtkWidget *)> act);

// Delivers a key press and release to `window` as the X server would.
void test_send_key(GtkWidget *window, guint keyval, guint modifiers = 0);
// Asks the window manager's way to close `window` (the title-bar button).
void test_send_delete(GtkWidget *window);

// File helpers.
std::string test_read_file(const std::string &path);
void test_write_file(const std::string &path, const std::string &content);

// Collects warnings logged without a domain while it lives.
class LogCapture
{
  public:
    LogCapture();
    ~LogCapture();
    LogCapture(const LogCapture &) = delete;
    LogCapture &operator=(const LogCapture &) = delete;
    const std::vector<std::string> &warnings() const { return warnings_; }

  private:
    static void handler(const gchar *domain, GLogLevelFlags level, const gchar *message,
                        gpointer self);
    std::vector<std::string> warnings_;
    guint id_;
};
