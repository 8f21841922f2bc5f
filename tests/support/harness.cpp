#include "support/harness.h"

#include "app/app.h"
#include "config/config.h"
#include "document/tape_document.h"
#include "index/document_commands.h"
#include "ui/registry.h"

#include <fstream>
#include <sstream>
#include <sys/wait.h>
#include <unistd.h>

namespace
{
std::string private_dir;
}

std::string test_owned(gchar *text)
{
    std::string result = text != nullptr ? text : "";
    g_free(text);
    return result;
}

std::string test_label_texts(GtkWidget *widget)
{
    std::string texts = GTK_IS_LABEL(widget) ? gtk_label_get_text(GTK_LABEL(widget)) : "";
    if (GTK_IS_CONTAINER(widget))
        gtk_container_forall(
            GTK_CONTAINER(widget),
            [](GtkWidget *child, gpointer all) {
                *static_cast<std::string *>(all) += test_label_texts(child);
            },
            &texts);
    return texts;
}

bool test_enter_private_dir()
{
    private_dir = test_owned(g_dir_make_tmp("ravelo-test-XXXXXX", nullptr));
    const std::string config = private_dir + "/config";
    if (private_dir.empty() || !fs::create_directory(config) || chdir(private_dir.c_str()) != 0)
        return false;
    setenv("HOME", private_dir.c_str(), 1);
    setenv("XDG_CONFIG_HOME", config.c_str(), 1);
    return true;
}

const std::string &test_dir()
{
    return private_dir;
}

std::string test_path(const std::string &name)
{
    return private_dir + "/" + name;
}

size_t test_open_descriptors()
{
    const fs::directory_iterator fds("/proc/self/fd");
    return size_t(std::distance(begin(fds), end(fds)));
}

