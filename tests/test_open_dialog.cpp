// The open-file dialog as built, and how it answers.
#include "ui/open_dialog.h"

#include "support/harness.h"

#include <gdk/gdkkeysyms.h>
#include <gtest/gtest.h>

namespace
{

GtkWidget *registered(GtkWidget *dialog, const char *name)
{
    return static_cast<GtkWidget *>(g_object_get_data(G_OBJECT(dialog), name));
}

// Selects `path` in the chooser and calls `then` once the chooser reports
// it: selection in the toolkit's chooser happens after its folder loaded.
void when_selected(GtkWidget *dialog, const std::string &path, std::function<void()> then)
{
    gtk_file_chooser_set_filename(GTK_FILE_CHOOSER(dialog), path.c_str());
    struct Wait {
        GtkWidget *dialog;
        std::string path;
        std::function<void()> then;
    };
    g_timeout_add(
        20,
        [](gpointer data) -> gboolean {
            auto *wait = static_cast<Wait *>(data);
            gchar *chosen = gtk_file_chooser_get_filename(GTK_FILE_CHOOSER(wait->dialog));
            const bool ready = chosen != nullptr && wait->path == chosen;
            g_free(chosen);
            if (!ready)
                return TRUE;
            wait->then();
            delete wait;
            return FALSE;
        },
        new Wait{dialog, path, std::move(then)});
}

// gtk_dialog_run() with a safety net: a dialog nobody answers is cancelled
// after 20 s instead of hanging the test.
gint run(GtkWidget *dialog)
{
    const guint guard = g_timeout_add(
        20000,
        [](gpointer d) -> gboolean {
            gtk_dialog_response(GTK_DIALOG(d), GTK_RESPONSE_NONE);
            return FALSE;
        },
        dialog);
    const gint response = gtk_dialog_run(GTK_DIALOG(dialog));
    g_source_remove(guard);
    return response;
}

} // namespace

TEST(OpenDialog, IsAnOpenModeChooserWithItsProperties)
{
    test_app_start();
    GtkWidget *dialog = ui_open_dialog_create();
    ASSERT_TRUE(GTK_IS_FILE_CHOOSER_DIALOG(dialog));
    EXPECT_FALSE(gtk_widget_get_visible(dialog));
    EXPECT_EQ(gtk_file_chooser_get_action(GTK_FILE_CHOOSER(dialog)), GTK_FILE_CHOOSER_ACTION_OPEN);
    EXPECT_STREQ(gtk_window_get_title(GTK_WINDOW(dialog)), "Open a TAP file");
    EXPECT_EQ(gtk_container_get_border_width(GTK_CONTAINER(dialog)), 5u);
    EXPECT_TRUE(gtk_window_get_modal(GTK_WINDOW(dialog)));
    EXPECT_EQ(gtk_window_get_type_hint(GTK_WINDOW(dialog)), GDK_WINDOW_TYPE_HINT_DIALOG);
    EXPECT_EQ(gtk_window_get_transient_for(GTK_WINDOW(dialog)), nullptr);
    GtkWindowPosition position = GTK_WIN_POS_NONE;
    g_object_get(dialog, "window-position", &position, nullptr);
    EXPECT_EQ(position, GTK_WIN_POS_CENTER);

    EXPECT_EQ(registered(dialog, "filechooserdialog_open_file"), dialog);
    GtkWidget *content = registered(dialog, "dialog_vbox1");
    GtkWidget *actions = registered(dialog, "dialog_action_area1");
    EXPECT_EQ(content, gtk_dialog_get_content_area(GTK_DIALOG(dialog)));
    EXPECT_EQ(actions, gtk_dialog_get_action_area(GTK_DIALOG(dialog)));
    EXPECT_TRUE(gtk_widget_get_visible(content));
    EXPECT_TRUE(gtk_widget_get_visible(actions));
    EXPECT_EQ(gtk_button_box_get_layout(GTK_BUTTON_BOX(actions)), GTK_BUTTONBOX_END);

    GtkWidget *cancel = registered(dialog, "button1");
    GtkWidget *open = registered(dialog, "button2");
    ASSERT_TRUE(GTK_IS_BUTTON(cancel));
    ASSERT_TRUE(GTK_IS_BUTTON(open));
    EXPECT_STREQ(gtk_button_get_label(GTK_BUTTON(cancel)), "gtk-cancel");
    EXPECT_STREQ(gtk_button_get_label(GTK_BUTTON(open)), "gtk-open");
    EXPECT_TRUE(gtk_button_get_use_stock(GTK_BUTTON(open)));
    EXPECT_EQ(gtk_dialog_get_response_for_widget(GTK_DIALOG(dialog), cancel), GTK_RESPONSE_CANCEL);
    EXPECT_EQ(gtk_dialog_get_response_for_widget(GTK_DIALOG(dialog), open), GTK_RESPONSE_OK);
    EXPECT_TRUE(gtk_widget_get_visible(cancel));
    EXPECT_TRUE(gtk_widget_get_can_default(cancel));
    EXPECT_TRUE(gtk_widget_get_can_default(open));
    EXPECT_TRUE(gtk_widget_has_default(open));
    GList *buttons = gtk_container_get_children(GTK_CONTAINER(actions));
    EXPECT_EQ(g_list_length(buttons), 2u);
    g_list_free(buttons);
    // On screen Cancel stands left of Open, both at the end of the area.
    gtk_widget_show(dialog);
    ASSERT_TRUE(test_spin_until([&] { return gtk_widget_get_mapped(open) != FALSE; }));
    test_spin_for(50);
    GtkAllocation cancel_at, open_at, area_at;
    gtk_widget_get_allocation(cancel, &cancel_at);
    gtk_widget_get_allocation(open, &open_at);
    gtk_widget_get_allocation(actions, &area_at);
    EXPECT_LT(cancel_at.x, open_at.x);
    EXPECT_GT(cancel_at.x, area_at.x + area_at.width / 2);
    gtk_widget_destroy(dialog);
}

