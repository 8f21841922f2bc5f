#include "maintenance/tool_run.h"

#include "ui/glib_ptr.h"

#include <glib.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>

namespace
{

// How long a tool that was asked to end gets before it is killed.
constexpr int tool_grace_ms = 1000;
// How often a running tool is looked at.
constexpr int tool_poll_ms = 20;

// Runs in the child between fork and exec: only async-signal-safe calls.
void tool_child_setup(gpointer)
{
    setpgid(0, 0);
}

// Waits until `pid` has ended, leaving it unreaped so that its process
// group id stays reserved for a kill. true once it has ended (or cannot be
// waited for at all), false when `deadline` (monotonic, µs) passed first.
bool tool_wait_end(GPid pid, gint64 deadline)
{
    for (;;) {
        siginfo_t info{};
        const int r = waitid(P_PID, id_t(pid), &info, WEXITED | WNOHANG | WNOWAIT);
        if (r == 0 && info.si_pid == pid)
            return true;
        if (r < 0 && errno != EINTR)
            return true;
        const gint64 left_ms = (deadline - g_get_monotonic_time()) / 1000;
        if (left_ms <= 0)
            return false;
        poll(nullptr, 0, int(std::min<gint64>(left_ms, tool_poll_ms)));
    }
}

// Reaps `pid`; true when it exited with status 0.
bool tool_reap(GPid pid)
{
    int status = 0;
    pid_t r;
    do
        r = waitpid(pid, &status, 0);
    while (r < 0 && errno == EINTR);
    return r == pid && WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

} // namespace

int device_tool_run(const char *command_line, int limit_ms)
{
    gchar **argv = nullptr;
    if (!g_shell_parse_argv(command_line, nullptr, &argv, nullptr))
        return 0;
    const auto flags = GSpawnFlags(G_SPAWN_SEARCH_PATH | G_SPAWN_DO_NOT_REAP_CHILD |
                                   G_SPAWN_STDOUT_TO_DEV_NULL | G_SPAWN_STDERR_TO_DEV_NULL);
    GPid pid = 0;
    GError *error = nullptr;
    const gboolean started =
        g_spawn_async(nullptr, argv, nullptr, flags, tool_child_setup, nullptr, &pid, &error);
    g_strfreev(argv);
    if (!started) {
        GErrorPtr owned(error);
        return 0;
    }
    // The child makes its own group too; whichever call comes first wins,
    // so the group exists before any kill below. The second one may fail
    // (the child has already exec'd) and need not succeed.
    setpgid(pid, pid);

    const gint64 deadline = g_get_monotonic_time() + gint64(std::max(limit_ms, 0)) * 1000;
    if (tool_wait_end(pid, deadline))
        return tool_reap(pid) ? 1 : 0;

    // Overdue: a tool stuck on a silent or vanished port never ends by
    // itself. End it and anything it started, then reap it.
    kill(-pid, SIGTERM);
    tool_wait_end(pid, g_get_monotonic_time() + gint64(tool_grace_ms) * 1000);
    kill(-pid, SIGKILL);
    tool_reap(pid);
    return 0;
}
