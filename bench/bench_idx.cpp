// How long the index list takes with a large IDX file: Open's fill of the
// list (with the real view, under X), Save, and a plain parse of the same
// text without any list, to show what the toolkit costs.
//
// Run under an X server: xvfb-run -a build/bench/bench_idx [records]
#include "app/app.h"
#include "document/tape_document.h"
#include "idx/idx_format.h"
#include "index/document_commands.h"
#include "index/idx_list.h"
#include "tape/tape_info.h"
#include "ui/registry.h"

#include <glib/gstdio.h>
#include <gtk/gtk.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>
#include <unistd.h>
#include <vector>

namespace
{

GtkTreeView *index_view()
{
    return GTK_TREE_VIEW(lookup_widget(ui_window_main(), "treeview_indexes"));
}

int rounds = 5;

double now_ms()
{
    return double(g_get_monotonic_time()) / 1000.0;
}

// Runs every pending event and idle source (redraws, the view's row
// validation) until the main loop has nothing left to do.
void drain_main_loop()
{
    while (gtk_events_pending())
        gtk_main_iteration_do(FALSE);
}

// Set by the view's expose handler: the list has been drawn.
bool painted = false;

gboolean note_paint(GtkWidget *, GdkEventExpose *, gpointer)
{
    painted = true;
    return FALSE;
}

// Fills the list and waits until the view has drawn it and has nothing left
// to do (sizing its columns included): what the user sees, and when the
// window answers again.
void fill_until_painted()
{
    painted = false;
    document_fill_list();
    const double give_up = now_ms() + 10000;
    while (!painted && now_ms() < give_up)
        gtk_main_iteration_do(FALSE);
    drain_main_loop();
}

struct Figure {
    double best;
    double median;
};

// Times `step` over several rounds, `prepare` running untimed before each.
Figure measure(const std::function<void()> &prepare, const std::function<void()> &step)
{
    std::vector<double> times;
    for (int i = 0; i < rounds; ++i) {
        prepare();
        const double start = now_ms();
        step();
        times.push_back(now_ms() - start);
    }
    std::sort(times.begin(), times.end());
    return {times.front(), times[times.size() / 2]};
}

void print(const char *what, const Figure &figure)
{
    std::printf("  %-46s best %8.1f ms   median %8.1f ms\n", what, figure.best, figure.median);
}

std::string idx_text(int records)
{
    std::string text = "0x14\t\tTape start\r\n";
    char line[96];
    for (int i = 1; i < records; ++i) {
        std::snprintf(line, sizeof line, "0x%x\t%sGame number %d, part %d\r\n", 20 + i * 1234,
                      20 + i * 1234 <= 0xFFFFF ? "\t" : "", i / 4, i % 4 + 1);
        text += line;
    }
    return text;
}

} // namespace

