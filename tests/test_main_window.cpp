// The main window's widget registry and the X errors it outlives, and Help, About.
#include "support/harness.h"

#include "index/idx_list.h"
#include "ui/feedback.h"
#include "ui/registry.h"

#include "tap_maker.h"

#include <X11/Xlib.h>
#include <gdk/gdkx.h>

#include <regex>

// The toolkit's queries of the pointer and of coordinates meeting a window
// destroyed behind its back end nothing, one straight after the other, and
// again; the same query failing twice in a row ends the process with the
// toolkit's report. In a child, since that report ends it.
TEST(MainWindow, QueriesMeetingAVanishedWindowEndNothingUnlessOneRepeats)
{
    const auto query_a_vanished_window = [] {
        test_app_start();
        GtkWidget *toplevel = gtk_window_new(GTK_WINDOW_TOPLEVEL);
        gtk_widget_realize(toplevel);
        GdkWindow *window = gtk_widget_get_window(toplevel);
        Display *display = GDK_WINDOW_XDISPLAY(window);
        const Window gone = GDK_WINDOW_XID(window);
        XDestroyWindow(display, gone);
        XSync(display, False);
        gint x = 0, y = 0;
        for (int i = 0; i < 2; ++i) {
            gdk_window_get_pointer(window, &x, &y, nullptr);
            gdk_window_get_root_coords(window, x, y, &x, &y);
            XSync(display, False);
        }
        std::fputs("survived\n", stderr);
        Window root = 0, child = 0;
        unsigned mask = 0;
        for (int i = 0; i < 2; ++i)
            XQueryPointer(display, gone, &root, &child, &x, &y, &x, &y, &mask);
    };
    EXPECT_EXIT(query_a_vanished_window(), testing::ExitedWithCode(1), "survived(.|\n)*BadWindow");
}

// A name resolves from anywhere in the window, from inside a submenu too
// (climbing to the item the submenu hangs on); an unknown name gives none
// and the warning.
TEST(MainWindow, TheRegistryFindsByNameFromAnywhere)
{
    test_app_start();
    std::vector<std::string> warnings;
    const guint handler = g_log_set_handler(
        nullptr, G_LOG_LEVEL_WARNING,
        [](const gchar *, GLogLevelFlags, const gchar *message, gpointer list) {
            static_cast<std::vector<std::string> *>(list)->emplace_back(message);
        },
        &warnings);
    GtkWidget *about_item = test_widget("menuitem_about"), *play_label = test_widget("label_play");
    for (const char *name : {"window_main", "statusbar_main", "menuitem_help_menu", "tooltips"}) {
        EXPECT_EQ(lookup_widget(about_item, name), test_widget(name)) << name;
        EXPECT_EQ(lookup_widget(play_label, name), test_widget(name)) << name;
    }
    EXPECT_TRUE(warnings.empty());
    // A status message replaces the one before: nothing is left underneath.
    status_show(" Playback started");
    status_show(" Playback stopped");
    gtk_statusbar_pop(GTK_STATUSBAR(test_widget("statusbar_main")), 0);
    EXPECT_EQ(test_status_text(), "");
    EXPECT_EQ(lookup_widget(ui_window_main(), "button_eject"), nullptr);
    EXPECT_EQ(lookup_widget(about_item, "label_tape"), nullptr);
    EXPECT_EQ(warnings, (std::vector<std::string>{"Widget not found: button_eject",
                                                  "Widget not found: label_tape"}));
    g_log_remove_handler(nullptr, handler);
}

