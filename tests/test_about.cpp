// Help, About.
#include "support/harness.h"

#include "app/app.h"
#include "ui/registry.h"
#include "ui/about.h"

#include <gdk/gdkkeysyms.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <set>
#include <string>

namespace
{

GtkWidget *find_about_dialog()
{
    GtkWidget *found = nullptr;
    GList *all = gtk_window_list_toplevels();
    for (GList *l = all; l != nullptr; l = l->next) {
        GtkWindow *w = GTK_WINDOW(l->data);
        if (GTK_IS_DIALOG(w) &&
            g_strcmp0(gtk_window_get_title(w), "About Ravelo playback client") == 0)
            found = GTK_WIDGET(w);
    }
    g_list_free(all);
    return found;
}

void collect_labels(GtkWidget *widget, gpointer texts)
{
    if (GTK_IS_LABEL(widget))
        static_cast<std::set<std::string> *>(texts)->insert(gtk_label_get_text(GTK_LABEL(widget)));
    if (GTK_IS_CONTAINER(widget))
        gtk_container_foreach(GTK_CONTAINER(widget), collect_labels, texts);
}

class About : public testing::Test
{
  protected:
    void SetUp() override { test_app_start(); }

    GtkWidget *open_about()
    {
        gtk_menu_item_activate(GTK_MENU_ITEM(test_widget("menuitem_about")));
        GtkWidget *dialog = nullptr;
        test_spin_until([&] {
            dialog = find_about_dialog();
            return dialog != nullptr && gtk_widget_get_mapped(dialog);
        });
        return dialog;
    }

    static bool gone() { return find_about_dialog() == nullptr; }
};

} // namespace

TEST_F(About, ShowsNameBuildInfoAndTheLoadedToolkitVersion)
{
    GtkWidget *dialog = open_about();
    ASSERT_NE(dialog, nullptr);
    std::set<std::string> texts;
    collect_labels(dialog, &texts);
    EXPECT_EQ(texts.count("Ravelo playback client 2.5"), 1u);

    std::string description;
    for (const std::string &t : texts)
        if (t.rfind("Multi-threaded GUI playback client for the Ravelo hardware", 0) == 0)
            description = t;
    ASSERT_FALSE(description.empty());
    gchar *runtime = g_strdup_printf("\nGTK+ runtime in use: %u.%u.%u", gtk_major_version,
                                     gtk_minor_version, gtk_micro_version);
    EXPECT_NE(description.find(runtime), std::string::npos) << description;
    g_free(runtime);
    EXPECT_NE(description.find("\n\nCompiled on: " __DATE__ "\n"), std::string::npos);
    gchar *compiler = g_strdup_printf("Compiled with gcc version: %d.%d.%d\n", __GNUC__,
                                      __GNUC_MINOR__, __GNUC_PATCHLEVEL__);
    EXPECT_NE(description.find(compiler), std::string::npos);
    g_free(compiler);

    EXPECT_TRUE(gtk_window_get_modal(GTK_WINDOW(dialog)));
    EXPECT_FALSE(gtk_window_get_resizable(GTK_WINDOW(dialog)));
    EXPECT_EQ(gtk_window_get_transient_for(GTK_WINDOW(dialog)), GTK_WINDOW(window_main));
    // While it is open the main window takes no input.
    EXPECT_EQ(gtk_grab_get_current(), dialog);
    gtk_dialog_response(GTK_DIALOG(dialog), GTK_RESPONSE_NONE);
}

TEST_F(About, PictureIsA48PixelXpmWith73ColoursAndATransparentSurround)
{
    int width = 0, height = 0, colours = 0, chars = 0;
    ASSERT_EQ(sscanf(ui_about_icon[0], "%d %d %d %d", &width, &height, &colours, &chars), 4);
    EXPECT_EQ(width, 48);
    EXPECT_EQ(height, 48);
    EXPECT_EQ(colours, 73);
    EXPECT_EQ(chars, 1);
    EXPECT_STREQ(ui_about_icon[1], "  c None");
    GdkPixbuf *pixbuf = gdk_pixbuf_new_from_xpm_data(const_cast<const char **>(ui_about_icon));
    ASSERT_NE(pixbuf, nullptr);
    EXPECT_TRUE(gdk_pixbuf_get_has_alpha(pixbuf));
    // Corners are transparent, the middle is drawn.
    const guchar *pixels = gdk_pixbuf_get_pixels(pixbuf);
    const int stride = gdk_pixbuf_get_rowstride(pixbuf);
    EXPECT_EQ(pixels[3], 0);
    EXPECT_EQ(pixels[47 * stride + 47 * 4 + 3], 0);
    EXPECT_EQ(pixels[24 * stride + 24 * 4 + 3], 255);
    g_object_unref(pixbuf);
}

TEST_F(About, OkTitleBarCloseAndEscapeEachRemoveIt)
{
    GtkWidget *dialog = open_about();
    ASSERT_NE(dialog, nullptr);
    GList *buttons =
        gtk_container_get_children(GTK_CONTAINER(gtk_dialog_get_action_area(GTK_DIALOG(dialog))));
    ASSERT_EQ(g_list_length(buttons), 1u);
    gtk_button_clicked(GTK_BUTTON(buttons->data));
    g_list_free(buttons);
    EXPECT_TRUE(test_spin_until(gone));

    dialog = open_about();
    ASSERT_NE(dialog, nullptr);
    test_send_delete(dialog);
    EXPECT_TRUE(test_spin_until(gone));

    dialog = open_about();
    ASSERT_NE(dialog, nullptr);
    test_send_key(dialog, GDK_Escape);
    EXPECT_TRUE(test_spin_until(gone));

    // Nothing else changed: the main window is still there and usable.
    EXPECT_TRUE(gtk_widget_get_visible(window_main));
    EXPECT_EQ(gtk_grab_get_current(), nullptr);
}
