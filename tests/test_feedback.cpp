// Status bar, log and the idle/busy arrangements of the controls.
#include "support/harness.h"

#include "ui/feedback.h"

#include <gtest/gtest.h>

#include <array>
#include <string>

namespace
{

class Feedback : public testing::Test
{
  protected:
    void SetUp() override { test_app_start(); }
};

// The fourteen controls the arrangements switch, and whether each is
// sensitive when idle.
constexpr std::array<std::pair<const char *, bool>, 14> switched{{
    {"menuitem_open", true},
    {"menuitem_configuration", true},
    {"menuitem_reset_into_bootloader", true},
    {"menuitem_update", true},
    {"treeview_indexes", true},
    {"button_index_add", true},
    {"button_index_remove", true},
    {"button_index_reload", true},
    {"button_index_save", true},
    {"button_play", true},
    {"button_previous", false},
    {"button_next", false},
    {"button_pause", false},
    {"button_stop", false},
}};

constexpr std::array<const char *, 9> untouched{
    "menuitem_file",       "menuitem_firmware", "menuitem_help", "menuitem_quit", "menuitem_about",
    "menuitem_connection", "notebook_main",     "textview_log",  "statusbar_main"};

} // namespace

TEST_F(Feedback, StatusMessagesReplaceEachOther)
{
    EXPECT_EQ(test_status_text(), "");
    status_show(" Playback started");
    EXPECT_EQ(test_status_text(), " Playback started");
    status_show(" Playback stopped");
    EXPECT_EQ(test_status_text(), " Playback stopped");
    GtkStatusbar *bar = GTK_STATUSBAR(test_widget("statusbar_main"));
    // Nothing is left underneath: popping the one message empties the bar.
    gtk_statusbar_pop(bar, 0);
    EXPECT_EQ(test_status_text(), "");
}

TEST_F(Feedback, TheLogOnlyGrows)
{
    log_append("Paused\n");
    log_append("Stopped\n");
    EXPECT_EQ(test_log_text(), "Paused\nStopped\n");
    log_append("Resetting");
    log_append(" device\n");
    EXPECT_EQ(test_log_text(), "Paused\nStopped\nResetting device\n");
    log_append("");
    EXPECT_EQ(test_log_text(), "Paused\nStopped\nResetting device\n");
}

TEST_F(Feedback, BusyAndIdleAreMirrorsAndTouchOnlyTheFourteen)
{
    for (int enabled : {0, 1, 0}) {
        set_controls_state(enabled);
        for (const auto &[name, idle_sensitive] : switched)
            EXPECT_EQ(test_sensitive(name), enabled ? idle_sensitive : !idle_sensitive)
                << name << " in arrangement " << enabled;
        for (const char *name : untouched)
            EXPECT_TRUE(test_sensitive(name)) << name << " in arrangement " << enabled;
    }
}

TEST_F(Feedback, ArrangementsDoNotRestoreWhatTheyDoNotOwn)
{
    // A widget outside the fourteen keeps whatever state it had.
    gtk_widget_set_sensitive(test_widget("menuitem_about"), FALSE);
    set_controls_state(0);
    set_controls_state(1);
    EXPECT_FALSE(test_sensitive("menuitem_about"));
    EXPECT_FALSE(test_sensitive("separatormenuitem1"));
}
