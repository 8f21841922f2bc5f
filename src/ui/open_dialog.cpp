#include "ui/open_dialog.h"

#include "base/i18n.h"
#include "ui/registry.h"

namespace
{

GtkWidget *add_button(GtkWidget *dialog, const char *stock, gint response)
{
    GtkWidget *button = gtk_button_new_from_stock(stock);
    gtk_widget_show(button);
    gtk_dialog_add_action_widget(GTK_DIALOG(dialog), button, response);
    gtk_widget_set_can_default(button, TRUE);
    return button;
}

} // namespace

GtkWidget *ui_open_dialog_create()
{
    // No buttons from the constructor (the empty list still needs its end
    // marker); they are added below so that they can be registered.
    GtkWidget *dialog = gtk_file_chooser_dialog_new(_("Open a tape or program image"), nullptr,
                                                    GTK_FILE_CHOOSER_ACTION_OPEN, nullptr, nullptr);
    gtk_container_set_border_width(GTK_CONTAINER(dialog), 5);
    gtk_window_set_position(GTK_WINDOW(dialog), GTK_WIN_POS_CENTER);
    gtk_window_set_modal(GTK_WINDOW(dialog), TRUE);
    gtk_window_set_type_hint(GTK_WINDOW(dialog), GDK_WINDOW_TYPE_HINT_DIALOG);

    GtkWidget *content = gtk_dialog_get_content_area(GTK_DIALOG(dialog));
    gtk_widget_show(content);
    GtkWidget *actions = gtk_dialog_get_action_area(GTK_DIALOG(dialog));
    gtk_widget_show(actions);
    gtk_button_box_set_layout(GTK_BUTTON_BOX(actions), GTK_BUTTONBOX_END);

    GtkWidget *cancel = add_button(dialog, "gtk-cancel", GTK_RESPONSE_CANCEL);
    GtkWidget *open = add_button(dialog, "gtk-open", GTK_RESPONSE_OK);

    ui_register_plain(dialog, dialog, "filechooserdialog_open_file");
    ui_register_plain(dialog, content, "dialog_vbox1");
    ui_register_plain(dialog, actions, "dialog_action_area1");
    ui_register_widget(dialog, cancel, "button1");
    ui_register_widget(dialog, open, "button2");

    // Enter confirms the choice.
    gtk_widget_grab_default(open);
    return dialog;
}