// Modal over the main window; OK removes it.
TEST(About, ShowsModallyAndGoesAwayOnItsAnswer)
{
    test_app_start();
    gtk_menu_item_activate(GTK_MENU_ITEM(test_widget("menuitem_about")));
    ASSERT_TRUE(test_spin_until([] {
        return GTK_IS_DIALOG(gtk_grab_get_current()) &&
               gtk_widget_get_mapped(gtk_grab_get_current());
    }));
    GtkWidget *dialog = gtk_grab_get_current(); // the main window takes no input
    EXPECT_STREQ(gtk_window_get_title(GTK_WINDOW(dialog)), "About Ravelo playback client");
    EXPECT_EQ(gtk_window_get_transient_for(GTK_WINDOW(dialog)), GTK_WINDOW(ui_window_main()));

    // License (the first button) shows LICENSE with its paragraphs' lines joined,
    // over About, and leaves About as it was.
    GList *buttons =
        gtk_container_get_children(GTK_CONTAINER(gtk_dialog_get_action_area(GTK_DIALOG(dialog))));
    gtk_button_clicked(GTK_BUTTON(buttons->data));
    g_list_free(buttons);
    GtkWidget *licence = gtk_grab_get_current();
    EXPECT_EQ(gtk_window_get_transient_for(GTK_WINDOW(licence)), GTK_WINDOW(dialog));
    GList *parts =
        gtk_container_get_children(GTK_CONTAINER(gtk_dialog_get_content_area(GTK_DIALOG(licence))));
    GtkTextBuffer *text =
        gtk_text_view_get_buffer(GTK_TEXT_VIEW(gtk_bin_get_child(GTK_BIN(parts->data))));
    g_list_free(parts);
    GtkTextIter start, end;
    gtk_text_buffer_get_bounds(text, &start, &end);
    EXPECT_EQ(test_owned(gtk_text_buffer_get_text(text, &start, &end, FALSE)),
              std::regex_replace(test_read_file(RAVELO_SOURCE_DIR "/LICENSE"),
                                 std::regex("([^\n])\n([^\n])"), "$1 $2"));
    gtk_dialog_response(GTK_DIALOG(licence), GTK_RESPONSE_CLOSE);
    EXPECT_EQ(gtk_grab_get_current(), dialog);

    g_object_add_weak_pointer(G_OBJECT(dialog), reinterpret_cast<gpointer *>(&dialog));
    gtk_dialog_response(GTK_DIALOG(dialog), GTK_RESPONSE_NONE); // OK
    EXPECT_TRUE(test_spin_until([&] { return dialog == nullptr; }));
    EXPECT_EQ(gtk_grab_get_current(), nullptr);
}

// The empty list's hint shows until a tape is attached, even with no records.
TEST(MainWindow, TheEmptyListSaysHowToStartUntilSomethingIsAttached)
{
    test_app_start();
    // Off screen: another test's window on the shared X server may cover this one.
    GtkWidget *offscreen = gtk_offscreen_window_new();
    gtk_widget_set_size_request(offscreen, 400, 200);
    gtk_widget_reparent(gtk_widget_get_parent(GTK_WIDGET(test_index_view())), offscreen);
    gtk_widget_show(offscreen);
    const auto inked = [] {
        gtk_widget_queue_draw(GTK_WIDGET(test_index_view()));
        gdk_window_process_all_updates();
        // Inside the focus line that an empty list may draw along its edges.
        GdkPixbuf *shot = gdk_pixbuf_get_from_drawable(
            nullptr, gtk_tree_view_get_bin_window(test_index_view()), nullptr, 4, 4, 0, 0, 200, 30);
        const guchar *p = gdk_pixbuf_get_pixels(shot);
        const auto dark = std::count_if(p, p + 200 * 3 * 30, [](guchar v) { return v < 200; });
        g_object_unref(shot);
        return dark;
    };
    EXPECT_GT(inked(), 300);
    test_attach(tap_wrap(std::string(100, '\x30')));
    idx_list_clear();
    EXPECT_EQ(inked(), 0);
}

// Help, Loading on the computer: one window, not modal, over the main
// window; asked for again it comes to the front; Esc closes it.
TEST(LoadingHelp, OneWindowWithTheStepsThatEscCloses)
{
    test_app_start();
    for (int i = 0; i < 2; ++i)
        gtk_menu_item_activate(GTK_MENU_ITEM(test_widget("menuitem_loading_help")));
    std::vector<GtkWindow *> helps;
    GList *all = gtk_window_list_toplevels();
    for (GList *l = all; l != nullptr; l = l->next)
        if (g_strcmp0(gtk_window_get_title(GTK_WINDOW(l->data)), "Loading on the computer") == 0)
            helps.push_back(GTK_WINDOW(l->data));
    g_list_free(all);
    ASSERT_EQ(helps.size(), 1u);
    GtkWindow *help = helps[0];
    EXPECT_TRUE(gtk_window_get_transient_for(help) == GTK_WINDOW(ui_window_main()) &&
                !gtk_window_get_modal(help));
    EXPECT_NE(gtk_dialog_get_widget_for_response(GTK_DIALOG(help), GTK_RESPONSE_CLOSE), nullptr);
    g_object_add_weak_pointer(G_OBJECT(help), reinterpret_cast<gpointer *>(&help));
    test_send_key(GTK_WIDGET(help), GDK_Escape);
    EXPECT_TRUE(test_spin_until([&] { return help == nullptr; }));
}
