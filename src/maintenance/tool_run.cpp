#include "maintenance/tool_run.h"

#include "base/fd.h"

#include "base/glib_ptr.h"

#include <glib-unix.h>
#include <glib.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <string>

#include <fcntl.h>
#include <poll.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

namespace
{

// How long a tool that was asked to end gets before it is killed.
constexpr int tool_grace_ms = 1000;
// How often a running tool is looked at.
constexpr int tool_poll_ms = 20;
// Reads of the output per look at the pipe, so that a writer that never
// stops (a process the tool left behind, after it has ended) cannot hold
// the runner.
constexpr int tool_reads_per_look = 64;

// The running tool's process group (0: none) and whether the program is
// ending. A tool is started, and its group ended by an abort, only under the
// lock; the runner reaps it only after it has cleared `running` under the
// lock, so no group id is signalled after it may have been reused.
GMutex tool_lock;
GPid running = 0;
bool aborted = false;

// Runs in the child between fork and exec: only async-signal-safe calls.
// The kernel kills the tool when its parent dies, even by SIGKILL. It does
// so when the thread that forked it ends, not the process: that thread is
// the one waiting for the tool in maintenance_tool_run(), so it outlives it. A
// parent that died before the request took effect is caught by getppid().
void tool_child_setup(gpointer parent)
{
    setpgid(0, 0);
    if (prctl(PR_SET_PDEATHSIG, SIGKILL) != 0 || getppid() != GPOINTER_TO_INT(parent))
        _exit(127);
}

// Waits until `pid` has ended, leaving it unreaped so that its process
// group id stays reserved for a kill. true once it has ended (or cannot be
// waited for at all), false when `deadline` (monotonic, µs) passed first.
bool tool_wait_end(GPid pid, gint64 deadline)
{
    for (;;) {
        siginfo_t info{};
        const int r = fd_retry(
            [pid, &info] { return waitid(P_PID, id_t(pid), &info, WEXITED | WNOHANG | WNOWAIT); });
        if (r < 0 || info.si_pid == pid)
            return true;
        const gint64 left_ms = (deadline - g_get_monotonic_time()) / 1000;
        if (left_ms <= 0)
            return false;
        poll(nullptr, 0, int(std::min<gint64>(left_ms, tool_poll_ms)));
    }
}

// Ends the unreaped `pid` and anything it started.
void tool_end_group(GPid pid)
{
    kill(-pid, SIGTERM);
    tool_wait_end(pid, g_get_monotonic_time() + gint64(tool_grace_ms) * 1000);
    kill(-pid, SIGKILL);
}

// Reaps `pid`; true when it exited with status 0.
bool tool_reap(GPid pid)
{
    int status = 0;
    const pid_t r = fd_retry([pid, &status] { return waitpid(pid, &status, 0); });
    return r == pid && WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

// The output as it comes, cut into condensed lines.
struct ToolOutput {
    ToolLineFunc on_line;
    void *data;
    ToolLineFunc on_unfinished;
    std::string line;
    std::size_t hashes = 0; // '#' at the end of `line`
    bool redraw = false;    // a carriage return came: what follows replaces `line`
};

void output_pass(const ToolOutput &out, ToolLineFunc to)
{
    const bool blank = out.line.find_first_not_of(" \t\f\v") == std::string::npos;
    if (!blank && to != nullptr) {
        GCharPtr text(g_utf8_make_valid(out.line.data(), gssize(out.line.size())));
        to(text.get(), out.data);
    }
}

void output_emit(ToolOutput &out)
{
    output_pass(out, out.on_line);
    out.line.clear();
    out.hashes = 0;
    out.redraw = false;
}

void output_take(ToolOutput &out, const char *bytes, std::size_t count)
{
    for (std::size_t i = 0; i < count; ++i) {
        const char c = bytes[i];
        if (c == '\n') {
            output_emit(out);
            continue;
        }
        if (c == '\r') {
            out.redraw = true;
            continue;
        }
        if (out.redraw) {
            out.line.clear();
            out.hashes = 0;
            out.redraw = false;
        }
        if (c == '#') {
            if (out.hashes == tool_hash_run)
                continue;
            ++out.hashes;
        } else {
            out.hashes = 0;
        }
        out.line += c;
        if (out.line.size() >= tool_line_max)
            output_emit(out);
    }
}

// Reads what the pipe holds now, at most `reads` times. false once every
// writer has closed it (or it failed): nothing more will come.
bool output_read(int fd, ToolOutput &out, int reads)
{
    char buffer[4096];
    bool took = false;
    bool open = true;
    for (int i = 0; i < reads; ++i) {
        const ssize_t count = fd_retry([&] { return read(fd, buffer, sizeof buffer); });
        if (count > 0) {
            output_take(out, buffer, std::size_t(count));
            took = true;
            continue;
        }
        open = count < 0 && (errno == EAGAIN || errno == EWOULDBLOCK);
        break;
    }
    if (took)
        output_pass(out, out.on_unfinished);
    return open;
}

// Starts the tool with its output on `out_fd`, unless the program is ending.
// The tool's pid, or 0.
GPid tool_start(const char *const *argv, const char *dir, int out_fd)
{
    const auto flags =
        GSpawnFlags(G_SPAWN_SEARCH_PATH | G_SPAWN_DO_NOT_REAP_CHILD | G_SPAWN_STDIN_FROM_DEV_NULL);
    GPid pid = 0;
    GError *error = nullptr;
    g_mutex_lock(&tool_lock);
    const bool started =
        !aborted &&
        g_spawn_async_with_fds(dir, const_cast<gchar **>(argv), nullptr, flags, tool_child_setup,
                               GINT_TO_POINTER(getpid()), &pid, -1, out_fd, out_fd, &error);
    if (started) {
        // The child makes its own group too; whichever call comes first
        // wins, so the group exists before any kill. The second one may
        // fail (the child has already exec'd) and need not succeed.
        setpgid(pid, pid);
        running = pid;
    }
    g_mutex_unlock(&tool_lock);
    GErrorPtr owned(error);
    return started ? pid : 0;
}

} // namespace

int maintenance_tool_run(const char *const *argv, const char *dir, int limit_ms,
                         ToolLineFunc on_line, void *data, ToolLineFunc on_unfinished)
{
    int pipe_fds[2];
    if (argv == nullptr || argv[0] == nullptr || !g_unix_open_pipe(pipe_fds, FD_CLOEXEC, nullptr))
        return 0;
    const GPid pid = tool_start(argv, dir, pipe_fds[1]);
    close(pipe_fds[1]);
    if (pid == 0) {
        close(pipe_fds[0]);
        return 0;
    }
    g_unix_set_fd_nonblocking(pipe_fds[0], TRUE, nullptr);

    ToolOutput out{on_line, data, on_unfinished, {}, 0, false};
    bool reading = true;
    const gint64 deadline = g_get_monotonic_time() + gint64(std::max(limit_ms, 0)) * 1000;
    bool ended;
    while (!(ended = tool_wait_end(pid, g_get_monotonic_time()))) {
        const gint64 left_ms = (deadline - g_get_monotonic_time()) / 1000;
        if (left_ms <= 0)
            break;
        // Once the pipe is closed, poll() only sleeps.
        pollfd entry{pipe_fds[0], POLLIN, 0};
        poll(reading ? &entry : nullptr, reading ? 1 : 0,
             int(std::min<gint64>(left_ms, tool_poll_ms)));
        if (reading)
            reading = output_read(pipe_fds[0], out, tool_reads_per_look);
    }
    // Overdue: a tool stuck on a silent or vanished port never ends by
    // itself. End it and anything it started.
    if (!ended)
        tool_end_group(pid);
    g_mutex_lock(&tool_lock);
    running = 0;
    g_mutex_unlock(&tool_lock);
    const bool ok = tool_reap(pid);
    if (reading)
        output_read(pipe_fds[0], out, tool_reads_per_look);
    close(pipe_fds[0]);
    output_emit(out);
    return ended && ok ? 1 : 0;
}

void maintenance_tool_abort()
{
    g_mutex_lock(&tool_lock);
    aborted = true;
    if (running != 0)
        tool_end_group(running);
    g_mutex_unlock(&tool_lock);
}
