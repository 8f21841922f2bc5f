// The TAP file as the player reads it: the few file operations of a run,
// behind one seam.
//
// Every operation retries EINTR and shows nothing; the worker turns a
// failure into its ending message.
#pragma once

#include <glib.h>
#include <sys/types.h>

// Opens `path` for reading with no sharing: an exclusive advisory lock that
// another opener (in this process or another) cannot share. A tape is a
// regular file: a FIFO, a device node or a folder is refused at once, never
// waited on. Returns the descriptor, or -1 when the file cannot be opened,
// is not a regular file or is held by another opener (nothing is left open
// then).
int player_tap_open(const char *path);

// Stores the file's size in *size. 0 when it cannot be read, and for a file
// of 4 GiB or more, whose size does not fit 32 bits.
int player_tap_size(int fd, guint32 *size);

// Moves the file position to `offset` bytes from the start. 0 on failure.
int player_tap_seek(int fd, guint32 offset);

// One read of up to `size` bytes at the current position. Returns the count
// read (less than `size` only at the end of the file), or -1 on failure.
ssize_t player_tap_read(int fd, void *buffer, size_t size);

// Closes the descriptor, which also releases the lock. Safe to ignore: the
// file was only read.
void player_tap_close(int fd);
