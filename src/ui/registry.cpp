#include "ui/registry.h"

namespace
{
GtkWidget *window_main = nullptr;
GtkWidget *window_connection_settings = nullptr;
} // namespace

GtkWidget *ui_window_main()
{
    return window_main;
}

GtkWidget *ui_window_connection_settings()
{
    return window_connection_settings;
}

void ui_set_window_main(GtkWidget *window)
{
    window_main = window;
}

void ui_set_window_connection_settings(GtkWidget *window)
{
    window_connection_settings = window;
}

void ui_register_widget(GtkWidget *window, GtkWidget *widget, const gchar *name)
{
    g_object_set_data_full(G_OBJECT(window), name, gtk_widget_ref(widget),
                           reinterpret_cast<GDestroyNotify>(gtk_widget_unref));
}

void ui_register_plain(GtkWidget *window, gpointer object, const gchar *name)
{
    g_object_set_data(G_OBJECT(window), name, object);
}

GtkWidget *lookup_widget(GtkWidget *widget, const gchar *name)
{
    for (;;) {
        GtkWidget *parent = GTK_IS_MENU(widget) ? gtk_menu_get_attach_widget(GTK_MENU(widget))
                                                : gtk_widget_get_parent(widget);
        if (parent == nullptr)
            break;
        widget = parent;
    }
    auto *found = static_cast<GtkWidget *>(g_object_get_data(G_OBJECT(widget), name));
    if (found == nullptr)
        g_log(nullptr, G_LOG_LEVEL_WARNING, "Widget not found: %s", name);
    return found;
}