int main(int argc, char **argv)
{
    const int records = argc > 1 ? std::max(1, std::atoi(argv[1])) : 100000;

    // A private folder for the configuration and the files, as the tests do.
    gchar *dir = g_dir_make_tmp("ravelo-bench-XXXXXX", nullptr);
    if (dir == nullptr || chdir(dir) != 0) {
        std::fprintf(stderr, "bench_idx: no temporary folder\n");
        return 1;
    }
    setenv("HOME", dir, 1);
    setenv("XDG_CONFIG_HOME", dir, 1);
    const std::string folder = dir;
    g_free(dir);
    if (g_getenv("DISPLAY") == nullptr) {
        std::fprintf(stderr, "bench_idx: needs an X server (run it under xvfb-run -a)\n");
        return 1;
    }

    // The client's start-up reads only its own arguments: this program's
    // would be a second tape to it.
    int client_argc = 1;
    char *client_args[] = {argv[0], nullptr};
    char **client_argv = client_args;
    app_startup(&client_argc, &client_argv);
    drain_main_loop();

    const std::string text = idx_text(records);
    const std::string tap = folder + "/bench.tap";
    const std::string idx = folder + "/bench.idx";
    std::string header(tape_header_size, '\0');
    tape_write_header(header, 1);
    g_file_set_contents(tap.c_str(), header.data(), gssize(header.size()), nullptr);
    g_file_set_contents(idx.c_str(), text.data(), gssize(text.size()), nullptr);
    document_attach(tap.c_str());

    std::printf("IDX benchmark: %d records, %.1f MiB of text, %d rounds each (3 sorted by Info)\n",
                records, double(text.size()) / (1024.0 * 1024.0), rounds);

    std::string work;
    size_t parsed = 0;
    const Figure parse =
        measure([&] { work = text; },
                [&] {
                    parsed = 0;
                    idx_parse_text(work.data(), [&](gint32, const char *) { ++parsed; });
                });
    std::vector<IdxRecord> plain;
    const Figure parse_store = measure(
        [&] {
            work = text;
            plain.clear();
            plain.shrink_to_fit();
        },
        [&] {
            idx_parse_text(work.data(), [&](gint32 offset, const char *info) {
                plain.push_back({offset, info});
            });
        });

    g_signal_connect_after(index_view(), "expose-event", G_CALLBACK(note_paint), nullptr);
    const auto empty_list = [] {
        idx_list_clear();
        drain_main_loop();
    };
    // Open's step on an empty list: the call itself, and until the list is
    // on screen with its columns sized.
    const Figure fill = measure(empty_list, [] { document_fill_list(); });
    const Figure fill_shown = measure(empty_list, fill_until_painted);
    // Open again while the list is full: clearing 100,000 rows included.
    const Figure refill = measure(drain_main_loop, fill_until_painted);
    drain_main_loop();
    const size_t rows = tape_document_records().size();

    const Figure save =
        measure([] {}, [&] { document_save_idx(idx.c_str(), tape_document_records()); });

    // The same list sorted by description (locale collation) instead.
    gtk_tree_sortable_set_sort_column_id(GTK_TREE_SORTABLE(gtk_tree_view_get_model(index_view())),
                                         idx_column_info, GTK_SORT_ASCENDING);
    drain_main_loop();
    rounds = 3;
    const Figure fill_by_info = measure(empty_list, fill_until_painted);
    gtk_tree_sortable_set_sort_column_id(GTK_TREE_SORTABLE(gtk_tree_view_get_model(index_view())),
                                         idx_column_offset, GTK_SORT_ASCENDING);

    gchar *saved = nullptr;
    gsize saved_length = 0;
    const bool same = g_file_get_contents(idx.c_str(), &saved, &saved_length, nullptr) &&
                      std::string(saved, saved_length) == text;
    g_free(saved);

    std::printf("  records parsed %zu, rows in the list %zu, saved file identical: %s\n", parsed,
                rows, same ? "yes" : "NO");
    print("plain parse (count records)", parse);
    print("plain parse into a vector of records", parse_store);
    print("fill the list (document_fill_list call)", fill);
    print("fill until on screen, columns sized", fill_shown);
    print("refill a full list until on screen", refill);
    print("fill sorted by Info until on screen", fill_by_info);
    print("save (rows + format + write + fsync + rename)", save);
    std::printf("  ratios to the plain parse into records (medians): fill call %.0f, "
                "on screen %.0f, save %.0f\n",
                fill.median / parse_store.median, fill_shown.median / parse_store.median,
                save.median / parse_store.median);
    std::printf("  targets: list on screen and usable < 500 ms: %s; save < 500 ms: %s\n",
                fill_shown.median < 500 ? "met" : "MISSED", save.median < 500 ? "met" : "MISSED");

    std::remove(tap.c_str());
    std::remove(idx.c_str());
    std::remove((folder + "/ravelo-client/user.ini").c_str());
    g_rmdir((folder + "/ravelo-client").c_str());
    g_rmdir(folder.c_str());
    return same && rows == size_t(records) ? 0 : 1;
}
