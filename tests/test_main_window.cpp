// The main window: its registry, lookup, layout, accelerators and handlers.
#include "support/harness.h"

#include "app/app.h"
#include "app/main_window.h"
#include "app/quit.h"
#include "ui/registry.h"
#include "config/connection_window.h"
#include "index/idx_commands.h"
#include "index/index_list.h"
#include "maintenance/reset.h"
#include "maintenance/update.h"
#include "player/playback.h"
#include "player/player_state.h"
#include "ui/about.h"
#include "ui/registry.h"

#include <gdk/gdkkeysyms.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace
{

std::vector<std::string> registered_names()
{
    std::vector<std::string> names = {"vbox_top_most",
                                      "menubar_main",
                                      "menuitem_file",
                                      "image_menuitem_file",
                                      "menuitem_file_menu",
                                      "menuitem_open",
                                      "separatormenuitem1",
                                      "menuitem_quit",
                                      "menuitem_configuration",
                                      "image_menuitem_configuration",
                                      "menuitem_configuration_menu",
                                      "menuitem_connection",
                                      "image_menuitem_connection",
                                      "menuitem_firmware",
                                      "image_menuitem_firmware",
                                      "menuitem_firmware_menu",
                                      "menuitem_reset_into_bootloader",
                                      "image_menuitem_reset_into_bootloader",
                                      "menuitem_update",
                                      "image_menuitem_update",
                                      "menuitem_help",
                                      "image_menuitem_help",
                                      "menuitem_help_menu",
                                      "menuitem_about",
                                      "image_menuitem_about",
                                      "notebook_main",
                                      "vbox_playback",
                                      "hbox_indexes",
                                      "scrolledwindow_indexes",
                                      "treeview_indexes",
                                      "vbox_index_buttons",
                                      "frame_playback_controls",
                                      "label_playback_controls",
                                      "alignment_playback_controls",
                                      "hbox_playback_controls",
                                      "vbox_buffer_time_controls",
                                      "label_buffer_time_info",
                                      "label_buffer_time",
                                      "label_notebook_playback",
                                      "scrolledwindow_log",
                                      "textview_log",
                                      "label_notebook_logging",
                                      "statusbar_main"};
    for (const char *role : {"index_add", "index_remove", "index_reload", "index_save", "previous",
                             "play", "next", "pause", "stop"})
        for (const char *kind : {"button_", "alignment_", "hbox_", "image_", "label_"})
            names.push_back(std::string(kind) + role);
    return names;
}

class MainWindow : public testing::Test
{
  protected:
    void SetUp() override { test_app_start(); }
};

} // namespace

TEST_F(MainWindow, EveryRegisteredNameResolvesFromTheWindowAndFromASubmenu)
{
    LogCapture log;
    GtkWidget *about_item = lookup_widget(window_main, "menuitem_about");
    ASSERT_NE(about_item, nullptr);
    for (const std::string &name : registered_names()) {
        GtkWidget *from_window = lookup_widget(window_main, name.c_str());
        EXPECT_NE(from_window, nullptr) << name;
        EXPECT_EQ(lookup_widget(about_item, name.c_str()), from_window) << name;
        EXPECT_EQ(lookup_widget(from_window, "statusbar_main"),
                  lookup_widget(window_main, "statusbar_main"))
            << "from " << name;
    }
    EXPECT_EQ(lookup_widget(about_item, "window_main"), window_main);
    EXPECT_TRUE(GTK_IS_TOOLTIPS(lookup_widget(window_main, "tooltips")));
    EXPECT_TRUE(log.warnings().empty());
}

TEST_F(MainWindow, UnknownNameGivesNoneAndTheWarning)
{
    LogCapture log;
    EXPECT_EQ(lookup_widget(window_main, "button_eject"), nullptr);
    EXPECT_EQ(lookup_widget(lookup_widget(window_main, "menuitem_update"), "label_tape"), nullptr);
    ASSERT_EQ(log.warnings().size(), 2u);
    EXPECT_EQ(log.warnings()[0], "Widget not found: button_eject");
    EXPECT_EQ(log.warnings()[1], "Widget not found: label_tape");
}

TEST_F(MainWindow, EverythingButTheSeparatorIsSensitiveAtFirst)
{
    for (const std::string &name : registered_names())
        EXPECT_EQ(test_sensitive(name.c_str()), name != "separatormenuitem1") << name;
}

