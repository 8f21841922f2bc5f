// The serial link to the device's console.
//
// One port is open at a time. A worker thread opens it, is its only user
// while it runs, and the UI thread closes it (completion callbacks, failed
// thread starts, quit). Every operation but serial_close() returns 1 for
// success and 0 for failure and shows nothing: callers choose the message.
//
// Calling order: serial_open(), serial_wait_prompt(), the exchanges
// (serial_command(), serial_write_all(), or serial_read()/serial_write()
// one step at a time), then serial_close() from the UI thread.
//
// No wait here is endless: a single read or write takes at most
// serial_step_ms, and the three exchanges give up on a silent device after
// serial_give_up_ms. A device that is unplugged or hung up makes reads fail,
// and a failed read still takes its full step, so no loop that repeats
// reads can spin.
#pragma once

#include <glib.h>
#include <sys/types.h>

// Whether a port is open: from a successful serial_open() until
// serial_close(). Any thread.
bool serial_is_open();
// The open port's file descriptor, for a look at its line settings; -1 when
// none is open. Any thread; the descriptor is valid only until the close.
int serial_descriptor();

// The console prompt the device sends once the port is opened.
inline constexpr char serial_prompt[] = "\r\n> ";

// How long one serial_read() or serial_write() waits at most.
inline constexpr int serial_step_ms = 500;
// How long serial_wait_prompt() and serial_command() wait for the device in
// all, and how long serial_write_all() waits while nothing moves.
inline constexpr int serial_give_up_ms = 5000;

// Opens `name` (then "/dev/" + name for a name that does not begin with
// "/") exclusively and sets 921600 8N1 raw, no flow control, DTR and RTS on.
// 0 when it cannot be opened or configured (another program holds the port,
// the name is not a terminal, ...); nothing is left open then and port_open
// stays 0. 0 as well while a port is already open: close it first.
int serial_open(const char *name);

// Why the last serial_open() failed: the system's reason as an errno value
// (EACCES, EBUSY when another program holds the port, ENOENT, ...), or 0
// after an open that succeeded or found a port already open. Read by the
// opening worker's completion on the UI thread, once the worker has handed
// over.
int serial_open_error();

// Closes the port if it is open; safe to call at any time, any number of
// times, from any thread.
void serial_close();

// Writes all `length` bytes. 0 on a failing write, or when nothing moves
// for serial_give_up_ms.
int serial_write_all(const void *bytes, unsigned length);

// Reads until the newest bytes end in the prompt; what comes before it (a
// banner of any length) is read and dropped. The prompt counts only when it
// ends what a read returned: followed by more bytes in the same read it is
// not recognised and the wait goes on. 0 when a read fails or no prompt came
// within serial_give_up_ms.
int serial_wait_prompt();

// Sends `command` and CR (never the LF), then expects `command` CR LF
// echoed exactly; what the device sends after the echo is left unread.
// 0 on a mismatch, a failing read or write, no complete echo within
// serial_give_up_ms, or a command longer than 254 bytes (its echoed line
// would not fit 256 bytes; it is sent all the same).
int serial_command(const char *command);

// One platform read: returns once `size` bytes have arrived, or
// serial_step_ms after it began with what has arrived (possibly 0). -1 when
// the port has failed (error, hang-up, end of file) or is not open; a read
// that fails still returns only when its serial_step_ms are over, so a
// caller that simply repeats after -1 is not spinning.
ssize_t serial_read(void *buffer, size_t size);

// One platform write: returns when all bytes are sent, or after
// serial_step_ms with the count sent (possibly 0). -1 at once on a failing
// write (hang-up, error) or when the port is not open.
ssize_t serial_write(const void *buffer, size_t size);
