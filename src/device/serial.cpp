#include "device/serial.h"

int port_handle = -1;
int port_open = 0;
GMutex port_lock;

int serial_open(const char *)
{
    return 0;
}
void serial_close() {}
int serial_write_all(const void *, unsigned)
{
    return 0;
}
int serial_wait_prompt()
{
    return 0;
}
int serial_command(const char *)
{
    return 0;
}
ssize_t serial_read(void *, size_t)
{
    return -1;
}
ssize_t serial_write(const void *, size_t)
{
    return -1;
}