void test_app_start(std::vector<const char *> args)
{
    if (ui_window_main() != nullptr)
        return;
    args.insert(args.begin(), "ravelo-client");
    args.push_back(nullptr);
    int argc = int(args.size()) - 1;
    char **argv = const_cast<char **>(args.data());
    app_startup(&argc, &argv);
    test_spin_until([] { return false; }, 50);
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

std::string test_read_file(const std::string &path)
{
    std::ostringstream content;
    content << std::ifstream(path, std::ios::binary).rdbuf();
    return content.str();
}

int test_run(const std::string &command)
{
    const int status = std::system((command + " >out 2>err").c_str());
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

void test_write_file(const std::string &path, const std::string &content)
{
    std::ofstream(path, std::ios::binary | std::ios::trunc) << content;
}

std::string test_status_text()
{
    GtkWidget *area = gtk_statusbar_get_message_area(GTK_STATUSBAR(test_widget("statusbar_main")));
    GList *children = gtk_container_get_children(GTK_CONTAINER(area));
    std::string text = gtk_label_get_text(GTK_LABEL(children->data));
    g_list_free(children);
    return text;
}

bool test_status_is(const std::string &text, int timeout_ms)
{
    return test_spin_until([&] { return test_status_text() == text; }, timeout_ms);
}

std::string test_log_text()
{
    GtkTextBuffer *buffer = gtk_text_view_get_buffer(GTK_TEXT_VIEW(test_widget("textview_log")));
    GtkTextIter start, end;
    gtk_text_buffer_get_bounds(buffer, &start, &end);
    return test_owned(gtk_text_buffer_get_text(buffer, &start, &end, TRUE));
}

std::string test_log_after(const std::string &before)
{
    const std::string now = test_log_text();
    return now.substr(std::min(before.size(), now.size()));
}

GtkWidget *test_widget(const char *name)
{
    auto *widget = static_cast<GtkWidget *>(g_object_get_data(G_OBJECT(ui_window_main()), name));
    EXPECT_NE(widget, nullptr) << "no widget " << name;
    return widget;
}

GtkTreeView *test_index_view()
{
    return GTK_TREE_VIEW(test_widget("treeview_indexes"));
}

bool test_sensitive(const char *name)
{
    return gtk_widget_get_sensitive(test_widget(name));
}

bool test_controls_are(bool idle)
{
    bool as_said = true;
    for (const char *name :
         {"menuitem_open", "menuitem_configuration", "menuitem_reset_into_bootloader",
          "menuitem_update_from_file", "treeview_indexes", "button_index_add",
          "button_index_remove", "button_index_reload", "button_index_save", "button_play"})
        as_said = as_said && test_sensitive(name) == idle;
    for (const char *name : {"button_pause", "button_stop", "button_previous", "button_next"})
        as_said = as_said && test_sensitive(name) != idle;
    return as_said;
}

void test_set_ports(const char *device, const char *bootloader)
{
    test_app_start();
    config_set_ports(device, bootloader);
}

void test_click(const char *button)
{
    gtk_button_clicked(GTK_BUTTON(test_widget(button)));
}

void test_select_row(int index)
{
    GtkTreePath *row = gtk_tree_path_new_from_indices(index, -1);
    gtk_tree_view_set_cursor(GTK_TREE_VIEW(test_widget("treeview_indexes")), row, nullptr, FALSE);
    gtk_tree_path_free(row);
}

std::pair<long, std::string> test_selected()
{
    GtkTreeModel *model = nullptr;
    GtkTreeIter iter;
    gint offset = -1;
    gchar *info = nullptr;
    if (gtk_tree_selection_get_selected(
            gtk_tree_view_get_selection(GTK_TREE_VIEW(test_widget("treeview_indexes"))), &model,
            &iter))
        gtk_tree_model_get(model, &iter, 0, &offset, 1, &info, -1);
    return {offset, test_owned(info)};
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
        event->key.hardware_keycode = count > 0 ? keys[0].keycode : 0;
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

// The chooser runs its own loop inside the key's handler; a time-out source
// answers it once it is shown. It loads a folder in the background: the loop
// is spun (nested in the chooser's) until it shows the file, or a folder,
// asked for.
ChooserSeen test_open_tap(const std::string &path, Answer answer)
{
    return test_choose([] { test_send_key(ui_window_main(), GDK_o, GDK_CONTROL_MASK); }, path,
                       answer);
}

ChooserSeen test_choose(const std::function<void()> &open, const std::string &path, Answer answer)
{
    test_app_start();
    ChooserSeen seen;
    std::function<void(GtkFileChooser *)> act = [&seen, answer, path](GtkFileChooser *chooser) {
        seen.title = gtk_window_get_title(GTK_WINDOW(chooser));
        if (gtk_file_chooser_get_action(chooser) == GTK_FILE_CHOOSER_ACTION_SAVE)
            test_spin_until([&] {
                seen.proposed = test_owned(gtk_file_chooser_get_filename(chooser));
                return !seen.proposed.empty();
            });
        if (GtkFileFilter *filter = gtk_file_chooser_get_filter(chooser))
            seen.filter = gtk_file_filter_get_name(filter);
        GSList *filters = gtk_file_chooser_list_filters(chooser);
        for (GSList *l = filters; l != nullptr; l = l->next) {
            std::string shown =
                gtk_file_filter_get_name(GTK_FILE_FILTER(l->data)) + std::string(":");
            for (const char *name :
                 {"a.TAP", "b.tap", "c.Prg", "d.P00", "e.t64", "f.D64", "g.txt"}) {
                const GtkFileFilterInfo info{GTK_FILE_FILTER_DISPLAY_NAME, nullptr, nullptr, name,
                                             nullptr};
                if (gtk_file_filter_filter(GTK_FILE_FILTER(l->data), &info))
                    shown += std::string(" ") + name;
            }
            seen.filters.push_back(shown);
        }
        if (answer == Answer::open_all_files)
            gtk_file_chooser_set_filter(chooser, GTK_FILE_FILTER(g_slist_last(filters)->data));
        g_slist_free(filters);
        if (answer == Answer::cancel || answer == Answer::close) {
            test_spin_until([&] {
                seen.folder = test_owned(gtk_file_chooser_get_current_folder(chooser));
                return !seen.folder.empty();
            });
            answer == Answer::cancel
                ? gtk_button_clicked(GTK_BUTTON(g_object_get_data(G_OBJECT(chooser), "button1")))
                : test_send_delete(GTK_WIDGET(chooser));
            return;
        }
        // A save chooser takes a file that is not there yet only as a name.
        if (gtk_file_chooser_get_action(chooser) == GTK_FILE_CHOOSER_ACTION_SAVE)
            gtk_file_chooser_set_current_name(chooser, fs::path(path).filename().c_str());
        else
            gtk_file_chooser_set_filename(chooser, path.c_str());
        const bool chosen = test_spin_until(
            [=] { return test_owned(gtk_file_chooser_get_filename(chooser)) == path; }, 10000);
        gtk_dialog_response(GTK_DIALOG(chooser), chosen ? GTK_RESPONSE_OK : GTK_RESPONSE_NONE);
    };
    const guint source = g_timeout_add(
        20,
        [](gpointer act) -> gboolean {
            GList *all = gtk_window_list_toplevels();
            GtkFileChooser *shown = nullptr;
            for (GList *l = all; l != nullptr; l = l->next)
                if (GTK_IS_FILE_CHOOSER_DIALOG(l->data) &&
                    gtk_widget_get_mapped(GTK_WIDGET(l->data)))
                    shown = GTK_FILE_CHOOSER(l->data);
            g_list_free(all);
            if (shown != nullptr)
                (*static_cast<std::function<void(GtkFileChooser *)> *>(act))(shown);
            return shown == nullptr;
        },
        &act);
    open();
    if (seen.title.empty()) {
        ADD_FAILURE() << "no chooser came up";
        g_source_remove(source);
    }
    return seen;
}

std::string test_answering(int response, const std::function<void()> &act)
{
    std::pair<int, std::string> answer{response, ""};
    const auto answer_shown = [](gpointer data) -> gboolean {
        auto &[response, seen] = *static_cast<std::pair<int, std::string> *>(data);
        GList *all = gtk_window_list_toplevels();
        for (GList *l = all; l != nullptr; l = l->next) {
            if (!GTK_IS_MESSAGE_DIALOG(l->data) || !gtk_widget_get_mapped(GTK_WIDGET(l->data)))
                continue;
            GtkDialog *dialog = GTK_DIALOG(l->data);
            gchar *text = nullptr;
            g_object_get(dialog, "text", &text, nullptr);
            seen += test_owned(text) + " [";
            GList *buttons =
                gtk_container_get_children(GTK_CONTAINER(gtk_dialog_get_action_area(dialog)));
            for (GList *b = buttons; b != nullptr; b = b->next)
                seen += std::string(gtk_button_get_label(GTK_BUTTON(b->data))) +
                        (gtk_widget_has_default(GTK_WIDGET(b->data)) ? "*|" : "|");
            g_list_free(buttons);
            const bool transient =
                gtk_window_get_transient_for(GTK_WINDOW(dialog)) == GTK_WINDOW(ui_window_main());
            seen += transient ? "] transient\n" : "]\n";
            gtk_button_clicked(GTK_BUTTON(gtk_dialog_get_widget_for_response(dialog, response)));
        }
        g_list_free(all);
        return TRUE;
    };
    const guint source = g_timeout_add(20, answer_shown, &answer);
    act();
    g_source_remove(source);
    return answer.second;
}

void test_attach(const std::string &tap, const std::string &idx, const std::string &name)
{
    const std::string path = test_path(name);
    test_write_file(path, tap);
    if (!idx.empty())
        test_write_file(test_path(name.substr(0, name.rfind('.')) + ".idx"), idx);
    test_open_tap(path);
    EXPECT_TRUE(tape_document_path() != nullptr && path == tape_document_path());
}
