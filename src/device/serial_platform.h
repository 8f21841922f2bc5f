// The system's side of the serial link: opening, configuring and closing a
// port. serial_read() and serial_write() (serial.h) belong to it as well.
// Only the device module includes this header.
#pragma once

// Opens `name` as serial.h describes for serial_open(), takes it for
// exclusive use and sets the line. The descriptor, or -1 with nothing left
// open or changed.
int serial_platform_open(const char *name);

// Gives up exclusive use and closes `fd`.
void serial_platform_close(int fd);

// The descriptor of the open port, or -1 when no port is open.
int serial_current_handle();
