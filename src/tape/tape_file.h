// Reading a tape file whole, for what the client and the command-line tools
// tell about it. The open never blocks (a FIFO or a device node is refused at
// once, not waited on), and memory stays bounded: nothing larger than any
// tape is read. No toolkit.
#pragma once

#include <cstdint>
#include <vector>

// Far beyond an hour of tape (about 4 MB): a larger file is no tape.
inline constexpr std::uint64_t tape_file_largest = std::uint64_t{256} << 20;

// Why a file was not read. `cannot_open` and `not_regular` mean that it is
// not a tape file at all (missing, no permission, a folder, a FIFO, a device
// node); `too_large` and `read_failed` that a regular file could not be
// taken whole.
enum class TapeFileProblem { none, cannot_open, not_regular, too_large, read_failed };

struct TapeFileResult {
    TapeFileProblem problem = TapeFileProblem::none;
    // The system's reason (an errno value) for cannot_open, read_failed and
    // a folder given as a tape (EISDIR); 0 otherwise.
    int error = 0;
};

// Reads the regular file at `path` into *bytes (replacing what it held).
// On any problem *bytes is left empty.
TapeFileResult tape_file_read(const char *path, std::vector<unsigned char> *bytes);

// Why the file was not read, in English for the command-line tools: the
// system's reason, "not a regular file" or "larger than any tape (256 MiB)";
// nullptr when it was read.
const char *tape_file_reason(const TapeFileResult &result);

// Whether the file is no tape file at all: the caller should not take it.
inline bool tape_file_refused(const TapeFileResult &result)
{
    return result.problem == TapeFileProblem::cannot_open ||
           result.problem == TapeFileProblem::not_regular;
}
