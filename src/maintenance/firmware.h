// The firmware image the client carries, and its file for the flashing tool.
//
// The image is the device's program as Intel HEX text, embedded by the build
// (see firmware.cmake). The client never parses it: it writes it whole to
// "ravelo32u4.hex" in the tool's private folder for the tool to read.
#pragma once

#include <glib.h>

// The image text, exactly as supplied to the build: no terminating NUL.
extern const char device_firmware_image[];
// Its length in bytes (22,661 for the device's image).
extern const gsize device_firmware_image_length;

// The file the flashing tool reads, relative to the folder it runs in.
inline constexpr char device_firmware_file[] = "ravelo32u4.hex";

// Writes the whole image to device_firmware_file in the folder `dir`,
// replacing any file of that name. 1 when written, 0 otherwise (nothing of
// ours is left then).
int device_firmware_write(const char *dir);
