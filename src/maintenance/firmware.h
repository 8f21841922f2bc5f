// The firmware images the client flashes: the one a build may carry, and a
// file the user chooses, checked before the device is touched.
//
// A build carries an image only when it was given one
// (-DRAVELO_FIRMWARE_HEX, see firmware.cmake); the build checks it by the
// same rules as a chosen file. Either image is written byte for byte to
// "ravelo32u4.hex" in the tool's private folder for the tool to read.
#pragma once

#include <glib.h>

#include <cstdint>

#include <string>
#include <string_view>

// The image the build embedded, exactly as it was given; empty in a build
// given none. Any thread.
std::string_view maintenance_firmware_embedded();

// The file the flashing tool reads, relative to the folder it runs in.
inline constexpr char maintenance_firmware_file[] = "ravelo32u4.hex";

// Nothing larger is a firmware image: the device's flash holds 32 KB.
inline constexpr std::uint64_t maintenance_firmware_file_largest = std::uint64_t{1} << 20;

// Reads the file at `path` (bounded, without blocking) and checks it as a
// firmware image. True with *image holding its text; otherwise false with
// *why set to a translated log line that names the file, the line where it
// failed and the rule it broke (the caller frees it). UI thread.
bool maintenance_firmware_read(const char *path, std::string *image, gchar **why);

// The translated log line that describes an accepted image from `path`:
// its data range, byte count and SHA-256. The caller frees it.
gchar *maintenance_firmware_describe(const char *path, std::string_view image);

// Writes `image` whole to maintenance_firmware_file in the folder `dir`,
// replacing any file of that name. 1 when written, 0 otherwise (nothing of
// ours is left then).
int maintenance_firmware_write(const char *dir, std::string_view image);
