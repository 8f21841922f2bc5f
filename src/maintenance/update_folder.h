// The firmware update's private folder: where the flashing tool runs, with
// the image as "ravelo32u4.hex" and its "avrdude.conf". Made in the
// temporary folder as "ravelo-update-XXXXXX" before an update starts, held
// under an exclusive flock() while it runs (which tells other clients'
// start-up sweeps that it is in use), and removed with all it holds when
// the update ends or the program quits. UI thread, but for
// maintenance_folder_remove(), which any thread may call.
#pragma once

#include <string>
#include <string_view>

// The tool's configuration file in the folder, and in the working folder.
inline constexpr char maintenance_tool_config[] = "avrdude.conf";

// Makes and locks a new private folder and writes `image` and the tool's
// configuration into it: a copy of the working folder's own "avrdude.conf",
// or, when `system_config` is not empty, that file with the part "ravelo"
// (the device's ATmega32U4) added. The folder's path; empty when any step
// failed (nothing is left behind then).
std::string maintenance_folder_make(std::string_view image, const std::string &system_config);

// Removes the folder with whatever the tool left in it, and lets its lock
// go when it is the one maintenance_folder_make() made.
void maintenance_folder_release(const std::string &dir);

// Removes the folder with whatever it holds (links inside are removed, not
// followed); its lock stays. For a program that is ending.
void maintenance_folder_remove(const std::string &dir);

// Start-up: removes the private folders that clients ended by SIGKILL left
// in the temporary folder: each "ravelo-update-*" that is a real folder
// (not a symbolic link) of this user and whose lock can be taken, with what
// it holds. The folder of an update that runs in another client stays.
void maintenance_folder_sweep();
