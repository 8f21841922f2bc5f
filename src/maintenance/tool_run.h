// Running the external flashing tool: the one place that starts, waits for
// and ends another program.
#pragma once

// Runs `command_line` and waits for it to end, at most `limit_ms`
// milliseconds. The line is split into words by the shell's quoting rules
// (no shell runs it); a program word without a slash is looked up on PATH.
// The program runs in the working directory with standard input, output
// and error on /dev/null (its output is never read), in a process group of
// its own. Past the limit the whole group is ended (SIGTERM, then SIGKILL
// a second later) and the program is reaped, so nothing is left behind.
//
// 1 when the program exited with status 0. 0 when the line cannot be split,
// the program cannot be started, it exited with another status or by a
// signal, or it ran past the limit. Worker threads only: it blocks.
int device_tool_run(const char *command_line, int limit_ms);
