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

// Gives up exclusive use and closes `fd`.
void serial_platform_close(int fd);

// One read on `fd` as serial.h describes for serial_read(), waiting at most
// `step_ms`. A negative `fd` (no port) fails once `step_ms` are over.
ssize_t serial_platform_read(int fd, void *buffer, size_t size, int step_ms);

// One write on `fd` as serial.h describes for serial_write(), waiting at
// most `step_ms`. A negative `fd` fails at once.
ssize_t serial_platform_write(int fd, const void *buffer, size_t size, int step_ms);
