#include "app/main_window.h"

#include "app/quit.h"
#include "base/i18n.h"
#include "config/config.h"
#include "config/connection_window.h"
#include "index/document_commands.h"
#include "index/idx_list.h"
#include "maintenance/reset.h"
#include "maintenance/update.h"
#include "player/player_controls.h"
#include "ui/about.h"
#include "ui/feedback.h"
#include "ui/loading_help.h"
#include "ui/registry.h"

#include <string>
#include <utility>
#include <vector>

namespace
{

// Widgets in creation order, registered together once the tree is complete.
class Registry
{
  public:
    GtkWidget *add(GtkWidget *widget, const char *name)
    {
        widgets_.emplace_back(widget, name);
        return widget;
    }
    // Made visible right after creation, as every widget but the submenus.
    GtkWidget *shown(GtkWidget *widget, const char *name)
    {
        gtk_widget_show(widget);
        return add(widget, name);
    }
    GtkWidget *find(const char *name) const
    {
        for (const auto &[widget, registered] : widgets_)
            if (registered == name)
                return widget;
        return nullptr;
    }
    void register_all(GtkWidget *window) const
    {
        for (const auto &[widget, name] : widgets_)
            ui_register_widget(window, widget, name.c_str());
    }

  private:
    std::vector<std::pair<GtkWidget *, std::string>> widgets_;
};

struct Builder {
    Registry registry;
    GtkTooltips *tooltips;
    GtkAccelGroup *accel;
};

void pack(GtkWidget *box, GtkWidget *child, gboolean expand, gboolean fill, guint padding)
{
    gtk_box_pack_start(GTK_BOX(box), child, expand, fill, padding);
}

// A menu item with a mnemonic label and a stock image, appended to `shell`.
GtkWidget *menu_entry(Builder &b, GtkWidget *shell, const std::string &role, const char *label,
                      const char *stock)
{
    GtkWidget *item = b.registry.shown(gtk_image_menu_item_new_with_mnemonic(_(label)),
                                       ("menuitem_" + role).c_str());
    gtk_container_add(GTK_CONTAINER(shell), item);
    GtkWidget *image = b.registry.shown(gtk_image_new_from_stock(stock, GTK_ICON_SIZE_MENU),
                                        ("image_menuitem_" + role).c_str());
    gtk_image_menu_item_set_image(GTK_IMAGE_MENU_ITEM(item), image);
    return item;
}

// A menu title on the menu bar with its submenu, which stays hidden until
// the title is opened.
GtkWidget *menu_title(Builder &b, GtkWidget *menubar, const std::string &role, const char *label,
                      const char *stock)
{
    GtkWidget *item = menu_entry(b, menubar, role, label, stock);
    GtkWidget *menu = b.registry.add(gtk_menu_new(), ("menuitem_" + role + "_menu").c_str());
    gtk_menu_item_set_submenu(GTK_MENU_ITEM(item), menu);
    return menu;
}

void stock_entry(Builder &b, GtkWidget *menu, const char *name, const char *stock)
{
    GtkWidget *item = b.registry.shown(gtk_image_menu_item_new_from_stock(stock, b.accel), name);
    gtk_container_add(GTK_CONTAINER(menu), item);
}

// A button whose face is a stock image and a label, inside an alignment.
void face_button(Builder &b, GtkWidget *box, const std::string &role, const char *stock,
                 const char *label, gfloat xalign, const char *tip)
{
    GtkWidget *button = b.registry.shown(gtk_button_new(), ("button_" + role).c_str());
    pack(box, button, FALSE, FALSE, 0);
    gtk_tooltips_set_tip(b.tooltips, button, _(tip), nullptr);
    GtkWidget *alignment =
        b.registry.shown(gtk_alignment_new(xalign, 0.5, 0, 0), ("alignment_" + role).c_str());
    gtk_container_add(GTK_CONTAINER(button), alignment);
    GtkWidget *hbox = b.registry.shown(gtk_hbox_new(FALSE, 2), ("hbox_" + role).c_str());
    gtk_container_add(GTK_CONTAINER(alignment), hbox);
    GtkWidget *image = b.registry.shown(gtk_image_new_from_stock(stock, GTK_ICON_SIZE_BUTTON),
                                        ("image_" + role).c_str());
    pack(hbox, image, FALSE, FALSE, 0);
    GtkWidget *text =
        b.registry.shown(gtk_label_new_with_mnemonic(_(label)), ("label_" + role).c_str());
    pack(hbox, text, FALSE, FALSE, 0);
}

GtkWidget *scrolled(Builder &b, const char *name)
{
    GtkWidget *window = b.registry.shown(gtk_scrolled_window_new(nullptr, nullptr), name);
    gtk_scrolled_window_set_policy(GTK_SCROLLED_WINDOW(window), GTK_POLICY_AUTOMATIC,
                                   GTK_POLICY_AUTOMATIC);
    gtk_scrolled_window_set_shadow_type(GTK_SCROLLED_WINDOW(window), GTK_SHADOW_IN);
    return window;
}

void build_menus(Builder &b, GtkWidget *vbox)
{
    GtkWidget *menubar = b.registry.shown(gtk_menu_bar_new(), "menubar_main");
    pack(vbox, menubar, FALSE, FALSE, 0);

    GtkWidget *file = menu_title(b, menubar, "file", N_("_File"), "gtk-floppy");
    stock_entry(b, file, "menuitem_open", "gtk-open");
    menu_entry(b, file, "save_tape_as", N_("Save _tape as…"), "gtk-save-as");
    menu_entry(b, file, "index_from_tape", N_("_Index from tape"), "gtk-find");
    GtkWidget *separator = b.registry.shown(gtk_separator_menu_item_new(), "separatormenuitem1");
    gtk_container_add(GTK_CONTAINER(file), separator);
    gtk_widget_set_sensitive(separator, FALSE);
    stock_entry(b, file, "menuitem_quit", "gtk-quit");

    GtkWidget *config =
        menu_title(b, menubar, "configuration", N_("_Configuration"), "gtk-preferences");
    menu_entry(b, config, "connection", N_("C_onnection..."), "gtk-network");
    GtkWidget *fast = b.registry.shown(
        gtk_check_menu_item_new_with_mnemonic(_("_Fast load for programs")), "menuitem_fast_load");
    gtk_container_add(GTK_CONTAINER(config), fast);

    GtkWidget *firmware = menu_title(b, menubar, "firmware", N_("Firm_ware"), "gtk-media-record");
    menu_entry(b, firmware, "reset_into_bootloader", N_("_Reset into bootloader"), "gtk-execute");
    menu_entry(b, firmware, "update", N_("_Update firmware"), "gtk-refresh");
    menu_entry(b, firmware, "update_from_file", N_("Update firmware from _file…"), "gtk-open");

    GtkWidget *help = menu_title(b, menubar, "help", N_("_Help"), "gtk-help");
    menu_entry(b, help, "loading_help", N_("_Loading on the computer"), "gtk-help");
    menu_entry(b, help, "about", N_("_About"), "gtk-about");
}

void build_index_pane(Builder &b, GtkWidget *page)
{
    GtkWidget *hbox = b.registry.shown(gtk_hbox_new(FALSE, 0), "hbox_indexes");
    pack(page, hbox, TRUE, TRUE, 0);

    GtkWidget *scroll = scrolled(b, "scrolledwindow_indexes");
    pack(hbox, scroll, TRUE, TRUE, 0);
    GtkWidget *view = b.registry.shown(gtk_tree_view_new(), "treeview_indexes");
    gtk_container_add(GTK_CONTAINER(scroll), view);
    gtk_tooltips_set_tip(
        b.tooltips, view,
        _("List of available IDX records (filled when a tape or a program image is opened)"),
        nullptr);
    gtk_widget_set_events(view, GDK_BUTTON_PRESS_MASK);
    gtk_tree_view_set_rules_hint(GTK_TREE_VIEW(view), TRUE);

    GtkWidget *buttons = b.registry.shown(gtk_vbox_new(FALSE, 0), "vbox_index_buttons");
    pack(hbox, buttons, FALSE, TRUE, 0);
    face_button(b, buttons, "index_add", "gtk-add", N_("Add"), 0, N_("Add an IDX record"));
    face_button(b, buttons, "index_remove", "gtk-remove", N_("Remove"), 0,
                N_("Remove the selected IDX record"));
    face_button(b, buttons, "index_reload", "gtk-refresh", N_("Reload"), 0,
                N_("Reload the IDX record list from file (if the latter exists)"));
    face_button(b, buttons, "index_save", "gtk-save", N_("Save"), 0,
                N_("Save the current IDX record list to file"));
}

void build_playback_controls(Builder &b, GtkWidget *page)
{
    GtkWidget *frame = b.registry.shown(gtk_frame_new(nullptr), "frame_playback_controls");
    pack(page, frame, FALSE, TRUE, 0);
    gtk_container_set_border_width(GTK_CONTAINER(frame), 4);

    GtkWidget *alignment =
        b.registry.shown(gtk_alignment_new(0.5, 0.5, 1, 1), "alignment_playback_controls");
    gtk_container_add(GTK_CONTAINER(frame), alignment);
    gtk_alignment_set_padding(GTK_ALIGNMENT(alignment), 4, 4, 8, 8);

    GtkWidget *vbox = b.registry.shown(gtk_vbox_new(FALSE, 4), "vbox_playback_controls");
    gtk_container_add(GTK_CONTAINER(alignment), vbox);
    GtkWidget *hbox = b.registry.shown(gtk_hbox_new(FALSE, 0), "hbox_playback_controls");
    pack(vbox, hbox, FALSE, FALSE, 0);
    face_button(b, hbox, "previous", "gtk-media-previous", N_("Prev"), 0.5,
                N_("Stop playback and select the previous IDX record, if any"));
    face_button(b, hbox, "play", "gtk-media-play", N_("Play"), 0.5,
                N_("Start playback at the beginning of the current IDX record"));
    face_button(b, hbox, "next", "gtk-media-next", N_("Next"), 0.5,
                N_("Stop playback and select the next IDX record, if any"));
    face_button(b, hbox, "pause", "gtk-media-pause", N_("Pause"), 0.5,
                N_("Pause playback without rewinding to the beginning of the current IDX record"));
    face_button(b, hbox, "stop", "gtk-media-stop", N_("Stop"), 0.5,
                N_("Stop playback and rewind to the beginning of the current IDX record"));

    GtkWidget *time_box = b.registry.shown(gtk_vbox_new(FALSE, 0), "vbox_buffer_time_controls");
    pack(hbox, time_box, FALSE, FALSE, 2);
    GtkWidget *info = b.registry.shown(gtk_label_new(_("Buffer time")), "label_buffer_time_info");
    pack(time_box, info, FALSE, FALSE, 0);
    GtkWidget *time = b.registry.shown(gtk_label_new(_("0:00")), "label_buffer_time");
    pack(time_box, time, FALSE, FALSE, 0);

    // The record being played, how far into it and how long is left.
    GtkWidget *progress = b.registry.shown(gtk_progress_bar_new(), "progressbar_playback");
    gtk_progress_bar_set_ellipsize(GTK_PROGRESS_BAR(progress), PANGO_ELLIPSIZE_MIDDLE);
    gtk_progress_bar_set_text(GTK_PROGRESS_BAR(progress), "");
    pack(vbox, progress, FALSE, FALSE, 0);

    GtkWidget *title =
        b.registry.shown(gtk_label_new(_("Playback controls")), "label_playback_controls");
    gtk_frame_set_label_widget(GTK_FRAME(frame), title);
    gtk_label_set_use_markup(GTK_LABEL(title), TRUE);
}

void build_notebook(Builder &b, GtkWidget *vbox)
{
    GtkWidget *notebook = b.registry.shown(gtk_notebook_new(), "notebook_main");
    pack(vbox, notebook, TRUE, TRUE, 0);
    gtk_notebook_set_tab_pos(GTK_NOTEBOOK(notebook), GTK_POS_BOTTOM);

    GtkWidget *playback = b.registry.shown(gtk_vbox_new(FALSE, 0), "vbox_playback");
    gtk_container_add(GTK_CONTAINER(notebook), playback);
    build_index_pane(b, playback);
    build_playback_controls(b, playback);
    GtkWidget *playback_tab =
        b.registry.shown(gtk_label_new(_("Playback")), "label_notebook_playback");
    gtk_notebook_set_tab_label(GTK_NOTEBOOK(notebook),
                               gtk_notebook_get_nth_page(GTK_NOTEBOOK(notebook), 0), playback_tab);

    GtkWidget *log_scroll = scrolled(b, "scrolledwindow_log");
    gtk_container_add(GTK_CONTAINER(notebook), log_scroll);
    GtkWidget *log = b.registry.shown(gtk_text_view_new(), "textview_log");
    // Read-only, but its text can still be selected and copied.
    gtk_text_view_set_editable(GTK_TEXT_VIEW(log), FALSE);
    gtk_text_view_set_cursor_visible(GTK_TEXT_VIEW(log), FALSE);
    gtk_text_view_set_wrap_mode(GTK_TEXT_VIEW(log), GTK_WRAP_WORD_CHAR);
    gtk_container_add(GTK_CONTAINER(log_scroll), log);
    GtkWidget *logging_tab =
        b.registry.shown(gtk_label_new(_("Logging")), "label_notebook_logging");
    gtk_notebook_set_tab_label(GTK_NOTEBOOK(notebook),
                               gtk_notebook_get_nth_page(GTK_NOTEBOOK(notebook), 1), logging_tab);
}

struct SignalRule {
    const char *widget;
    const char *signal;
    GCallback handler;
};

void connect_signals(const Registry &registry)
{
    const SignalRule rules[] = {
        {"menuitem_open", "activate", G_CALLBACK(document_on_open)},
        {"menuitem_save_tape_as", "activate", G_CALLBACK(document_on_save_tape_as)},
        {"menuitem_index_from_tape", "activate", G_CALLBACK(document_on_index_from_tape)},
        {"menuitem_quit", "activate", G_CALLBACK(app_on_quit)},
        {"menuitem_connection", "activate", G_CALLBACK(config_window_show)},
        {"menuitem_fast_load", "toggled", G_CALLBACK(config_on_fast_load_toggled)},
        {"menuitem_reset_into_bootloader", "activate", G_CALLBACK(maintenance_reset_activate)},
        {"menuitem_update", "activate", G_CALLBACK(maintenance_update_activate)},
        {"menuitem_update_from_file", "activate",
         G_CALLBACK(maintenance_update_from_file_activate)},
        {"menuitem_loading_help", "activate", G_CALLBACK(ui_on_loading_help)},
        {"menuitem_about", "activate", G_CALLBACK(ui_on_about)},
        {"treeview_indexes", "scroll_event", G_CALLBACK(idx_on_scroll)},
        {"treeview_indexes", "cursor_changed", G_CALLBACK(player_on_cursor_changed)},
        {"button_index_add", "clicked", G_CALLBACK(idx_on_add_clicked)},
        {"button_index_remove", "clicked", G_CALLBACK(idx_on_remove_clicked)},
        {"button_index_reload", "clicked", G_CALLBACK(document_on_reload)},
        {"button_index_save", "clicked", G_CALLBACK(document_on_save)},
        {"button_previous", "clicked", G_CALLBACK(player_on_previous)},
        {"button_play", "clicked", G_CALLBACK(player_on_play)},
        {"button_next", "clicked", G_CALLBACK(player_on_next)},
        {"button_pause", "clicked", G_CALLBACK(player_on_pause)},
        {"button_stop", "clicked", G_CALLBACK(player_on_stop)},
        {"statusbar_main", "query-tooltip", G_CALLBACK(status_on_query_tooltip)},
    };
    for (const SignalRule &rule : rules)
        g_signal_connect(registry.find(rule.widget), rule.signal, rule.handler, nullptr);
}

} // namespace

GtkWidget *app_window_main_create()
{
    Builder b{{}, gtk_tooltips_new(), gtk_accel_group_new()};

    GtkWidget *window = gtk_window_new(GTK_WINDOW_TOPLEVEL);
    gtk_widget_set_size_request(window, -1, 320);
    gtk_window_set_title(GTK_WINDOW(window), _("Ravelo playback client & IDX editor"));
    gtk_window_set_position(GTK_WINDOW(window), GTK_WIN_POS_CENTER);

    GtkWidget *vbox = b.registry.shown(gtk_vbox_new(FALSE, 0), "vbox_top_most");
    gtk_container_add(GTK_CONTAINER(window), vbox);
    build_menus(b, vbox);
    build_notebook(b, vbox);
    GtkWidget *statusbar = b.registry.shown(gtk_statusbar_new(), "statusbar_main");
    pack(vbox, statusbar, FALSE, FALSE, 0);
    gtk_widget_set_has_tooltip(statusbar, TRUE);

    connect_signals(b.registry);
    ui_register_plain(window, window, "window_main");
    b.registry.register_all(window);
    ui_register_plain(window, b.tooltips, "tooltips");

    gtk_window_add_accel_group(GTK_WINDOW(window), b.accel);
    return window;
}
