#include "config/connection_window.h"

#include "ui/registry.h"
#include "config/config.h"
#include "base/i18n.h"

#include <array>

namespace
{

GtkWidget *shown(GtkWidget *widget)
{
    gtk_widget_show(widget);
    return widget;
}

void attach(GtkWidget *table, GtkWidget *child, guint column, guint row,
            GtkAttachOptions horizontal)
{
    gtk_table_attach(GTK_TABLE(table), child, column, column + 1, row, row + 1, horizontal,
                     GtkAttachOptions(0), 0, 0);
}

GtkWidget *port_label(const char *text)
{
    GtkWidget *label = shown(gtk_label_new(text));
    gtk_misc_set_alignment(GTK_MISC(label), 0, 0.5);
    return label;
}

GtkWidget *window_widget(const char *name)
{
    return lookup_widget(window_connection_settings, name);
}

// No port name has a control character, and one pasted in by mistake (a
// line break, a tab) could hardly be seen in the entry.
bool has_control_character(const char *entry_name)
{
    for (const char *c = gtk_entry_get_text(GTK_ENTRY(window_widget(entry_name))); *c != '\0'; ++c)
        if (static_cast<unsigned char>(*c) < 0x20 || *c == 0x7F)
            return true;
    return false;
}

void replace_port(gchar **port, const char *entry_name)
{
    g_free(*port);
    *port = g_strdup(gtk_entry_get_text(GTK_ENTRY(window_widget(entry_name))));
}

} // namespace

GtkWidget *config_window_create()
{
    GtkTooltips *tooltips = gtk_tooltips_new();

    GtkWidget *window = gtk_window_new(GTK_WINDOW_TOPLEVEL);
    gtk_window_set_title(GTK_WINDOW(window), _("Connection settings"));
    gtk_window_set_position(GTK_WINDOW(window), GTK_WIN_POS_CENTER);
    gtk_window_set_modal(GTK_WINDOW(window), TRUE);
    gtk_window_set_resizable(GTK_WINDOW(window), FALSE);

    GtkWidget *vbox = shown(gtk_vbox_new(FALSE, 6));
    gtk_container_set_border_width(GTK_CONTAINER(vbox), 6);
    gtk_container_add(GTK_CONTAINER(window), vbox);

    GtkWidget *table = shown(gtk_table_new(2, 2, FALSE));
    gtk_table_set_row_spacings(GTK_TABLE(table), 2);
    gtk_box_pack_start(GTK_BOX(vbox), table, TRUE, TRUE, 0);

    const auto fill = GTK_FILL;
    const auto expand_fill = GtkAttachOptions(GTK_EXPAND | GTK_FILL);
    GtkWidget *device_label = port_label(_("Device port: "));
    attach(table, device_label, 0, 0, fill);
    GtkWidget *device_entry = shown(gtk_entry_new());
    gtk_tooltips_set_tip(tooltips, device_entry, _("USB serial port to use"), nullptr);
    attach(table, device_entry, 1, 0, expand_fill);
    GtkWidget *bootloader_label = port_label(_("Bootloader port: "));
    attach(table, bootloader_label, 0, 1, fill);
    GtkWidget *bootloader_entry = shown(gtk_entry_new());
    gtk_tooltips_set_tip(tooltips, bootloader_entry, _("USB serial port to use"), nullptr);
    attach(table, bootloader_entry, 1, 1, expand_fill);

    // Hidden until OK finds a name it refuses.
    GtkWidget *error = gtk_label_new(
        _("A port name cannot contain a line break, a tab or another control character"));
    gtk_label_set_line_wrap(GTK_LABEL(error), TRUE);
    gtk_misc_set_alignment(GTK_MISC(error), 0, 0.5);
    gtk_box_pack_start(GTK_BOX(vbox), error, FALSE, FALSE, 0);

    GtkWidget *button = shown(gtk_button_new());
    gtk_box_pack_start(GTK_BOX(vbox), button, FALSE, FALSE, 0);
    GtkWidget *alignment = shown(gtk_alignment_new(0.5, 0.5, 0, 0));
    gtk_container_add(GTK_CONTAINER(button), alignment);
    GtkWidget *hbox = shown(gtk_hbox_new(FALSE, 2));
    gtk_container_add(GTK_CONTAINER(alignment), hbox);
    GtkWidget *image = shown(gtk_image_new_from_stock("gtk-ok", GTK_ICON_SIZE_BUTTON));
    gtk_box_pack_start(GTK_BOX(hbox), image, FALSE, FALSE, 0);
    GtkWidget *label = shown(gtk_label_new_with_mnemonic(_("OK")));
    gtk_box_pack_start(GTK_BOX(hbox), label, FALSE, FALSE, 0);

    g_signal_connect(window, "delete_event", G_CALLBACK(gtk_widget_hide_on_delete), nullptr);
    g_signal_connect(button, "clicked", G_CALLBACK(config_window_ok_clicked), nullptr);

    ui_register_plain(window, window, "window_connection_settings");
    const std::array<std::pair<GtkWidget *, const char *>, 12> named{{
        {vbox, "vbox_connection_settings_top_most"},
        {table, "table_connection_settings_inputs"},
        {device_label, "label_connection_settings_select"},
        {device_entry, "entry_connection_settings_device_port"},
        {bootloader_label, "label_connection_settings_bootloader_port"},
        {bootloader_entry, "entry_connection_settings_bootloader_port"},
        {error, "label_connection_settings_error"},
        {button, "button_connection_settings_ok"},
        {alignment, "alignment_connection_settings_ok"},
        {hbox, "hbox_connection_settings_ok"},
        {image, "image_connection_settings_ok"},
        {label, "label_connection_settings_ok"},
    }};
    for (const auto &[widget, name] : named)
        ui_register_widget(window, widget, name);
    ui_register_plain(window, tooltips, "tooltips");

    gtk_widget_grab_focus(device_entry);
    return window;
}

void config_window_show(GtkMenuItem *, gpointer)
{
    gtk_entry_set_text(GTK_ENTRY(window_widget("entry_connection_settings_device_port")),
                       device_port);
    gtk_entry_set_text(GTK_ENTRY(window_widget("entry_connection_settings_bootloader_port")),
                       bootloader_port);
    gtk_widget_hide(window_widget("label_connection_settings_error"));
    gtk_widget_show(window_connection_settings);
}

void config_window_ok_clicked(GtkButton *, gpointer)
{
    if (has_control_character("entry_connection_settings_device_port") ||
        has_control_character("entry_connection_settings_bootloader_port")) {
        gtk_widget_show(window_widget("label_connection_settings_error"));
        return;
    }
    replace_port(&device_port, "entry_connection_settings_device_port");
    replace_port(&bootloader_port, "entry_connection_settings_bootloader_port");
    gtk_widget_hide(window_connection_settings);
    config_save();
}
