#include "base/file_read.h"

#include "base/fd.h"

#include <algorithm>
#include <cerrno>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace
{

FileReadResult fail(FileReadProblem problem, int error, std::vector<unsigned char> *bytes)
{
    bytes->clear();
    bytes->shrink_to_fit();
    return {problem, error};
}

} // namespace

FileReadResult file_read_bounded(const char *path, std::uint64_t limit,
                                 std::vector<unsigned char> *bytes, FileReadLock lock)
{
    bytes->clear();
    const UniqueFd file(
        fd_retry([path] { return open(path, O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC); }));
    if (!file)
        return fail(FileReadProblem::cannot_open, errno, bytes);
    const int fd = file.get();
    if (lock == FileReadLock::unshared &&
        fd_retry([fd] { return flock(fd, LOCK_EX | LOCK_NB); }) != 0)
        return fail(FileReadProblem::cannot_open, errno, bytes);
    struct stat info;
    if (fstat(fd, &info) != 0)
        return fail(FileReadProblem::cannot_open, errno, bytes);
    if (S_ISDIR(info.st_mode))
        return fail(FileReadProblem::not_regular, EISDIR, bytes);
    if (!S_ISREG(info.st_mode))
        return fail(FileReadProblem::not_regular, 0, bytes);
    if (std::uint64_t(info.st_size) > limit)
        return fail(FileReadProblem::too_large, 0, bytes);

    // A file that grows while it is read is still cut at the limit: one byte
    // past it tells that it has become too large.
    bytes->resize(std::size_t(info.st_size) + 1);
    std::size_t got = 0;
    for (;;) {
        if (got == bytes->size()) {
            if (got > limit)
                return fail(FileReadProblem::too_large, 0, bytes);
            bytes->resize(std::size_t(std::min<std::uint64_t>(got * 2, limit + 1)));
        }
        const ssize_t count =
            fd_retry([&] { return read(fd, bytes->data() + got, bytes->size() - got); });
        if (count < 0)
            return fail(FileReadProblem::read_failed, errno, bytes);
        if (count == 0)
            break;
        got += std::size_t(count);
    }
    bytes->resize(got);
    return {};
}
