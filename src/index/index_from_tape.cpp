#include "index/index_from_tape.h"

#include "index/index_list.h"
#include "index/tape_document.h"
#include "tape/tape_scan.h"
#include "ui/feedback.h"
#include "base/glib_ptr.h"
#include "base/i18n.h"
#include "ui/worker.h"

#include <gdk/gdk.h>

#include <memory>
#include <set>
#include <vector>

namespace
{
struct Scan {
    // A reference to the bytes scanned: while the scan holds it, no other
    // tape can be held at the same address.
    GBytes *tape;
    std::vector<TapeProgram> programs;
};

bool scanning = false;

gboolean scan_done(gpointer data)
{
    const std::unique_ptr<Scan> scan(static_cast<Scan *>(data));
    scanning = false;
    GBytes *held = tape_document_bytes_ref();
    // A result for a tape that has been replaced since is dropped.
    const bool current = held == scan->tape;
    if (held != nullptr)
        g_bytes_unref(held);
    g_bytes_unref(scan->tape);
    if (!current)
        return FALSE;
    if (scan->programs.empty()) {
        status_show(_(" No programs found on the tape"));
        return FALSE;
    }
    std::set<gint32> present;
    for (const IdxRecord &row : idx_list_rows())
        present.insert(row.offset);
    std::vector<IdxRecord> added;
    for (const TapeProgram &program : scan->programs) {
        const auto offset = gint32(program.offset);
        if (present.insert(offset).second)
            added.push_back({offset, program.name});
    }
    idx_list_insert(added);
    const GCharPtr text(g_strdup_printf(_(" Found %d programs on the tape, %d added to the list"),
                                        int(scan->programs.size()), int(added.size())));
    status_show(text.get());
    return FALSE;
}

gpointer scan_worker(gpointer data)
{
    auto *scan = static_cast<Scan *>(data);
    gsize size = 0;
    const auto *bytes = static_cast<const unsigned char *>(g_bytes_get_data(scan->tape, &size));
    scan->programs = tape_scan(bytes, size);
    gdk_threads_add_idle(scan_done, scan);
    return nullptr;
}
} // namespace

void idx_on_index_from_tape(GtkMenuItem *, gpointer)
{
    if (!tape_document_attached() || scanning)
        return;
    GBytes *tape = tape_document_bytes_ref();
    if (tape == nullptr) {
        status_show(_(" No programs found on the tape"));
        return;
    }
    auto *scan = new Scan{tape, {}};
    if (!ui_start_thread("scan", scan_worker, scan)) {
        g_bytes_unref(tape);
        delete scan;
        return;
    }
    scanning = true;
}
