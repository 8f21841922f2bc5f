#include "ui/loading_help.h"

#include "base/glib_ptr.h"
#include "base/i18n.h"
#include "ui/registry.h"

namespace
{
constexpr const char *steps[] = {
    N_("Connect the device to the computer's cassette port, and by USB to this computer."),
    N_("On the computer, type LOAD and press RETURN, or press SHIFT and RUN/STOP together to "
       "load and run the first program. The screen says PRESS PLAY ON TAPE."),
    N_("Here, choose a record in the list and press Play."),
    N_("When the screen shows FOUND and the program's name, press SPACE or the C= key to load "
       "it at once, or wait a few seconds."),
    N_("A fast tape (a program image played with fast load) starts its program by itself once "
       "it is loaded. After the ROM loader, type RUN if the program did not start."),
};

// The open window, if any.
GtkWidget *window = nullptr;

// A label that wraps, at the top left of its place.
GtkWidget *wrapped_label(const gchar *text)
{
    GtkWidget *label = gtk_label_new(text);
    gtk_label_set_line_wrap(GTK_LABEL(label), TRUE);
    gtk_misc_set_alignment(GTK_MISC(label), 0, 0);
    // Wrapped labels ask for no width of their own.
    gtk_widget_set_size_request(label, 420, -1);
    return label;
}
} // namespace

void ui_on_loading_help(GtkMenuItem *, gpointer)
{
    if (window != nullptr) {
        gtk_window_present(GTK_WINDOW(window));
        return;
    }
    window = gtk_dialog_new_with_buttons(_("Loading on the computer"), GTK_WINDOW(ui_window_main()),
                                         GTK_DIALOG_DESTROY_WITH_PARENT, "gtk-close",
                                         GTK_RESPONSE_CLOSE, nullptr);
    g_object_add_weak_pointer(G_OBJECT(window), reinterpret_cast<gpointer *>(&window));
    gtk_dialog_set_default_response(GTK_DIALOG(window), GTK_RESPONSE_CLOSE);
    // The steps numbered in a column of their own, each text wrapped beside
    // its number.
    GtkWidget *table = gtk_table_new(G_N_ELEMENTS(steps) + 1, 2, FALSE);
    gtk_table_set_row_spacings(GTK_TABLE(table), 8);
    gtk_table_set_col_spacings(GTK_TABLE(table), 6);
    gtk_container_set_border_width(GTK_CONTAINER(table), 12);
    gtk_box_pack_start(GTK_BOX(gtk_dialog_get_content_area(GTK_DIALOG(window))), table, TRUE, TRUE,
                       0);
    gtk_table_attach(GTK_TABLE(table),
                     wrapped_label(_("To load a program from the device on a C64:")), 0, 2, 0, 1,
                     GTK_FILL, GTK_FILL, 0, 0);
    for (guint row = 1; row <= G_N_ELEMENTS(steps); ++row) {
        const GCharPtr number(g_strdup_printf("%u.", row));
        GtkWidget *label = gtk_label_new(number.get());
        gtk_misc_set_alignment(GTK_MISC(label), 1, 0);
        gtk_table_attach(GTK_TABLE(table), label, 0, 1, row, row + 1, GTK_FILL, GTK_FILL, 0, 0);
        gtk_table_attach(GTK_TABLE(table), wrapped_label(_(steps[row - 1])), 1, 2, row, row + 1,
                         GtkAttachOptions(GTK_EXPAND | GTK_FILL), GTK_FILL, 0, 0);
    }
    // Any answer closes it: Close, Esc, the title bar's close button.
    g_signal_connect(window, "response", G_CALLBACK(gtk_widget_destroy), nullptr);
    gtk_widget_show_all(window);
}
