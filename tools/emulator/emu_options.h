// Command-line options of ravelo-emulator, parsed once at start and read by
// every part of the emulator afterwards.
#pragma once

#include <string>

struct EmuOptions {
    std::string link;            // symlink to the console port's pty slave
    std::string bootloader_link; // symlink to the bootloader port's pty slave
    std::string record;          // bytes received during playbacks go here ("" = none)
    std::string flash_out;       // flash dump after each bootloader session ("" = none)
    unsigned buffer = 256;       // playback buffer in bytes
    bool fast = false;           // no tape pacing
    double speed = 1.0;          // pace multiplier
    bool verbose = false;        // events on stderr
    bool computer = false;       // the model computer takes the pulses (no pacing)
    std::string computer_dump;   // with it: PRG files of what it loaded ("" = none)

    // Misbehaviour on request.
    bool no_prompt = false;
    int late_prompt_ms = 0;
    bool split_prompt = false;
    bool wrong_echo = false;
    bool noise = false;
    long fail_after = -1;   // data bytes, -1 = never
    long hangup_after = -1; // data bytes, -1 = never
    bool header_twice = false;
    bool bad_signature = false;
    long bootloader_vanish_after = -1; // flash pages, -1 = never
    int boot_delay_ms = 300;
    int bootloader_timeout_ms = 8000; // 0 = wait for the exit command forever
    int block_time_ms = 0;            // per flash block written or read
    int replug_delay_ms = 1000;
};

// The options that emu_parse_options() read; defaults before.
const EmuOptions &emu_options();

// Parses argv into the options. Returns 1 to go on, 0 when --help or
// --version was printed (exit 0), -1 on a wrong command line (told on stderr
// as cli_usage_error() tells it, exit 2).
int emu_parse_options(int argc, char **argv);

// Prints a line to stderr when --verbose is on.
void emu_log(const char *format, ...) __attribute__((format(printf, 1, 2)));
