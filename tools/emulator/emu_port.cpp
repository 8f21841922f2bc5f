#include "emu_port.h"

#include "base/fd.h"

#include "emu_options.h"

#include <fcntl.h>
#include <sys/inotify.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <vector>

namespace
{

// 1 once a signal asked the emulator to end.
volatile std::sig_atomic_t emu_stopping = 0;

// The signal mask that emu_poll() lets signals through with.
sigset_t unblocked_mask;

constexpr int write_stall_ms = 2000;

// The one inotify instance of the run; every port adds its watch to it.
// Closing an instance waits for a kernel grace period, which took over two
// seconds on a busy machine and held up the bootloader's port past the
// client's wait; removing a watch does not wait.
int watch_instance = -1;

void on_stop_signal(int)
{
    emu_stopping = 1;
}

void set_line_raw(int fd)
{
    termios tio{};
    if (tcgetattr(fd, &tio) != 0)
        return;
    cfmakeraw(&tio);
    tio.c_cflag |= CLOCAL | CREAD;
    tio.c_cflag &= ~(HUPCL | CRTSCTS);
    tio.c_cc[VMIN] = 1;
    tio.c_cc[VTIME] = 0;
    cfsetspeed(&tio, B921600);
    tcsetattr(fd, TCSANOW, &tio);
}

// The last opener went away: get the line ready for the next one.
void end_session(EmuPort &port)
{
    tcflush(port.keeper, TCIFLUSH);
    ioctl(port.keeper, TIOCNXCL);
    set_line_raw(port.keeper);
}

bool link_points_at(const std::string &link, const std::string &target)
{
    std::vector<char> buffer(PATH_MAX + 1);
    const ssize_t n = readlink(link.c_str(), buffer.data(), buffer.size() - 1);
    return n >= 0 && std::string(buffer.data(), static_cast<std::size_t>(n)) == target;
}

bool make_link(const std::string &target, const std::string &link)
{
    struct stat st {
    };
    if (lstat(link.c_str(), &st) == 0 && !S_ISLNK(st.st_mode)) {
        std::fprintf(stderr, "ravelo-emulator: %s exists and is not a symlink; not replacing it\n",
                     link.c_str());
        return false;
    }
    // Replace atomically, so the client never sees a half-made port.
    const std::string temporary = link + ".new-" + std::to_string(getpid());
    unlink(temporary.c_str());
    if (symlink(target.c_str(), temporary.c_str()) != 0) {
        std::fprintf(stderr, "ravelo-emulator: cannot make link %s: %s\n", link.c_str(),
                     std::strerror(errno));
        return false;
    }
    if (rename(temporary.c_str(), link.c_str()) != 0) {
        std::fprintf(stderr, "ravelo-emulator: cannot make link %s: %s\n", link.c_str(),
                     std::strerror(errno));
        unlink(temporary.c_str());
        return false;
    }
    return true;
}

} // namespace

bool emu_signals_setup()
{
    struct sigaction action {
    };
    action.sa_handler = on_stop_signal;
    sigemptyset(&action.sa_mask);
    sigset_t stop_signals;
    sigemptyset(&stop_signals);
    for (int sig : {SIGTERM, SIGINT, SIGHUP}) {
        if (sigaction(sig, &action, nullptr) != 0)
            return false;
        sigaddset(&stop_signals, sig);
    }
    signal(SIGPIPE, SIG_IGN);
    // Blocked everywhere but inside emu_poll(): a signal can then never slip
    // in between a check of emu_stopping and the wait that follows it.
    if (sigprocmask(SIG_BLOCK, &stop_signals, &unblocked_mask) != 0)
        return false;
    for (int sig : {SIGTERM, SIGINT, SIGHUP})
        sigdelset(&unblocked_mask, sig);
    return true;
}

int emu_poll(pollfd *fds, nfds_t count, int timeout_ms)
{
    if (emu_stopping)
        return 0;
    timespec timeout{};
    timeout.tv_sec = timeout_ms / 1000;
    timeout.tv_nsec = long(timeout_ms % 1000) * 1000000L;
    return ppoll(fds, count, timeout_ms < 0 ? nullptr : &timeout, &unblocked_mask);
}

