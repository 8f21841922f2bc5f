// File descriptors: the one owner that closes them, and the one retry of a
// system call that a signal interrupted. No toolkit.
#pragma once

#include <cerrno>

#include <unistd.h>

// A descriptor closed when it goes out of scope or is replaced; -1 holds
// none.
class UniqueFd
{
  public:
    UniqueFd() = default;
    explicit UniqueFd(int fd) : fd_(fd) {}
    ~UniqueFd() { reset(); }
    UniqueFd(const UniqueFd &) = delete;
    UniqueFd &operator=(const UniqueFd &) = delete;
    int get() const { return fd_; }
    explicit operator bool() const { return fd_ >= 0; }
    // Closes the one held (never retried: on Linux the descriptor is gone
    // even when close() reports EINTR) and takes `fd`.
    void reset(int fd = -1)
    {
        if (fd_ >= 0)
            close(fd_);
        fd_ = fd;
    }

  private:
    int fd_ = -1;
};

// Calls `call` again for as long as it fails with EINTR; its last result,
// with errno as it left it.
template <typename Call> auto fd_retry(Call call)
{
    auto result = call();
    while (result == -1 && errno == EINTR)
        result = call();
    return result;
}
