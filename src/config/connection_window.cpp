#include "config/connection_window.h"

#include "base/i18n.h"
#include "config/config.h"
#include "device/port_list.h"
#include "ui/registry.h"

#include <gdk/gdkkeysyms.h>

#include <array>
#include <string>

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
    return lookup_widget(ui_window_connection_settings(), name);
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

const gchar *entry_text(const char *entry_name)
{
    return gtk_entry_get_text(GTK_ENTRY(window_widget(entry_name)));
}

// Cancel, Esc and the title bar's close button: the edits are dropped when
// the window shows next.
void cancel_clicked(GtkButton *, gpointer)
{
    gtk_widget_hide(ui_window_connection_settings());
}

gboolean key_pressed(GtkWidget *, GdkEventKey *event, gpointer)
{
    if (event->keyval != GDK_KEY_Escape)
        return FALSE;
    cancel_clicked(nullptr, nullptr);
    return TRUE;
}

// Enter in either entry.
void entry_activated(GtkEntry *, gpointer)
{
    config_window_ok_clicked(nullptr, nullptr);
}

// A /dev/serial/by-id/ name shows whole.
constexpr gint entry_width_chars = 50;

// The found ports, shared by both drop-downs: the name that choosing one
// puts into the entry, what the row shows, and whether it can be chosen.
enum PortColumn { column_path, column_shown, column_choosable, column_count };
GtkListStore *found_ports = nullptr;

void list_ports()
{
    gtk_list_store_clear(found_ports);
    const std::vector<PortInfo> ports = port_list_find();
    for (const PortInfo &port : ports)
        gtk_list_store_insert_with_values(
            found_ports, nullptr, -1, column_path, port_list_path(port).c_str(), column_shown,
            port_list_describe(port).c_str(), column_choosable, TRUE, -1);
    if (ports.empty())
        gtk_list_store_insert_with_values(found_ports, nullptr, -1, column_path, "", column_shown,
                                          _("No USB serial port found"), column_choosable, FALSE,
                                          -1);
}

// The drop-downs follow plugging while the window is open.
void on_plug(const PortInfo &, bool, gpointer)
{
    if (gtk_widget_get_visible(ui_window_connection_settings()))
        list_ports();
}

bool placeholder_active(GtkComboBox *combo)
{
    GtkTreeIter row;
    gboolean choosable = TRUE;
    if (gtk_combo_box_get_active_iter(combo, &row))
        gtk_tree_model_get(GTK_TREE_MODEL(found_ports), &row, column_choosable, &choosable, -1);
    return !choosable;
}

// The "No USB serial port found" row names nothing: the menu does not let
// it be chosen, and should it be chosen all the same (the keyboard, a
// program) the entry keeps what it held before. The toolkit has written
// the row's empty name by the time this runs.
void port_chosen(GtkComboBox *combo, gpointer)
{
    if (!placeholder_active(combo))
        return;
    GtkWidget *entry = gtk_bin_get_child(GTK_BIN(combo));
    const std::string kept = static_cast<const char *>(g_object_get_data(G_OBJECT(entry), "kept"));
    gtk_combo_box_set_active(combo, -1);
    gtk_entry_set_text(GTK_ENTRY(entry), kept.c_str());
}

void entry_changed(GtkEntry *entry, gpointer combo)
{
    if (!placeholder_active(GTK_COMBO_BOX(combo)))
        g_object_set_data_full(G_OBJECT(entry), "kept", g_strdup(gtk_entry_get_text(entry)),
                               g_free);
}

// An entry with a drop-down of the found ports; the entry is its child.
GtkWidget *port_entry(GtkTooltips *tooltips)
{
    GtkWidget *combo = shown(gtk_combo_box_new_with_model_and_entry(GTK_TREE_MODEL(found_ports)));
    gtk_combo_box_set_entry_text_column(GTK_COMBO_BOX(combo), column_path);
    // The rows show what the port is; the entry gets its name.
    gtk_cell_layout_clear(GTK_CELL_LAYOUT(combo));
    GtkCellRenderer *text = gtk_cell_renderer_text_new();
    gtk_cell_layout_pack_start(GTK_CELL_LAYOUT(combo), text, TRUE);
    gtk_cell_layout_set_attributes(GTK_CELL_LAYOUT(combo), text, "text", column_shown, "sensitive",
                                   column_choosable, nullptr);
    g_signal_connect(combo, "changed", G_CALLBACK(port_chosen), nullptr);
    GtkWidget *entry = gtk_bin_get_child(GTK_BIN(combo));
    gtk_entry_set_width_chars(GTK_ENTRY(entry), entry_width_chars);
    gtk_tooltips_set_tip(tooltips, entry, _("USB serial port to use"), nullptr);
    g_signal_connect(entry, "activate", G_CALLBACK(entry_activated), nullptr);
    g_signal_connect(entry, "changed", G_CALLBACK(entry_changed), combo);
    entry_changed(GTK_ENTRY(entry), combo);
    return combo;
}

} // namespace

