#include "ui/about.h"

#include "base/glib_ptr.h"
#include "base/i18n.h"
#include "ui/registry.h"

#include <cstdlib>
#include <memory>
#include <string_view>

// The drawing in data/ that the theme's icons are rendered from: a white
// audio cassette, tilted, on a transparent surround, as the XPM array
// ravelo_client.
#include "ravelo-client.xpm"

namespace
{
// The compiler's "Mmm dd yyyy" (English month, day padded with a space),
// written in the locale's own date format.
gchar *build_date_text()
{
    static constexpr char months[] = "JanFebMarAprMayJunJulAugSepOctNovDec";
    static constexpr char built[] = __DATE__;
    const int month = int(std::string_view(months).find(std::string_view(built, 3)) / 3 + 1);
    const std::unique_ptr<GDateTime, decltype(&g_date_time_unref)> date(
        g_date_time_new_local(std::atoi(built + 7), month, std::atoi(built + 4), 0, 0, 0),
        g_date_time_unref);
    gchar *text = date ? g_date_time_format(date.get(), "%x") : nullptr;
    return text != nullptr ? text : g_strdup(built);
}

void pack(GtkWidget *box, GtkWidget *child)
{
    gtk_box_pack_start(GTK_BOX(box), child, FALSE, FALSE, 0);
}

GtkWidget *centred_label(GtkWidget *box)
{
    GtkWidget *label = gtk_label_new(nullptr);
    pack(box, label);
    gtk_label_set_justify(GTK_LABEL(label), GTK_JUSTIFY_CENTER);
    gtk_misc_set_padding(GTK_MISC(label), 5, 5);
    gtk_widget_show(label);
    return label;
}

GtkWidget *about_picture()
{
    GdkBitmap *mask = nullptr;
    GdkPixmap *pixmap =
        gdk_pixmap_colormap_create_from_xpm_d(nullptr, gtk_widget_get_colormap(ui_window_main()),
                                              &mask, nullptr, const_cast<gchar **>(ravelo_client));
    GtkWidget *image = gtk_image_new_from_pixmap(pixmap, mask);
    g_object_unref(pixmap);
    g_object_unref(mask);
    return image;
}
// The licence in a window of its own over About, which it goes with.
void show_licence(GtkButton *, gpointer about)
{
    GtkWidget *window = gtk_dialog_new_with_buttons(
        _("License"), GTK_WINDOW(about),
        GtkDialogFlags(GTK_DIALOG_MODAL | GTK_DIALOG_DESTROY_WITH_PARENT), "gtk-close",
        GTK_RESPONSE_CLOSE, nullptr);
    gtk_window_set_default_size(GTK_WINDOW(window), 560, 420);
    GtkWidget *scrolled = gtk_scrolled_window_new(nullptr, nullptr);
    gtk_scrolled_window_set_policy(GTK_SCROLLED_WINDOW(scrolled), GTK_POLICY_NEVER,
                                   GTK_POLICY_AUTOMATIC);
    gtk_scrolled_window_set_shadow_type(GTK_SCROLLED_WINDOW(scrolled), GTK_SHADOW_IN);
    gtk_container_set_border_width(GTK_CONTAINER(scrolled), 6);
    GtkWidget *text = gtk_text_view_new();
    gtk_text_view_set_editable(GTK_TEXT_VIEW(text), FALSE);
    gtk_text_view_set_cursor_visible(GTK_TEXT_VIEW(text), FALSE);
    gtk_text_view_set_wrap_mode(GTK_TEXT_VIEW(text), GTK_WRAP_WORD);
    gtk_text_view_set_left_margin(GTK_TEXT_VIEW(text), 6);
    gtk_text_view_set_right_margin(GTK_TEXT_VIEW(text), 6);
    gtk_text_buffer_set_text(gtk_text_view_get_buffer(GTK_TEXT_VIEW(text)), ui_licence_text, -1);
    gtk_container_add(GTK_CONTAINER(scrolled), text);
    gtk_box_pack_start(GTK_BOX(gtk_dialog_get_content_area(GTK_DIALOG(window))), scrolled, TRUE,
                       TRUE, 0);
    g_signal_connect_swapped(window, "response", G_CALLBACK(gtk_widget_destroy), window);
    gtk_widget_show_all(window);
}

} // namespace