std::int64_t emu_now_ms()
{
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return std::int64_t(now.tv_sec) * 1000 + now.tv_nsec / 1000000;
}

bool emu_sleep_ms(int ms)
{
    const std::int64_t deadline = emu_now_ms() + ms;
    for (;;) {
        if (emu_stopping)
            return false;
        const std::int64_t left = deadline - emu_now_ms();
        if (left <= 0)
            return true;
        emu_poll(nullptr, 0, static_cast<int>(left));
    }
}

bool port_create(EmuPort &port, const std::string &link)
{
    port = EmuPort{};
    port.link = link;
    port.master = posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (port.master < 0 || grantpt(port.master) != 0 || unlockpt(port.master) != 0) {
        std::fprintf(stderr, "ravelo-emulator: cannot make a pseudo-terminal: %s\n",
                     std::strerror(errno));
        port_destroy(port);
        return false;
    }
    char name[128];
    if (ptsname_r(port.master, name, sizeof name) != 0) {
        std::fprintf(stderr, "ravelo-emulator: no pty slave name: %s\n", std::strerror(errno));
        port_destroy(port);
        return false;
    }
    port.slave = name;
    port.keeper = open(name, O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (port.keeper < 0) {
        std::fprintf(stderr, "ravelo-emulator: cannot open %s: %s\n", name, std::strerror(errno));
        port_destroy(port);
        return false;
    }
    set_line_raw(port.keeper);
    // Watch only after the keeper is open: its own open is no client's.
    if (watch_instance < 0)
        watch_instance = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    port.watch = watch_instance;
    port.watch_id = port.watch < 0 ? -1 : inotify_add_watch(port.watch, name, IN_OPEN | IN_CLOSE);
    if (port.watch_id < 0) {
        std::fprintf(stderr, "ravelo-emulator: cannot watch %s: %s\n", name, std::strerror(errno));
        port_destroy(port);
        return false;
    }
    if (!make_link(port.slave, link)) {
        port_destroy(port);
        return false;
    }
    emu_log("port %s -> %s", link.c_str(), name);
    return true;
}

void port_destroy(EmuPort &port)
{
    if (!port.link.empty() && !port.slave.empty() && link_points_at(port.link, port.slave))
        unlink(port.link.c_str());
    if (port.watch_id >= 0)
        inotify_rm_watch(port.watch, port.watch_id);
    port.watch = -1;
    port.watch_id = -1;
    for (int *fd : {&port.keeper, &port.master}) {
        if (*fd >= 0)
            close(*fd);
        *fd = -1;
    }
    port.openers = 0;
    port.slave.clear();
}

void port_update(EmuPort &port)
{
    if (port.watch < 0)
        return;
    alignas(inotify_event) char buffer[4096];
    for (;;) {
        const ssize_t n = fd_retry([&] { return read(port.watch, buffer, sizeof buffer); });
        if (n <= 0)
            return;
        for (ssize_t at = 0; at < n;) {
            const auto *event = reinterpret_cast<const inotify_event *>(buffer + at);
            at += ssize_t(sizeof(inotify_event) + event->len);
            // Left over from a port that is gone.
            if (event->wd != port.watch_id)
                continue;
            if (event->mask & IN_OPEN) {
                if (++port.openers == 1) {
                    ++port.session;
                    emu_log("%s opened", port.link.c_str());
                }
            }
            if ((event->mask & IN_CLOSE) && port.openers > 0) {
                if (--port.openers == 0) {
                    emu_log("%s closed", port.link.c_str());
                    end_session(port);
                }
            }
        }
    }
}

bool port_session_alive(const EmuPort &port, unsigned session)
{
    return port.openers > 0 && port.session == session;
}

PortWait port_wait_open(EmuPort &port, int timeout_ms)
{
    const std::int64_t deadline = timeout_ms < 0 ? INT64_MAX : emu_now_ms() + timeout_ms;
    for (;;) {
        port_update(port);
        // Bytes of a client that opened, wrote and closed before we looked
        // are served too: the device would have received them.
        pollfd master{port.master, POLLIN, 0};
        if (port.openers > 0 || (poll(&master, 1, 0) > 0 && (master.revents & POLLIN)))
            return PortWait::input;
        if (emu_stopping)
            return PortWait::stop;
        const std::int64_t left = deadline - emu_now_ms();
        if (left <= 0)
            return PortWait::timeout;
        pollfd fd{port.watch, POLLIN, 0};
        emu_poll(&fd, 1, static_cast<int>(left > 60000 ? 60000 : left));
    }
}

PortWait port_wait_input(EmuPort &port, unsigned session, int timeout_ms)
{
    const std::int64_t deadline = timeout_ms < 0 ? INT64_MAX : emu_now_ms() + timeout_ms;
    for (;;) {
        port_update(port);
        pollfd fds[2] = {{port.master, POLLIN, 0}, {port.watch, POLLIN, 0}};
        // Input first: what the client sent before it closed still counts.
        if (poll(fds, 1, 0) > 0) {
            if (fds[0].revents & POLLIN)
                return PortWait::input;
            // Not expected while the keeper holds the slave, but a broken
            // line must end the session rather than make every wait spin.
            if (fds[0].revents & (POLLERR | POLLHUP | POLLNVAL))
                return PortWait::closed;
        }
        if (!port_session_alive(port, session))
            return PortWait::closed;
        if (emu_stopping)
            return PortWait::stop;
        const std::int64_t left = deadline - emu_now_ms();
        if (left <= 0)
            return PortWait::timeout;
        emu_poll(fds, 2, static_cast<int>(left > 60000 ? 60000 : left));
    }
}

bool port_hold(EmuPort &port, unsigned session, int ms)
{
    const std::int64_t deadline = emu_now_ms() + ms;
    for (;;) {
        port_update(port);
        if (!port_session_alive(port, session) || emu_stopping)
            return false;
        const std::int64_t left = deadline - emu_now_ms();
        if (left <= 0)
            return true;
        pollfd fd{port.watch, POLLIN, 0};
        emu_poll(&fd, 1, static_cast<int>(left));
    }
}

void port_wait_unused(EmuPort &port, int ms)
{
    const std::int64_t deadline = emu_now_ms() + ms;
    for (;;) {
        port_update(port);
        const std::int64_t left = deadline - emu_now_ms();
        if (port.openers == 0 || left <= 0 || emu_stopping)
            return;
        pollfd fd{port.watch, POLLIN, 0};
        emu_poll(&fd, 1, static_cast<int>(left));
    }
}

std::size_t port_read(EmuPort &port, void *buffer, std::size_t size)
{
    const ssize_t n = fd_retry([&] { return read(port.master, buffer, size); });
    return n > 0 ? static_cast<std::size_t>(n) : 0;
}

void port_discard_input(EmuPort &port)
{
    char buffer[256];
    while (port_read(port, buffer, sizeof buffer) > 0) {
    }
}

bool port_write(EmuPort &port, unsigned session, const void *data, std::size_t size)
{
    const auto *bytes = static_cast<const unsigned char *>(data);
    std::int64_t deadline = emu_now_ms() + write_stall_ms;
    while (size > 0) {
        port_update(port);
        if (!port_session_alive(port, session) || emu_stopping)
            return false;
        const ssize_t n = fd_retry([&] { return write(port.master, bytes, size); });
        if (n > 0) {
            bytes += n;
            size -= static_cast<std::size_t>(n);
            deadline = emu_now_ms() + write_stall_ms;
            continue;
        }
        if (n < 0 && errno != EAGAIN)
            return false;
        const std::int64_t left = deadline - emu_now_ms();
        if (left <= 0)
            return false;
        pollfd fds[2] = {{port.master, POLLOUT, 0}, {port.watch, POLLIN, 0}};
        emu_poll(fds, 2, static_cast<int>(left));
    }
    return true;
}

bool port_write(EmuPort &port, unsigned session, const std::string &text)
{
    return port_write(port, session, text.data(), text.size());
}