GtkWidget *config_window_create()
{
    GtkTooltips *tooltips = gtk_tooltips_new();
    found_ports = gtk_list_store_new(column_count, G_TYPE_STRING, G_TYPE_STRING, G_TYPE_BOOLEAN);
    port_list_watch(on_plug, nullptr);

    GtkWidget *window = gtk_window_new(GTK_WINDOW_TOPLEVEL);
    gtk_window_set_title(GTK_WINDOW(window), _("Connection settings"));
    gtk_window_set_transient_for(GTK_WINDOW(window), GTK_WINDOW(ui_window_main()));
    gtk_window_set_position(GTK_WINDOW(window), GTK_WIN_POS_CENTER_ON_PARENT);
    gtk_window_set_modal(GTK_WINDOW(window), TRUE);
    gtk_window_set_type_hint(GTK_WINDOW(window), GDK_WINDOW_TYPE_HINT_DIALOG);

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
    GtkWidget *device_ports = port_entry(tooltips);
    attach(table, device_ports, 1, 0, expand_fill);
    GtkWidget *bootloader_label = port_label(_("Bootloader port: "));
    attach(table, bootloader_label, 0, 1, fill);
    GtkWidget *bootloader_ports = port_entry(tooltips);
    attach(table, bootloader_ports, 1, 1, expand_fill);
    GtkWidget *device_entry = gtk_bin_get_child(GTK_BIN(device_ports));
    GtkWidget *bootloader_entry = gtk_bin_get_child(GTK_BIN(bootloader_ports));

    // Hidden until OK finds a name it refuses.
    GtkWidget *error = gtk_label_new(
        _("A port name cannot contain a line break, a tab or another control character"));
    gtk_label_set_line_wrap(GTK_LABEL(error), TRUE);
    gtk_misc_set_alignment(GTK_MISC(error), 0, 0.5);
    gtk_box_pack_start(GTK_BOX(vbox), error, FALSE, FALSE, 0);

    GtkWidget *buttons = shown(gtk_hbutton_box_new());
    gtk_button_box_set_layout(GTK_BUTTON_BOX(buttons), GTK_BUTTONBOX_END);
    gtk_box_set_spacing(GTK_BOX(buttons), 6);
    gtk_box_pack_start(GTK_BOX(vbox), buttons, FALSE, FALSE, 0);
    GtkWidget *cancel_button = shown(gtk_button_new_from_stock(GTK_STOCK_CANCEL));
    gtk_container_add(GTK_CONTAINER(buttons), cancel_button);
    GtkWidget *button = shown(gtk_button_new());
    gtk_container_add(GTK_CONTAINER(buttons), button);
    GtkWidget *alignment = shown(gtk_alignment_new(0.5, 0.5, 0, 0));
    gtk_container_add(GTK_CONTAINER(button), alignment);
    GtkWidget *hbox = shown(gtk_hbox_new(FALSE, 2));
    gtk_container_add(GTK_CONTAINER(alignment), hbox);
    GtkWidget *image = shown(gtk_image_new_from_stock("gtk-ok", GTK_ICON_SIZE_BUTTON));
    gtk_box_pack_start(GTK_BOX(hbox), image, FALSE, FALSE, 0);
    GtkWidget *label = shown(gtk_label_new_with_mnemonic(_("OK")));
    gtk_box_pack_start(GTK_BOX(hbox), label, FALSE, FALSE, 0);

    g_signal_connect(window, "delete_event", G_CALLBACK(gtk_widget_hide_on_delete), nullptr);
    g_signal_connect(window, "key-press-event", G_CALLBACK(key_pressed), nullptr);
    g_signal_connect(cancel_button, "clicked", G_CALLBACK(cancel_clicked), nullptr);
    g_signal_connect(button, "clicked", G_CALLBACK(config_window_ok_clicked), nullptr);

    ui_register_plain(window, window, "window_connection_settings");
    const std::array<std::pair<GtkWidget *, const char *>, 16> named{{
        {vbox, "vbox_connection_settings_top_most"},
        {table, "table_connection_settings_inputs"},
        {device_label, "label_connection_settings_select"},
        {device_ports, "comboboxentry_connection_settings_device_port"},
        {device_entry, "entry_connection_settings_device_port"},
        {bootloader_label, "label_connection_settings_bootloader_port"},
        {bootloader_ports, "comboboxentry_connection_settings_bootloader_port"},
        {bootloader_entry, "entry_connection_settings_bootloader_port"},
        {error, "label_connection_settings_error"},
        {button, "button_connection_settings_ok"},
        {alignment, "alignment_connection_settings_ok"},
        {hbox, "hbox_connection_settings_ok"},
        {image, "image_connection_settings_ok"},
        {label, "label_connection_settings_ok"},
        {buttons, "hbuttonbox_connection_settings"},
        {cancel_button, "button_connection_settings_cancel"},
    }};
    for (const auto &[widget, name] : named)
        ui_register_widget(window, widget, name);
    ui_register_plain(window, tooltips, "tooltips");

    gtk_widget_grab_focus(device_entry);
    return window;
}

void config_window_show(GtkMenuItem *, gpointer)
{
    list_ports();
    gtk_entry_set_text(GTK_ENTRY(window_widget("entry_connection_settings_device_port")),
                       config_device_port());
    gtk_entry_set_text(GTK_ENTRY(window_widget("entry_connection_settings_bootloader_port")),
                       config_bootloader_port());
    gtk_widget_hide(window_widget("label_connection_settings_error"));
    gtk_widget_grab_focus(window_widget("entry_connection_settings_device_port"));
    gtk_widget_show(ui_window_connection_settings());
}

void config_window_ok_clicked(GtkButton *, gpointer)
{
    if (has_control_character("entry_connection_settings_device_port") ||
        has_control_character("entry_connection_settings_bootloader_port")) {
        gtk_widget_show(window_widget("label_connection_settings_error"));
        return;
    }
    config_set_ports(entry_text("entry_connection_settings_device_port"),
                     entry_text("entry_connection_settings_bootloader_port"));
    gtk_widget_hide(ui_window_connection_settings());
    config_save();
}
