#include "ui/worker.h"

#include "ui/feedback.h"
#include "ui/glib_ptr.h"
#include "ui/i18n.h"

void log_operation(const gchar *heading)
{
    log_append(_("================================\n"));
    log_append(heading);
}

bool ui_start_worker(const char *name, GThreadFunc body)
{
    GError *error = nullptr;
    GThread *thread = g_thread_try_new(name, body, nullptr, &error);
    if (thread == nullptr) {
        GErrorPtr owned(error);
        GCharPtr text(g_strdup_printf(_(" %s"), owned ? owned->message : ""));
        status_show(text.get());
        return false;
    }
    g_thread_unref(thread);
    return true;
}