void ui_on_about(GtkMenuItem *, gpointer)
{
    GtkWidget *dialog = gtk_dialog_new_with_buttons(
        _("About Ravelo playback client"), GTK_WINDOW(ui_window_main()),
        GtkDialogFlags(GTK_DIALOG_MODAL | GTK_DIALOG_DESTROY_WITH_PARENT), "gtk-ok",
        GTK_RESPONSE_NONE, nullptr);
    gtk_window_set_type_hint(GTK_WINDOW(dialog), GDK_WINDOW_TYPE_HINT_DIALOG);
    gtk_window_set_position(GTK_WINDOW(dialog), GTK_WIN_POS_CENTER);
    gtk_window_set_resizable(GTK_WINDOW(dialog), FALSE);

    GtkWidget *box = gtk_vbox_new(FALSE, 0);
    pack(gtk_dialog_get_content_area(GTK_DIALOG(dialog)), box);
    gtk_container_set_border_width(GTK_CONTAINER(box), 6);
    gtk_widget_show(box);

    GtkWidget *picture = about_picture();
    pack(box, picture);
    gtk_misc_set_padding(GTK_MISC(picture), 0, 5);
    gtk_widget_show(picture);

    GCharPtr name(g_strdup_printf(_("Ravelo playback client %s"), RAVELO_VERSION));
    GCharPtr heading(
        g_markup_printf_escaped("<span size=\"xx-large\"><b>%s</b></span>", name.get()));
    gtk_label_set_markup(GTK_LABEL(centred_label(box)), heading.get());

    // The build date is filled in, not written into the text: a text that
    // changed with every build could never be found in a catalogue.
    GCharPtr built(build_date_text());
    GCharPtr description(
        g_strdup_printf(_("Multi-threaded GUI playback client for the Ravelo hardware\n\n"
                          "Compiled on: %s\n"
                          "Compiled with gcc version: %d.%d.%d\n"
                          "GTK+ runtime in use: %u.%u.%u"),
                        built.get(), __GNUC__, __GNUC_MINOR__, __GNUC_PATCHLEVEL__,
                        gtk_major_version, gtk_minor_version, gtk_micro_version));
    gtk_label_set_text(GTK_LABEL(centred_label(box)), description.get());

    gtk_label_set_markup(GTK_LABEL(centred_label(box)),
                         _("<span size=\"small\">Copyright © 2026 The Ravelo client authors. "
                           "Provided as is, without warranty of any kind.</span>"));

    GtkWidget *link = gtk_link_button_new(_(RAVELO_HOMEPAGE));
    pack(box, link);
    gtk_widget_show(link);

    // As the toolkit's own about dialogs do: the licence behind a button at
    // the far end of the buttons, not a response.
    GtkWidget *licence = gtk_button_new_with_mnemonic(_("_License"));
    GtkWidget *buttons = gtk_dialog_get_action_area(GTK_DIALOG(dialog));
    gtk_box_pack_start(GTK_BOX(buttons), licence, FALSE, TRUE, 0);
    gtk_button_box_set_child_secondary(GTK_BUTTON_BOX(buttons), licence, TRUE);
    g_signal_connect(licence, "clicked", G_CALLBACK(show_licence), dialog);

    g_signal_connect_swapped(dialog, "response", G_CALLBACK(gtk_widget_destroy), dialog);
    gtk_widget_show_all(dialog);
    // Enter closes the window: the link would otherwise take the focus.
    gtk_widget_grab_focus(
        gtk_dialog_get_widget_for_response(GTK_DIALOG(dialog), GTK_RESPONSE_NONE));
}
