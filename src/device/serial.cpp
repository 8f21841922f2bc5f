// The device console's exchanges and the one open port, built on the
// platform seam (serial_platform.h).
#include "device/serial.h"
#include "device/serial_platform.h"

#include <atomic>
#include <cstring>
#include <string>

namespace
{
// The open port; port_handle is valid while port_open is 1, both under
// port_lock.
int port_handle = -1;
int port_open = 0;
GMutex port_lock;

constexpr size_t prompt_length = sizeof serial_prompt - 1;
// serial_wait_prompt() and serial_command() keep no more than this.
constexpr size_t receive_buffer_size = 256;

// Written by the worker that opens, read by its completion.
std::atomic<int> open_error{0};

gint64 deadline_after(int ms)
{
    return g_get_monotonic_time() + gint64{ms} * 1000;
}

bool passed(gint64 deadline)
{
    return g_get_monotonic_time() >= deadline;
}

// Writes all of `bytes`, repeating partial and timed-out writes; gives up
// when nothing has moved for serial_give_up_ms.
int write_fully(const char *bytes, size_t length)
{
    size_t sent = 0;
    gint64 deadline = deadline_after(serial_give_up_ms);
    while (sent < length) {
        const ssize_t count = serial_write(bytes + sent, length - sent);
        if (count < 0)
            return 0;
        if (count > 0) {
            sent += static_cast<size_t>(count);
            deadline = deadline_after(serial_give_up_ms);
        } else if (passed(deadline)) {
            return 0;
        }
    }
    return 1;
}

// The descriptor of the open port, or -1 when no port is open.
int current_handle()
{
    g_mutex_lock(&port_lock);
    const int handle = port_open ? port_handle : -1;
    g_mutex_unlock(&port_lock);
    return handle;
}
} // namespace

bool serial_is_open()
{
    return current_handle() >= 0;
}

int serial_descriptor()
{
    return current_handle();
}

ssize_t serial_read(void *buffer, size_t size)
{
    return serial_platform_read(current_handle(), buffer, size, serial_step_ms);
}

ssize_t serial_write(const void *buffer, size_t size)
{
    return serial_platform_write(current_handle(), buffer, size, serial_step_ms);
}

int serial_open(const char *name)
{
    open_error.store(0);
    if (name == nullptr || current_handle() >= 0)
        return 0;
    int error = 0;
    const int fd = serial_platform_open(name, &error);
    if (fd < 0) {
        open_error.store(error);
        return 0;
    }
    g_mutex_lock(&port_lock);
    // Only one worker opens ports, so this cannot happen; if it ever did,
    // the port that was there first stays the one in use.
    const bool taken = port_open != 0;
    if (!taken) {
        port_handle = fd;
        port_open = 1;
    }
    g_mutex_unlock(&port_lock);
    if (taken) {
        serial_platform_close(fd);
        return 0;
    }
    return 1;
}

int serial_open_error()
{
    return open_error.load();
}

void serial_close()
{
    g_mutex_lock(&port_lock);
    if (port_open) {
        serial_platform_close(port_handle);
        port_open = 0;
    }
    g_mutex_unlock(&port_lock);
}

int serial_write_all(const void *bytes, unsigned length)
{
    if (bytes == nullptr && length > 0)
        return 0;
    return write_fully(static_cast<const char *>(bytes), length);
}

int serial_wait_prompt()
{
    char buffer[receive_buffer_size];
    size_t got = 0;
    const gint64 deadline = deadline_after(serial_give_up_ms);
    while (!passed(deadline)) {
        if (got == sizeof buffer) {
            // Keep the bytes that could begin a prompt split over this read
            // and the next one, so that a long banner does not hide it.
            std::memmove(buffer, buffer + got - (prompt_length - 1), prompt_length - 1);
            got = prompt_length - 1;
        }
        const ssize_t count = serial_read(buffer + got, sizeof buffer - got);
        if (count < 0)
            return 0;
        got += static_cast<size_t>(count);
        if (count > 0 && got >= prompt_length &&
            std::memcmp(buffer + got - prompt_length, serial_prompt, prompt_length) == 0)
            return 1;
    }
    return 0;
}

int serial_command(const char *command)
{
    if (command == nullptr)
        return 0;
    const std::string line = std::string(command) + "\r\n";
    // The device ends the echoed line itself; the LF is never sent.
    if (!write_fully(line.data(), line.size() - 1))
        return 0;
    if (line.size() > receive_buffer_size)
        return 0;

    char echo[receive_buffer_size];
    size_t got = 0;
    const gint64 deadline = deadline_after(serial_give_up_ms);
    while (got < line.size()) {
        if (passed(deadline))
            return 0;
        const ssize_t count = serial_read(echo + got, line.size() - got);
        if (count < 0)
            return 0;
        got += static_cast<size_t>(count);
    }
    return std::memcmp(echo, line.data(), line.size()) == 0 ? 1 : 0;
}
