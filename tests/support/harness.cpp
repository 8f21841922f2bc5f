#include "support/harness.h"

#include "app/app.h"
#include "ui/registry.h"
#include "ui/registry.h"

#include <gtest/gtest.h>

#include <fstream>
#include <set>
#include <sstream>

void test_app_start()
{
    static bool started = false;
    if (started)
        return;
    started = true;
    static char program[] = "ravelo-client";
    static char *args[] = {program, nullptr};
    int argc = 1;
    char **argv = args;
    app_startup(&argc, &argv);
    test_spin_for(50);
}

bool test_spin_until(const std::function<bool()> &done, int timeout_ms)
{
    const gint64 deadline = g_get_monotonic_time() + gint64(timeout_ms) * 1000;
    while (!done()) {
        if (g_get_monotonic_time() >= deadline)
            return done();
        // Never block inside the loop: a worker's idle callback or a
        // time-out source must not be waited for past the deadline.
        if (!g_main_context_iteration(nullptr, FALSE))
            g_usleep(1000);
    }
    return true;
}

void test_spin_for(int ms)
{
    test_spin_until([] { return false; }, ms);
}

std::string test_path(const std::string &name)
{
    return test_dir() + "/" + name;
}

std::string test_status_text()
{
    GtkWidget *bar = test_widget("statusbar_main");
    GtkWidget *area = gtk_statusbar_get_message_area(GTK_STATUSBAR(bar));
    GList *children = gtk_container_get_children(GTK_CONTAINER(area));
    std::string text;
    for (GList *l = children; l != nullptr; l = l->next)
        if (GTK_IS_LABEL(l->data))
            text = gtk_label_get_text(GTK_LABEL(l->data));
    g_list_free(children);
    return text;
}

std::string test_log_text()
{
    GtkTextBuffer *buffer = gtk_text_view_get_buffer(GTK_TEXT_VIEW(test_widget("textview_log")));
    GtkTextIter start, end;
    gtk_text_buffer_get_bounds(buffer, &start, &end);
    gchar *text = gtk_text_buffer_get_text(buffer, &start, &end, TRUE);
    std::string result = text;
    g_free(text);
    return result;
}

GtkWidget *test_widget(const char *name)
{
    auto *widget = static_cast<GtkWidget *>(g_object_get_data(G_OBJECT(window_main), name));
    EXPECT_NE(widget, nullptr) << "no widget " << name;
    return widget;
}

bool test_sensitive(const char *name)
{
    return gtk_widget_get_sensitive(test_widget(name));
}

namespace
{
struct WindowWaiter {
    GType type;
    std::function<void(GtkWidget *)> act;
    std::set<GtkWidget *> before;
};

std::set<GtkWidget *> visible_toplevels(GType type)
{
    std::set<GtkWidget *> found;
    GList *all = gtk_window_list_toplevels();
    for (GList *l = all; l != nullptr; l = l->next) {
        auto *w = static_cast<GtkWidget *>(l->data);
        if (G_TYPE_CHECK_INSTANCE_TYPE(w, type) && gtk_widget_get_visible(w))
            found.insert(w);
    }
    g_list_free(all);
    return found;
}

gboolean check_windows(gpointer data)
{
    auto *waiter = static_cast<WindowWaiter *>(data);
    for (GtkWidget *w : visible_toplevels(waiter->type)) {
        if (waiter->before.count(w) == 0 && gtk_widget_get_mapped(w)) {
            waiter->act(w);
            delete waiter;
            return FALSE;
        }
    }
    return TRUE;
}
} // namespace

void test_answer_window(GType type, std::function<void(GtkWidget *)> act)
{
    auto *waiter = new WindowWaiter{type, std::move(act), visible_toplevels(type)};
    g_timeout_add(20, check_windows, waiter);
}

void test_send_key(GtkWidget *window, guint keyval, guint modifiers)
{
    GdkKeymapKey *keys = nullptr;
    gint count = 0;
    gdk_keymap_get_entries_for_keyval(gdk_keymap_get_default(), keyval, &keys, &count);
    for (GdkEventType type : {GDK_KEY_PRESS, GDK_KEY_RELEASE}) {
        GdkEvent *event = gdk_event_new(type);
        event->key.window = GDK_WINDOW(g_object_ref(gtk_widget_get_window(window)));
        event->key.send_event = TRUE;
        event->key.time = GDK_CURRENT_TIME;
        event->key.state = modifiers;
        event->key.keyval = keyval;
        if (count > 0)
            event->key.hardware_keycode = keys[0].keycode;
        gtk_main_do_event(event);
        gdk_event_free(event);
    }
    g_free(keys);
}

void test_send_delete(GtkWidget *window)
{
    GdkEvent *event = gdk_event_new(GDK_DELETE);
    event->any.window = GDK_WINDOW(g_object_ref(gtk_widget_get_window(window)));
    event->any.send_event = TRUE;
    gtk_main_do_event(event);
    gdk_event_free(event);
}

std::string test_read_file(const std::string &path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream content;
    content << in.rdbuf();
    return content.str();
}

void test_write_file(const std::string &path, const std::string &content)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << content;
}

LogCapture::LogCapture()
    : id_(g_log_set_handler(nullptr, GLogLevelFlags(G_LOG_LEVEL_WARNING), handler, this))
{
}

LogCapture::~LogCapture()
{
    g_log_remove_handler(nullptr, id_);
}

void LogCapture::handler(const gchar *, GLogLevelFlags, const gchar *message, gpointer self)
{
    static_cast<LogCapture *>(self)->warnings_.emplace_back(message);
}
