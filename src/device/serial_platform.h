// The system's side of the serial link: every system call on a port, behind
// one seam. It keeps no state: each call works on the descriptor and the
// time step it is given. Only the device module includes this header.
#pragma once

#include <sys/types.h>

// Opens `name` as serial.h describes for serial_open(), takes it for
// exclusive use and sets the line. The descriptor, or -1 with nothing left
// open or changed and *error set to the system's reason (an errno value;
// EBUSY when another program holds the port).
int serial_platform_open(const char *name, int *error);

// Gives up exclusive use, discards output not yet sent, and closes `fd`.
// Never waits: close() alone waits on a USB serial port until queued output
// has gone out, up to 30 s when the device stopped reading.
void serial_platform_close(int fd);

// The system calls with which serial_platform_close() discards and closes,
// in that order. Tests replace them to watch the order on a real port; the
// program never does.
struct SerialCloseCalls {
    int (*flush)(int fd, int queue); // tcflush()
    int (*close)(int fd);
};
// Test only: makes serial_platform_close() use `calls`; returns the calls it
// used before.
SerialCloseCalls serial_platform_set_close_calls(const SerialCloseCalls &calls);

// One read on `fd` as serial.h describes for serial_read(), waiting at most
// `step_ms`. A negative `fd` (no port) fails once `step_ms` are over.
ssize_t serial_platform_read(int fd, void *buffer, size_t size, int step_ms);

// One write on `fd` as serial.h describes for serial_write(), waiting at
// most `step_ms`. A negative `fd` fails at once.
ssize_t serial_platform_write(int fd, const void *buffer, size_t size, int step_ms);