TEST_F(MainWindow, LayoutMatchesTheDesign)
{
    EXPECT_STREQ(gtk_window_get_title(GTK_WINDOW(window_main)),
                 "Ravelo playback client & IDX editor");
    gint width = 0, height = 0;
    gtk_widget_get_size_request(window_main, &width, &height);
    EXPECT_EQ(width, -1);
    EXPECT_EQ(height, 320);
    test_spin_for(100);
    GtkAllocation allocation;
    gtk_widget_get_allocation(window_main, &allocation);
    EXPECT_GE(allocation.height, 320);

    GtkNotebook *notebook = GTK_NOTEBOOK(test_widget("notebook_main"));
    EXPECT_EQ(gtk_notebook_get_tab_pos(notebook), GTK_POS_BOTTOM);
    EXPECT_EQ(gtk_notebook_get_current_page(notebook), 0);
    EXPECT_EQ(gtk_notebook_get_tab_label(notebook, gtk_notebook_get_nth_page(notebook, 0)),
              test_widget("label_notebook_playback"));
    EXPECT_EQ(gtk_notebook_get_tab_label(notebook, gtk_notebook_get_nth_page(notebook, 1)),
              test_widget("label_notebook_logging"));

    EXPECT_TRUE(gtk_tree_view_get_rules_hint(GTK_TREE_VIEW(test_widget("treeview_indexes"))));
    EXPECT_EQ(gtk_widget_get_events(test_widget("treeview_indexes")) & GDK_BUTTON_PRESS_MASK,
              GDK_BUTTON_PRESS_MASK);
}

TEST_F(MainWindow, TheSeventeenHandlersAreConnected)
{
    struct Connection {
        const char *widget, *signal;
        gpointer handler;
    };
    const Connection connections[] = {
        {"menuitem_open", "activate", (gpointer)idx_on_open_tap_file},
        {"menuitem_quit", "activate", (gpointer)ui_on_quit},
        {"menuitem_connection", "activate", (gpointer)config_window_show},
        {"menuitem_reset_into_bootloader", "activate", (gpointer)device_reset_activate},
        {"menuitem_update", "activate", (gpointer)device_update_activate},
        {"menuitem_about", "activate", (gpointer)ui_on_about},
        {"treeview_indexes", "scroll_event", (gpointer)idx_on_scroll},
        {"treeview_indexes", "cursor_changed", (gpointer)player_on_cursor_changed},
        {"button_index_add", "clicked", (gpointer)idx_on_add_clicked},
        {"button_index_remove", "clicked", (gpointer)idx_on_remove_clicked},
        {"button_index_reload", "clicked", (gpointer)idx_on_reload_clicked},
        {"button_index_save", "clicked", (gpointer)idx_on_save_clicked},
        {"button_previous", "clicked", (gpointer)player_on_previous},
        {"button_play", "clicked", (gpointer)player_on_play},
        {"button_next", "clicked", (gpointer)player_on_next},
        {"button_pause", "clicked", (gpointer)player_on_pause},
        {"button_stop", "clicked", (gpointer)player_on_stop},
    };
    for (const Connection &c : connections) {
        GtkWidget *widget = test_widget(c.widget);
        const guint signal = g_signal_lookup(c.signal, G_OBJECT_TYPE(widget));
        EXPECT_NE(g_signal_handler_find(widget,
                                        GSignalMatchType(G_SIGNAL_MATCH_ID | G_SIGNAL_MATCH_FUNC),
                                        signal, 0, nullptr, c.handler, nullptr),
                  0u)
            << c.widget << " " << c.signal;
    }
    EXPECT_NE(g_signal_handler_find(window_main, G_SIGNAL_MATCH_FUNC, 0, 0, nullptr,
                                    (gpointer)ui_on_window_main_destroy, nullptr),
              0u);
}

namespace
{
void count_activation(GtkMenuItem *, gpointer counter)
{
    ++*static_cast<int *>(counter);
}
} // namespace

TEST_F(MainWindow, ControlOAndControlQActivateOpenAndQuit)
{
    GtkWidget *open = test_widget("menuitem_open");
    GtkWidget *quit = test_widget("menuitem_quit");
    // Only the key binding is under test here, not what Open and Quit do.
    g_signal_handlers_block_by_func(open, (gpointer)idx_on_open_tap_file, nullptr);
    g_signal_handlers_block_by_func(quit, (gpointer)ui_on_quit, nullptr);
    int opened = 0, quitted = 0;
    g_signal_connect(open, "activate", G_CALLBACK(count_activation), &opened);
    g_signal_connect(quit, "activate", G_CALLBACK(count_activation), &quitted);

    test_send_key(window_main, GDK_o, GDK_CONTROL_MASK);
    test_spin_for(50);
    EXPECT_EQ(opened, 1);
    EXPECT_EQ(quitted, 0);
    test_send_key(window_main, GDK_q, GDK_CONTROL_MASK);
    test_spin_for(50);
    EXPECT_EQ(opened, 1);
    EXPECT_EQ(quitted, 1);
    test_send_key(window_main, GDK_o, 0);
    test_spin_for(50);
    EXPECT_EQ(opened, 1);
}

namespace
{
void mark_finalized(gpointer flag, GObject *)
{
    *static_cast<bool *>(flag) = true;
}
} // namespace

TEST_F(MainWindow, DestroyingAWindowReleasesItsRegisteredWidgets)
{
    GtkWidget *second = ui_window_main_create();
    bool play_gone = false, submenu_gone = false;
    g_object_weak_ref(G_OBJECT(lookup_widget(second, "button_play")), mark_finalized, &play_gone);
    g_object_weak_ref(G_OBJECT(lookup_widget(second, "menuitem_help_menu")), mark_finalized,
                      &submenu_gone);
    gtk_widget_destroy(second);
    EXPECT_TRUE(play_gone);
    EXPECT_TRUE(submenu_gone);
}
