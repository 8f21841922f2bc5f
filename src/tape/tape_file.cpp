#include "tape/tape_file.h"

#include <algorithm>
#include <cerrno>
#include <cstring>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace
{

// Closes the descriptor when the read is over, whichever way it ends.
struct FileCloser {
    int fd;
    ~FileCloser() { close(fd); }
};

TapeFileResult fail(TapeFileProblem problem, int error, std::vector<unsigned char> *bytes)
{
    bytes->clear();
    bytes->shrink_to_fit();
    return {problem, error};
}

} // namespace

TapeFileResult tape_file_read(const char *path, std::vector<unsigned char> *bytes)
{
    bytes->clear();
    int fd;
    do
        fd = open(path, O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    while (fd < 0 && errno == EINTR);
    if (fd < 0)
        return fail(TapeFileProblem::cannot_open, errno, bytes);
    const FileCloser closer{fd};
    struct stat info;
    if (fstat(fd, &info) != 0)
        return fail(TapeFileProblem::cannot_open, errno, bytes);
    if (S_ISDIR(info.st_mode))
        return fail(TapeFileProblem::not_regular, EISDIR, bytes);
    if (!S_ISREG(info.st_mode))
        return fail(TapeFileProblem::not_regular, 0, bytes);
    if (std::uint64_t(info.st_size) > tape_file_largest)
        return fail(TapeFileProblem::too_large, 0, bytes);

    // A file that grows while it is read is still cut at the limit: one byte
    // past it tells that it has become too large.
    bytes->resize(std::size_t(info.st_size) + 1);
    std::size_t got = 0;
    for (;;) {
        if (got == bytes->size()) {
            if (got > tape_file_largest)
                return fail(TapeFileProblem::too_large, 0, bytes);
            bytes->resize(std::min<std::size_t>(got * 2, tape_file_largest + 1));
        }
        const ssize_t count = read(fd, bytes->data() + got, bytes->size() - got);
        if (count > 0)
            got += std::size_t(count);
        else if (count == 0)
            break;
        else if (errno != EINTR)
            return fail(TapeFileProblem::read_failed, errno, bytes);
    }
    bytes->resize(got);
    return {};
}

const char *tape_file_reason(const TapeFileResult &result)
{
    switch (result.problem) {
    case TapeFileProblem::none:
        return nullptr;
    case TapeFileProblem::not_regular:
        return result.error != 0 ? std::strerror(result.error) : "not a regular file";
    case TapeFileProblem::too_large:
        return "larger than any tape (256 MiB)";
    default:
        return std::strerror(result.error);
    }
}
