#include "maintenance/firmware.h"

#include "base/glib_ptr.h"

int device_firmware_write(const char *dir)
{
    GCharPtr path(g_build_filename(dir, device_firmware_file, nullptr));
    // g_file_set_contents() writes a temporary file and renames it, so an
    // old file is replaced whole or not at all.
    return g_file_set_contents(path.get(), device_firmware_image,
                               gssize(device_firmware_image_length), nullptr)
               ? 1
               : 0;
}
