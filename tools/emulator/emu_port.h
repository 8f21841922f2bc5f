// The device's serial ports as pseudo-terminals.
//
// A port is a pty whose slave is reachable through a symlink that the client
// opens as its device. The emulator keeps a descriptor of the slave open for
// itself (the "keeper") and learns about the client's opens and closes from
// inotify events on the slave's device node:
// - a pty master cannot tell a closed-and-reopened slave from one that stayed
//   open, and a quick close + open would be missed by watching POLLHUP;
// - a client that set TIOCEXCL leaves the flag on the pty after it closed, so
//   a non-root client could never open the port again; the keeper clears it
//   after every session (and drops output the client left unread, which would
//   otherwise greet the next opener).
// Closing the port (port_destroy) makes the link and the slave vanish, which
// is how an unplugged USB device looks to the client.
//
// All waiting is done in emu_poll(), which a SIGTERM, SIGINT or SIGHUP
// interrupts at once; emu_stopping then reads 1 and every wait gives up.
#pragma once

#include <poll.h>

#include <csignal>
#include <cstddef>
#include <cstdint>
#include <string>

// Installs the signal handlers and blocks the signals outside emu_poll().
// Returns false if that fails.
bool emu_signals_setup();

// poll() that a stop signal interrupts (result -1 with EINTR, or 0 when
// a stop signal had come before); timeout_ms < 0 waits without limit.
int emu_poll(pollfd *fds, nfds_t count, int timeout_ms);

// Monotonic clock in milliseconds.
std::int64_t emu_now_ms();

// Sleeps `ms` milliseconds; false if a stop signal came first.
bool emu_sleep_ms(int ms);

struct EmuPort {
    int master = -1;      // our end of the line
    int keeper = -1;      // our own descriptor of the slave (see above)
    int watch = -1;       // the inotify descriptor, shared by all ports of the run
    int watch_id = -1;    // its watch on the slave's device node
    std::string slave;    // "/dev/pts/N"
    std::string link;     // the symlink the client opens
    int openers = 0;      // open descriptions of the slave besides the keeper
    unsigned session = 0; // counts the times the port went from unused to used
};

// Makes a new pty, sets its line raw and links its slave at `link` (an
// existing symlink there is replaced; any other file is left alone and the
// result is false). Errors are printed to stderr.
bool port_create(EmuPort &port, const std::string &link);

// Unplugs the port: removes the link (if it still points at our slave), its
// watch and closes its descriptors. Safe on a port that was never created.
void port_destroy(EmuPort &port);

// Reads the pending open/close events without waiting.
void port_update(EmuPort &port);

// True while the opener of `session` still has the port open.
bool port_session_alive(const EmuPort &port, unsigned session);

enum class PortWait {
    input,   // bytes can be read (even if the client has closed since sending them)
    timeout, // nothing within the time
    closed,  // the session's opener closed the port and nothing is left to read
    stop     // a stop signal came
};

// Waits up to `timeout_ms` (< 0: no limit) until somebody opens the port.
// Returns input when it is open (or a client that has already gone left
// bytes to read), timeout or stop otherwise.
PortWait port_wait_open(EmuPort &port, int timeout_ms);

// Waits up to `timeout_ms` for bytes from the opener of `session`.
PortWait port_wait_input(EmuPort &port, unsigned session, int timeout_ms);

// Waits `ms` milliseconds while the opener of `session` keeps the port open
// (its input stays unread); false as soon as it closed or a stop came.
bool port_hold(EmuPort &port, unsigned session, int ms);

// Waits up to `ms` milliseconds until nobody has the port open.
void port_wait_unused(EmuPort &port, int ms);

// Reads what is there, up to `size` bytes, without waiting; 0 when nothing.
std::size_t port_read(EmuPort &port, void *buffer, std::size_t size);

// Drops whatever input is waiting.
void port_discard_input(EmuPort &port);

// Writes all bytes for the opener of `session`. False if the session ended,
// the client read nothing for 2 s while the line was full, or a stop came.
bool port_write(EmuPort &port, unsigned session, const void *data, std::size_t size);
bool port_write(EmuPort &port, unsigned session, const std::string &text);
