// Reading a tape file whole, for what the client and the command-line tools
// tell about it: a bounded, non-blocking read (base/file_read.h) whose limit
// is larger than any tape. No toolkit.
#pragma once

#include "base/file_read.h"

#include <cstdint>
#include <vector>

// Far beyond an hour of tape (about 4 MB): a larger file is no tape.
inline constexpr std::uint64_t tape_file_largest = std::uint64_t{256} << 20;

using TapeFileProblem = FileReadProblem;
using TapeFileResult = FileReadResult;

// Reads the regular file at `path` into *bytes (replacing what it held).
// On any problem *bytes is left empty.
inline TapeFileResult tape_file_read(const char *path, std::vector<unsigned char> *bytes)
{
    return file_read_bounded(path, tape_file_largest, bytes);
}

// Why the file was not read, in the user's language, for the command-line
// tools: the system's reason, "not a regular file" or "larger than any tape
// (256 MiB)"; nullptr when it was read.
const char *tape_file_reason(const TapeFileResult &result);

// Whether the file is no tape file at all: the caller should not take it.
inline bool tape_file_refused(const TapeFileResult &result)
{
    return file_read_refused(result);
}
