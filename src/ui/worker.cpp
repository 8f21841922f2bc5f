#include "ui/worker.h"

#include "base/glib_ptr.h"
#include "base/i18n.h"
#include "ui/feedback.h"

namespace
{
bool worker_active = false;
} // namespace

void ui_log_operation(const gchar *heading)
{
    log_append(_("================================\n"));
    log_append(heading);
}

bool ui_worker_active()
{
    return worker_active;
}

bool ui_start_thread(const char *name, GThreadFunc body, gpointer data)
{
    GError *error = nullptr;
    GThread *thread = g_thread_try_new(name, body, data, &error);
    if (thread == nullptr) {
        GErrorPtr owned(error);
        GCharPtr text(g_strdup_printf(_(" %s"), owned ? owned->message : ""));
        status_show(text.get());
        return false;
    }
    g_thread_unref(thread);
    return true;
}

bool ui_start_worker(const char *name, GThreadFunc body, gpointer data)
{
    worker_active = ui_start_thread(name, body, data);
    return worker_active;
}

void ui_worker_done()
{
    worker_active = false;
}
