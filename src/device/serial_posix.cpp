// The serial port on POSIX: open, line settings, and reads and writes with
// a deadline. All waiting is done with poll(): the port is non-blocking, so
// neither open() nor a read or write ever waits on its own.
#include "device/serial_platform.h"

#include "base/fd.h"

#include <glib.h>

#include <cerrno>
#include <string>

#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

namespace
{
// The system's calls unless a test replaced them; constant-initialised, so
// in place before any code runs.
SerialCloseCalls close_calls{tcflush, close};

int open_port(const char *path)
{
    return fd_retry([path] { return open(path, O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC); });
}

// Whether the port is free for us: nobody holds the lock, and nobody marked
// it for exclusive use (root could otherwise open a port that another program
// marked). Changes nothing on the port.
bool lock_port(int fd)
{
    if (fd_retry([fd] { return flock(fd, LOCK_EX | LOCK_NB); }) != 0)
        return false;
#ifdef TIOCGEXCL
    int marked = 0;
    if (ioctl(fd, TIOCGEXCL, &marked) == 0 && marked != 0)
        return false;
#endif
    return true;
}

bool set_attributes(int fd, const termios &settings)
{
    return fd_retry([fd, &settings] { return tcsetattr(fd, TCSANOW, &settings); }) == 0;
}

constexpr tcflag_t control_fields = CSIZE | PARENB | PARODD | CSTOPB | CRTSCTS | CLOCAL | CREAD
#ifdef CMSPAR
                                    | CMSPAR
#endif
    ;
constexpr tcflag_t control_values = CS8 | CLOCAL | CREAD;
constexpr tcflag_t input_flow_fields = IXON | IXOFF | IXANY;

// 921600 bit/s, 8 data bits, no parity, one stop bit, raw bytes both ways,
// no flow control. tcsetattr() succeeds when any part of the change took,
// so the result is read back.
bool set_line(int fd)
{
    termios settings;
    if (tcgetattr(fd, &settings) != 0)
        return false;
    cfmakeraw(&settings);
    settings.c_cflag = (settings.c_cflag & ~control_fields) | control_values;
    settings.c_iflag &= ~(input_flow_fields | INPCK | IGNPAR | PARMRK);
    settings.c_cc[VMIN] = 1;
    settings.c_cc[VTIME] = 0;
    if (cfsetspeed(&settings, B921600) != 0 || !set_attributes(fd, settings))
        return false;

    termios applied;
    if (tcgetattr(fd, &applied) != 0)
        return false;
    return (applied.c_cflag & control_fields) == control_values &&
           (applied.c_iflag & input_flow_fields) == 0 && cfgetospeed(&applied) == B921600 &&
           cfgetispeed(&applied) == B921600;
}

// Pseudo-terminals and some adapters have no modem lines.
bool raise_dtr_rts(int fd)
{
    const int lines = TIOCM_DTR | TIOCM_RTS;
    if (ioctl(fd, TIOCMBIS, &lines) == 0)
        return true;
    return errno == ENOTTY || errno == EINVAL;
}

gint64 deadline_after(int ms)
{
    return g_get_monotonic_time() + gint64{ms} * 1000;
}

// Milliseconds until `deadline`, rounded up so that a wait never ends early.
int ms_until(gint64 deadline)
{
    const gint64 left = deadline - g_get_monotonic_time();
    return left <= 0 ? 0 : static_cast<int>((left + 999) / 1000);
}

// poll() on one descriptor until an event or the deadline; the events seen,
// 0 when the deadline passed, -1 when poll() itself failed.
int wait_for(int fd, short events, gint64 deadline)
{
    pollfd entry{fd, events, 0};
    const int result = fd_retry([&entry, deadline] { return poll(&entry, 1, ms_until(deadline)); });
    return result > 0 ? entry.revents : result;
}

// A read that failed returns only at its deadline, so that a caller that
// repeats it (as the player does until told to stop) sleeps instead of
// spinning on a port that fails at once.
ssize_t fail_at(gint64 deadline)
{
    while (ms_until(deadline) > 0)
        poll(nullptr, 0, ms_until(deadline));
    return -1;
}
} // namespace

