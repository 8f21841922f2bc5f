// Reading a small file whole, for files the user names: the open never
// blocks (a FIFO or a device node is refused at once, not waited on), and
// memory stays bounded by the caller's limit. No toolkit.
#pragma once

#include <cstdint>
#include <vector>

// Why a file was not read. `cannot_open` and `not_regular` mean that it is
// not a file of the kind asked for at all (missing, no permission, a folder,
// a FIFO, a device node); `too_large` and `read_failed` that a regular file
// could not be taken whole.
enum class FileReadProblem { none, cannot_open, not_regular, too_large, read_failed };

struct FileReadResult {
    FileReadProblem problem = FileReadProblem::none;
    // The system's reason (an errno value) for cannot_open, read_failed and
    // a folder (EISDIR); 0 otherwise.
    int error = 0;
};

// Whether the read shares the file: `unshared` takes an exclusive advisory
// lock for the read, and a file that another opener holds locked cannot be
// opened (EWOULDBLOCK).
enum class FileReadLock { shared, unshared };

// Reads the regular file at `path`, at most `limit` bytes, into *bytes
// (replacing what it held). On any problem *bytes is left empty; a file
// that grows past `limit` while it is read is too large.
FileReadResult file_read_bounded(const char *path, std::uint64_t limit,
                                 std::vector<unsigned char> *bytes,
                                 FileReadLock lock = FileReadLock::shared);

// Whether the file is not a file at all: the caller should not take it.
inline bool file_read_refused(const FileReadResult &result)
{
    return result.problem == FileReadProblem::cannot_open ||
           result.problem == FileReadProblem::not_regular;
}
