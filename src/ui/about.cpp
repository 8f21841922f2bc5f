#include "ui/about.h"

#include "ui/registry.h"
#include "base/glib_ptr.h"
#include "base/i18n.h"

#include <cstdlib>
#include <memory>
#include <string_view>

// A white audio cassette, tilted, on a transparent surround.
// clang-format off
const char *const ui_about_icon[] = {
    "48 48 73 1 ",
    "  c None",
    "! c #28282D",
    "# c #2B2A2E",
    "$ c #2D2D32",
    "% c #333032",
    "& c #3A3433",
    "' c #3D3F46",
    "( c #433A36",
    ") c #4F4948",
    "* c #544C49",
    "+ c #54565D",
    ", c #5B5E65",
    "- c #5F6472",
    ". c #656A79",
    "/ c #69676B",
    "0 c #696E7A",
    "1 c #6F6E71",
    "2 c #6F747D",
    "3 c #787D87",
    "4 c #797D89",
    "5 c #7C808A",
    "6 c #7D7E84",
    "7 c #807977",
    "8 c #81858E",
    "9 c #898C97",
    ": c #8D909B",
    "; c #8F93A2",
    "< c #90949C",
    "= c #91959D",
    "> c #93969E",
    "? c #9699A1",
    "@ c #989DA6",
    "A c #9DA1AC",
    "B c #A3ADBB",
    "C c #A6ABB5",
    "D c #A8ABB1",
    "E c #ABA8A9",
    "F c #ACAEB2",
    "G c #AEB0B7",
    "H c #B1B2B4",
    "I c #B4B4B6",
    "J c #B4B6BC",
    "K c #B7B9BE",
    "L c #B8BFCA",
    "M c #C0C0C1",
    "N c #C3C3C5",
    "O c #C6C6C8",
    "P c #C7CBD4",
    "Q c #C9CACB",
    "R c #C9CBCF",
    "S c #CACCCE",
    "T c #CCCDCF",
    "U c #CCCFD5",
    "V c #CDD0DC",
    "W c #D0D1D3",
    "X c #D4D7E5",
    "Y c #D5D5D7",
    "Z c #D9DADC",
    "[ c #DCDDE0",
    "] c #DFE0E1",
    "^ c #E0E3E9",
    "_ c #E1E1E2",
    "` c #E1E4F3",
    "a c #E2E2E3",
    "b c #E4E4E4",
    "c c #E6E6E6",
    "d c #E6E8ED",
    "e c #E8E8E8",
    "f c #EBEBEB",
    "g c #EBECF2",
    "h c #EEEEEE",
    "i c #F0F0F2",
    "j c #F4F4F6",
    "                                                ",
    "                                                ",
    "                                                ",
    "                                                ",
    "                                                ",
    "                                                ",
    "                                      3         ",
    "                                  335?KY5       ",
    "                              335?KYijjj?       ",
    "                          335?KYijjjjjjjJ3      ",
    "                      335?KYijjjjjjjjjjiY3      ",
    "                  335?KYijjjjjjjjjjaKWiih5      ",
    "              335?KYijjjjjjjjjjaK?004?iii?      ",
    "          335?KYijjjjjjjjjjZJ:.0;GX`V0iiiG3     ",
    "      335?KYijjjjjjjjjjZJ:.0;GX``````.]iiW3     ",
    "   35?KYijjjjjjjjjjZJ:.0;GX````````gi:Jhhe3     ",
    "  KZjjjjjjjjjjjZJ:.0;GX````````gijjjjJ>hhh>     ",
    " 3WjjjjjjjjZJ:.0;GX````````gij^UUjjjj[0hhhF3    ",
    " 3GjjjjZJ:.0;GX````````gij^P8+061jjjjj.[hhT3    ",
    "  >iii@.;GX````````gij^ULB@'!!!#(Yjjjj:Jhfc3    ",
    "  3fiiK9```````gij^ULB@6/)&!+I/!%EjjjjJ>fff=    ",
    "  3Wii].```gij^U9++2/)((((%!IjY!#7jjjj[0fffF3   ",
    "  3Giii0ZjjjjL@,!!!!&(((((&!,Y6!%*jjjjj.ZffS3   ",
    "   >iih>JjjjjE(!%MF$!((((((#!!!#5Adjjji8Iffb3   ",
    "   3ehhJ:jjjjY&!1jj)!(((((*/,',CV^iUC8-4Keee=   ",
    "   3Uhh[.jjjjj)!%KE$!(*/8ABLV^iUC8-5@N_eeeeeD3  ",
    "   3Fhhh0[jjjj7%!!!!0ABLV^iUC8-5AObeeeeeeeeeQ3  ",
    "    =hhh>JjjjjI12+,@V^iUC8-5AObeeeeaZWcecccc]3  ",
    "    3cffJ:jjjjdLV^gRC8-5AObeeeeaZWQOOTccccccc<  ",
    "    3TffZ.jjjjgRA5-5AObeeeeaZWQOOOOOOYcccccccD3 ",
    "    3Ffff0YRA5-5AObeeeeaZWQOOOOOOONNN]cccbbbbO3 ",
    "     =fff=-5AObeeeeaZWQOOOOOOONNNNNNQbbbbbbbTG  ",
    "     3bfe[beeeeaZWQOOOOOOONNNNNNNNNNWbb_QG>53   ",
    "     3ReeeeeeYQOOOOOOONNNNNNNNNNNNNMNG>533      ",
    "     3GeeeeecbQOOONNNNNNNNNNNNNMH@9433          ",
    "      >eccccccbQNNNNNNNNNNNMH@9433              ",
    "      5bcccccccaQNNNNNNMH@9433                  ",
    "      3SccccbbbbaQNMH@9433                      ",
    "      3Gbbbbbbb_QF9433                          ",
    "       >bbb_QG>533                              ",
    "       5QG>533                                  ",
    "         3                                      ",
    "                                                ",
    "                                                ",
    "                                                ",
    "                                                ",
    "                                                ",
    "                                                "
};
// clang-format on

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
        gdk_pixmap_colormap_create_from_xpm_d(nullptr, gtk_widget_get_colormap(ui_window_main()), &mask,
                                              nullptr, const_cast<gchar **>(ui_about_icon));
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