int serial_platform_open(const char *name, int *error)
{
    int fd = open_port(name);
    if (fd < 0 && name[0] != '/') {
        // The reason that names the port best: a name that is in neither
        // place is missing, otherwise the place that has it tells why.
        const int here = errno;
        fd = open_port((std::string("/dev/") + name).c_str());
        if (fd < 0 && errno == ENOENT)
            errno = here;
    }
    if (fd < 0) {
        *error = errno;
        return -1;
    }
    if (!lock_port(fd)) {
        close(fd);
        *error = EBUSY;
        return -1;
    }
    // The exclusive mark keeps out even programs that do not lock.
    errno = 0;
    if (ioctl(fd, TIOCEXCL) != 0 || !set_line(fd) || !raise_dtr_rts(fd)) {
        // A line setting that did not take leaves no errno of its own.
        *error = errno != 0 ? errno : EINVAL;
        serial_platform_close(fd);
        return -1;
    }
    return fd;
}

void serial_platform_close(int fd)
{
    // The exclusive mark stays on a terminal that outlives this descriptor
    // (a pseudo-terminal whose master is still open) and would lock out the
    // next opener; it is harmless to clear on a descriptor that never set it.
    ioctl(fd, TIOCNXCL);
    // What was not sent by now is not wanted any more; without this, close()
    // would wait for it to drain.
    close_calls.flush(fd, TCOFLUSH);
    // Not repeated on EINTR: on Linux the descriptor is gone either way.
    close_calls.close(fd);
}

SerialCloseCalls serial_platform_set_close_calls(const SerialCloseCalls &calls)
{
    const SerialCloseCalls before = close_calls;
    close_calls = calls;
    return before;
}

ssize_t serial_platform_read(int fd, void *buffer, size_t size, int step_ms)
{
    const gint64 deadline = deadline_after(step_ms);
    if (fd < 0)
        return fail_at(deadline);
    char *bytes = static_cast<char *>(buffer);
    size_t got = 0;
    while (got < size) {
        const int events = wait_for(fd, POLLIN, deadline);
        if (events == 0)
            break;
        if (events > 0 && (events & POLLIN) != 0) {
            // Bytes that arrived before a hang-up are still delivered.
            const ssize_t count = fd_retry([&] { return read(fd, bytes + got, size - got); });
            if (count > 0) {
                got += static_cast<size_t>(count);
                continue;
            }
            if (count < 0 && (errno == EAGAIN || errno == EWOULDBLOCK))
                continue;
        }
        // End of file, an error such as EIO, POLLHUP, POLLERR or POLLNVAL
        // without data, or a failing poll(): the device has gone. What came before is handed
        // over; the next read reports the failure.
        return got > 0 ? static_cast<ssize_t>(got) : fail_at(deadline);
    }
    return static_cast<ssize_t>(got);
}

ssize_t serial_platform_write(int fd, const void *buffer, size_t size, int step_ms)
{
    const gint64 deadline = deadline_after(step_ms);
    if (fd < 0)
        return -1;
    const char *bytes = static_cast<const char *>(buffer);
    size_t sent = 0;
    while (sent < size) {
        const int events = wait_for(fd, POLLOUT, deadline);
        if (events == 0)
            break;
        if (events < 0 || (events & (POLLERR | POLLHUP | POLLNVAL)) != 0)
            return -1;
        const ssize_t count = fd_retry([&] { return write(fd, bytes + sent, size - sent); });
        if (count > 0)
            sent += static_cast<size_t>(count);
        else if (count < 0 && errno != EAGAIN && errno != EWOULDBLOCK)
            return -1;
    }
    return static_cast<ssize_t>(sent);
}
