// Running the external flashing tool: the one place that starts, waits for
// and ends another program.
#pragma once

#include <cstddef>

// Receives one line of the program's output, on the thread that runs it.
using ToolLineFunc = void (*)(const char *line, void *data);

// How output lines are condensed, so that a progress bar adds one line to
// the log rather than thousands: a run of '#' keeps this many (the tool's
// full bar), and a line that grows this long without ending is cut.
inline constexpr std::size_t tool_hash_run = 50;
inline constexpr std::size_t tool_line_max = 1000;

// Runs the program argv[0] with the arguments that follow it in the
// null-terminated `argv`, each passed on as one word exactly as given
// (nothing splits, quotes or expands them; no shell runs), in the folder
// `dir`, and waits for it to end, at most `limit_ms` milliseconds. A program
// word without a slash is looked up on PATH. Standard input is /dev/null.
// Standard output and error, merged in the order written, reach `on_line`
// line by line as they come (with nullptr they are dropped): each line
// without its end, as valid UTF-8, blank lines left out; a line redrawn with
// carriage returns gives only its last state, and runs of '#' and long
// lines are cut as above. Where a read leaves a line unfinished (a progress
// bar being drawn or redrawn), its state so far reaches `on_unfinished`, if
// given, cut the same way; the line still comes to `on_line` once it ends.
// The program runs in a process group of its own;
// past the limit the whole group is ended (SIGTERM, then SIGKILL a second
// later). The program is always reaped: nothing is left behind. Should this
// process die, even by SIGKILL, the kernel kills the program (not what it
// started).
//
// 1 when the program exited with status 0. 0 when it cannot be started,
// exited with another status or by a signal, ran past the limit, or
// maintenance_tool_abort() ended it or came before it. Blocks; for worker threads
// and for short queries on the UI thread.
int maintenance_tool_run(const char *const *argv, const char *dir, int limit_ms,
                         ToolLineFunc on_line, void *data, ToolLineFunc on_unfinished = nullptr);

// The program is ending: ends the process group of the program that runs
// now, if any (SIGTERM, then SIGKILL after a second's grace), and keeps any
// later maintenance_tool_run() from starting one. Any thread.
void maintenance_tool_abort();
