// The serial link to the device's console.
//
// One port is open at a time. A worker thread opens it, is its only user
// while it runs, and the UI thread closes it (completion callbacks, failed
// thread starts, quit). Every operation but serial_close() returns 1 for
// success and 0 for failure and shows nothing: callers choose the message.
#pragma once

#include <glib.h>
#include <sys/types.h>

// The open port's file descriptor; keeps its last value after closing,
// port_open says whether it is valid.
extern int port_handle;
// 1 from a successful serial_open() until serial_close(); under port_lock.
extern int port_open;
extern GMutex port_lock;

// The console prompt the device sends once the port is opened.
inline constexpr char serial_prompt[] = "\r\n> ";

// Opens `name` (then "/dev/" + name for a relative name) exclusively and
// sets 921600 8N1 raw, no flow control, DTR and RTS on. 0 when it cannot be
// opened or configured; nothing is left open then.
int serial_open(const char *name);

// Closes the port if it is open; safe to call at any time, any number of
// times.
void serial_close();

// Writes all `length` bytes. 0 on a failing write, or when nothing moves
// for 5 seconds.
int serial_write_all(const void *bytes, unsigned length);

// Reads until the newest bytes end in the prompt. 0 when a read fails or no
// prompt came within 5 seconds.
int serial_wait_prompt();

// Sends `command` and CR, then expects `command` CR LF echoed exactly.
// 0 on a mismatch, a failing read or write, or 5 silent seconds.
int serial_command(const char *command);

// One platform read: returns once `size` bytes have arrived, or 500 ms
// after it began with what has arrived (possibly 0). -1 when the port has
// failed (error, hang-up, end of file); a caller that repeats after -1 is
// not spinning, because a failed read still takes its 500 ms.
ssize_t serial_read(void *buffer, size_t size);

// One platform write: returns when all bytes are sent, or after 500 ms with
// the count sent (possibly 0). -1 on a failing write.
ssize_t serial_write(const void *buffer, size_t size);
