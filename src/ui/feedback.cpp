#include "ui/feedback.h"

#include "base/glib_ptr.h"
#include "base/i18n.h"
#include "ui/registry.h"

#include <array>
#include <cerrno>
#include <string>

namespace
{
constexpr char tool_tag[] = "tool";
// Where the log ends; what follows new output scrolls to it.
constexpr char end_mark[] = "ravelo-end";
void log_insert(const gchar *text, const char *tag)
{
    GtkTextView *view = GTK_TEXT_VIEW(lookup_widget(ui_window_main(), "textview_log"));
    GtkTextBuffer *buffer = gtk_text_view_get_buffer(view);
    GtkAdjustment *scroll = gtk_scrolled_window_get_vadjustment(
        GTK_SCROLLED_WINDOW(lookup_widget(ui_window_main(), "scrolledwindow_log")));
    // A pixel of slack: the adjustment's value need not be whole.
    const bool at_end = gtk_adjustment_get_value(scroll) + gtk_adjustment_get_page_size(scroll) >=
                        gtk_adjustment_get_upper(scroll) - 1;
    GtkTextIter end;
    gtk_text_buffer_get_end_iter(buffer, &end);
    if (tag != nullptr &&
        gtk_text_tag_table_lookup(gtk_text_buffer_get_tag_table(buffer), tag) == nullptr)
        gtk_text_buffer_create_tag(buffer, tag, "family", "monospace", nullptr);
    gtk_text_buffer_insert_with_tags_by_name(buffer, &end, text, -1, tag, nullptr);
    GtkTextMark *mark = gtk_text_buffer_get_mark(buffer, end_mark);
    gtk_text_buffer_get_end_iter(buffer, &end);
    if (mark == nullptr)
        mark = gtk_text_buffer_create_mark(buffer, end_mark, &end, FALSE);
    if (at_end)
        gtk_text_view_scroll_mark_onscreen(view, mark);
}
} // namespace

void log_append(const gchar *text)
{
    log_insert(text, nullptr);
}

namespace
{
// Shows `text`; returns it without its leading blanks.
std::string show(const gchar *text)
{
    GtkStatusbar *bar = GTK_STATUSBAR(lookup_widget(ui_window_main(), "statusbar_main"));
    gtk_statusbar_pop(bar, 0);
    gtk_statusbar_push(bar, 0, text);
    std::string line(text);
    line.erase(0, line.find_first_not_of(' '));
    return line;
}
} // namespace

void status_show(const gchar *text, const gchar *log_detail)
{
    std::string line = show(text);
    if (line.empty())
        return;
    if (log_detail != nullptr)
        line.append(" – ").append(log_detail);
    log_append((line + "\n").c_str());
}

gboolean status_on_query_tooltip(GtkWidget *bar, gint, gint, gboolean, GtkTooltip *tooltip,
                                 gpointer)
{
    GList *labels = gtk_container_get_children(
        GTK_CONTAINER(gtk_statusbar_get_message_area(GTK_STATUSBAR(bar))));
    const gchar *text = labels != nullptr ? gtk_label_get_text(GTK_LABEL(labels->data)) : "";
    g_list_free(labels);
    std::string line(text);
    line.erase(0, line.find_first_not_of(' '));
    if (line.empty())
        return FALSE;
    gtk_tooltip_set_text(tooltip, line.c_str());
    return TRUE;
}

void status_show_unlogged(const gchar *text)
{
    (void)show(text);
}

void log_append_tool(const gchar *text)
{
    log_insert(text, tool_tag);
}

namespace
{
struct ControlRule {
    const char *name;
    bool sensitive_when_idle;
};

// The order is the order in which the arrangement is applied.
constexpr std::array<ControlRule, 18> control_rules{{
    {"menuitem_open", true},
    {"menuitem_save_tape_as", true},
    {"menuitem_index_from_tape", true},
    {"menuitem_configuration", true},
    {"menuitem_fast_load", true},
    {"menuitem_reset_into_bootloader", true},
    {"menuitem_update", true},
    {"menuitem_update_from_file", true},
    {"treeview_indexes", true},
    {"button_index_add", true},
    {"button_index_remove", true},
    {"button_index_reload", true},
    {"button_index_save", true},
    {"button_play", true},
    {"button_previous", false},
    {"button_next", false},
    {"button_pause", false},
    {"button_stop", false},
}};
// Set on a control's widget while it is not allowed.
constexpr char not_allowed_key[] = "ravelo-not-allowed";
} // namespace

void set_controls_state(int enabled)
{
    for (const ControlRule &rule : control_rules) {
        GtkWidget *control = lookup_widget(ui_window_main(), rule.name);
        const bool arranged = rule.sensitive_when_idle ? enabled != 0 : enabled == 0;
        const bool allowed = g_object_get_data(G_OBJECT(control), not_allowed_key) == nullptr;
        gtk_widget_set_sensitive(control, arranged && allowed);
    }
}

void set_control_allowed(const char *name, bool allowed)
{
    g_object_set_data(G_OBJECT(lookup_widget(ui_window_main(), name)), not_allowed_key,
                      allowed ? nullptr : GINT_TO_POINTER(1));
}

gchar *port_failure_text(const gchar *name, int error)
{
    const char *hint = nullptr;
    if (error == EACCES || error == EPERM)
        hint = _("add your user to the dialout group, then log in again");
    else if (error == EBUSY)
        hint = _("another program has the port open");
    else if (error == ENOENT || error == ENODEV || error == ENXIO)
        hint = _("is the device plugged in? see /dev/serial/by-id/");
    // A port name is whatever the configuration file held.
    GCharPtr shown(g_utf8_make_valid(name, -1));
    if (hint == nullptr)
        return g_strdup_printf(_("Cannot open port %s: %s\n"), shown.get(), g_strerror(error));
    return g_strdup_printf(_("Cannot open port %s: %s (%s)\n"), shown.get(), g_strerror(error),
                           hint);
}
