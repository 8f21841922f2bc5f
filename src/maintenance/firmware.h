// The firmware image the client carries, and its temporary file.
//
// The image is the device's program as Intel HEX text, embedded by the build
// (see firmware.cmake). The client never parses it: it writes it whole to
// "ravelo32u4.hex" in the working directory for the flashing tool to read,
// and removes that file when the update has ended.
#pragma once

#include <glib.h>

// The image text, exactly as supplied to the build: no terminating NUL.
extern const char device_firmware_image[];
// Its length in bytes (22,661 for the device's image).
extern const gsize device_firmware_image_length;

// The file the flashing tool reads, relative to the working directory.
inline constexpr char device_firmware_file[] = "ravelo32u4.hex";

// Writes the whole image to device_firmware_file, replacing any file of
// that name. 1 when written, 0 otherwise (nothing of ours is left then).
int device_firmware_write();

// Removes device_firmware_file. Safe to call when it does not exist; the
// result is of no use to callers and may be ignored.
int device_firmware_delete();