TEST(OpenDialog, EachCallBuildsAFreshDialogAndDestroyReleasesIt)
{
    test_app_start();
    GtkWidget *first = ui_open_dialog_create();
    GtkWidget *second = ui_open_dialog_create();
    EXPECT_NE(first, second);
    EXPECT_NE(registered(first, "button2"), registered(second, "button2"));

    // The registry's references go with the dialog.
    gpointer button = registered(first, "button1");
    g_object_add_weak_pointer(G_OBJECT(button), &button);
    gtk_widget_destroy(first);
    EXPECT_EQ(button, nullptr);
    gtk_widget_destroy(second);
}

TEST(OpenDialog, EnterWithAFileSelectedIsOpen)
{
    test_app_start();
    const std::string file = test_path("game.tap");
    test_write_file(file, "C64-TAPE-RAW");
    GtkWidget *dialog = ui_open_dialog_create();
    test_answer_window(GTK_TYPE_FILE_CHOOSER_DIALOG, [&](GtkWidget *shown) {
        when_selected(shown, file, [shown] { test_send_key(shown, GDK_Return); });
    });
    EXPECT_EQ(run(dialog), GTK_RESPONSE_OK);
    gchar *chosen = gtk_file_chooser_get_filename(GTK_FILE_CHOOSER(dialog));
    EXPECT_STREQ(chosen, file.c_str());
    g_free(chosen);
    gtk_widget_destroy(dialog);
}

TEST(OpenDialog, EveryOtherWayOutIsNotOk)
{
    test_app_start();
    GtkWidget *dialog = ui_open_dialog_create();
    test_answer_window(GTK_TYPE_FILE_CHOOSER_DIALOG,
                       [](GtkWidget *shown) { test_send_key(shown, GDK_Escape); });
    EXPECT_NE(run(dialog), GTK_RESPONSE_OK);
    gtk_widget_hide(dialog);
    test_spin_for(50);

    test_answer_window(GTK_TYPE_FILE_CHOOSER_DIALOG,
                       [](GtkWidget *shown) { test_send_delete(shown); });
    EXPECT_EQ(run(dialog), GTK_RESPONSE_DELETE_EVENT);
    gtk_widget_hide(dialog);
    test_spin_for(50);

    test_answer_window(GTK_TYPE_FILE_CHOOSER_DIALOG, [](GtkWidget *shown) {
        gtk_button_clicked(GTK_BUTTON(registered(shown, "button1")));
    });
    EXPECT_EQ(run(dialog), GTK_RESPONSE_CANCEL);
    gtk_widget_destroy(dialog);
}
