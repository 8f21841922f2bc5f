// The flashing tool's surroundings for the firmware update tests.
#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

// Writes "avrdude.conf" into `dir`: the system's /etc/avrdude.conf followed
// by a part with the id "ravelo" that inherits the ATmega32U4, so the
// client's fixed command line works unchanged with the installed avrdude.
// false when the system file cannot be read or the copy cannot be written.
bool avrdude_fixture_write(const std::string &dir);

// Writes an executable "avrdude" shell script into `dir` whose body is
// `script` (run by /bin/sh; "$@" are the tool's arguments).
bool avrdude_fixture_fake_tool(const std::string &dir, const std::string &script);

// Processes named "avrdude" that are children of this process (zombies
// included) or run in `dir`; empty when none is left behind.
std::vector<pid_t> avrdude_fixture_processes(const std::string &dir);

// The data bytes of an Intel HEX text, concatenated in record order.
std::vector<unsigned char> hex_data_bytes(const std::string &image);
