#include "app/quit.h"

#include "device/serial.h"
#include "index/document_commands.h"
#include "index/idx_list.h"
#include "maintenance/operation.h"
#include "player/player_controls.h"

#include <X11/Xproto.h>
#include <gdk/gdkx.h>
#include <glib-unix.h>

#include <csignal>

#include <unistd.h>

namespace
{
void quit()
{
    player_quit();
    maintenance_quit();
    serial_close();
    idx_list_clear();
    gtk_main_quit();
}

// Ends the process by the signal that asked for it, so that its exit status
// tells. The main loop may be a modal dialog's, which gtk_main_quit() would
// not end: only what would outlive the process is done first.
gboolean end_by_signal(gpointer data)
{
    const int number = GPOINTER_TO_INT(data);
    maintenance_quit();
    if (signal(number, SIG_DFL) != SIG_ERR)
        raise(number);
    // Reached only when the signal could not end the process.
    _exit(128 + number);
}

// The toolkit's own handler exits at once, leaving the tool and its folder
// behind.
int display_lost(Display *)
{
    maintenance_quit();
    _exit(1);
}

XErrorHandler toolkit_x_error = nullptr;
XErrorEvent last_forgiven{};

// The toolkit asks the server where the pointer is over its own windows and
// where they lie on the screen, and a window can be gone by the time the
// request arrives (seen after a file chooser closed). Such a query fails
// without harm: the toolkit reads the pointer as not over the window. Its own
// handler would end the program for it. The same query failing again on the
// same window straight after is a loop that waits for an answer, and ends as
// any other error does. Error traps put the toolkit's handler in place of
// this one, so what they catch is theirs alone.
int on_x_error(Display *display, XErrorEvent *error)
{
    const bool query =
        error->request_code == X_QueryPointer || error->request_code == X_TranslateCoords;
    const bool again = error->request_code == last_forgiven.request_code &&
                       error->resourceid == last_forgiven.resourceid &&
                       error->serial == last_forgiven.serial + 1;
    if (error->error_code == BadWindow && query && !again) {
        last_forgiven = *error;
        return 0;
    }
    return toolkit_x_error(display, error);
}
} // namespace

void app_on_quit(GtkMenuItem *, gpointer)
{
    if (document_may_discard())
        quit();
}

gboolean app_on_main_delete(GtkWidget *, GdkEvent *, gpointer)
{
    // Kept open unless the list may go; otherwise "destroy" quits.
    return !document_may_discard();
}

void app_on_main_destroy(GtkWidget *, gpointer)
{
    quit();
}

void app_handle_endings()
{
    for (const int number : {SIGTERM, SIGHUP, SIGINT})
        g_unix_signal_add(number, end_by_signal, GINT_TO_POINTER(number));
    XSetIOErrorHandler(display_lost);
    toolkit_x_error = XSetErrorHandler(on_x_error);
}
