#include "player/tap_file.h"

#include <cerrno>
#include <cstdint>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

int player_tap_open(const char *path)
{
    if (path == nullptr)
        return -1;
    // Non-blocking, so that a FIFO does not wait here for a writer, and never
    // a controlling terminal; only a regular file is kept, and it is read in
    // the plain blocking way.
    int fd;
    do
        fd = open(path, O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    while (fd < 0 && errno == EINTR);
    if (fd < 0)
        return -1;
    struct stat st;
    int locked = -1;
    if (fstat(fd, &st) == 0 && S_ISREG(st.st_mode) &&
        fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) & ~O_NONBLOCK) == 0) {
        do
            locked = flock(fd, LOCK_EX | LOCK_NB);
        while (locked < 0 && errno == EINTR);
    }
    if (locked < 0) {
        close(fd);
        return -1;
    }
    return fd;
}

int player_tap_size(int fd, guint32 *size)
{
    struct stat st;
    if (fstat(fd, &st) < 0 || st.st_size < 0 || st.st_size > off_t(UINT32_MAX))
        return 0;
    *size = guint32(st.st_size);
    return 1;
}

int player_tap_seek(int fd, guint32 offset)
{
    return lseek(fd, off_t(offset), SEEK_SET) == off_t(offset) ? 1 : 0;
}

ssize_t player_tap_read(int fd, void *buffer, size_t size)
{
    ssize_t got;
    do
        got = read(fd, buffer, size);
    while (got < 0 && errno == EINTR);
    return got;
}

void player_tap_close(int fd)
{
    // The descriptor is gone even when close reports EINTR; never retry.
    close(fd);
}
