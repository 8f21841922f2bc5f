#include "maintenance/firmware.h"

#include <glib/gstdio.h>

int device_firmware_write()
{
    // g_file_set_contents() writes a temporary file and renames it, so an
    // old file is replaced whole or not at all.
    return g_file_set_contents(device_firmware_file, device_firmware_image,
                               gssize(device_firmware_image_length), nullptr)
               ? 1
               : 0;
}

int device_firmware_delete()
{
    return g_unlink(device_firmware_file) == 0 ? 1 : 0;
}
